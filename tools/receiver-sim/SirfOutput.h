// The receiver's SiRF binary output messages and their framing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "SkyModel.h"

class SirfOutput {
 public:
  // A0 A2, length, payload, 15-bit checksum, B0 B3.
  static std::vector<uint8_t> Frame(const std::vector<uint8_t>& payload);
  static uint16_t Checksum(const std::vector<uint8_t>& payload);

  static std::vector<uint8_t> NavData(const SkyModel& sky);       // message 2, 41 bytes
  static std::vector<uint8_t> TrackerData(const SkyModel& sky);   // message 4, 188 bytes
  // Message 6: the text padded with NULs to the 80 characters receivers send.
  static std::vector<uint8_t> Version(const std::string& text);
  static constexpr size_t kVersionChars = 80;
  static std::vector<uint8_t> GeodeticNav(const SkyModel& sky);   // message 41, 91 bytes
  static std::vector<uint8_t> Ack(uint8_t messageId);             // message 11
  static std::vector<uint8_t> Nack(uint8_t messageId);            // message 12
  // Message 19 from the 64 parameter bytes that follow its id.
  static std::vector<uint8_t> NavParams(const std::vector<uint8_t>& parameters);
  // Message 43 for the polled message id with the parameter bytes.
  static std::vector<uint8_t> CommandParams(uint8_t polledId, const std::vector<uint8_t>& parameters);

  static void Put16(std::vector<uint8_t>& out, uint16_t value);
  static void Put32(std::vector<uint8_t>& out, uint32_t value);
};
