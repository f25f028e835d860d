// The receiver's SiRF binary input side: frames A0 A2, length, payload,
// 15-bit checksum, B0 B3, taken by their length field.
#pragma once

#include <cstdint>
#include <vector>

class SirfInput {
 public:
  enum class Result { None, Frame, BadFrame };

  // Feeds one byte; on Frame, `payload` holds the message (id first).
  Result OnByte(uint8_t byte, std::vector<uint8_t>& payload);
  void Reset();

  static constexpr uint16_t kMaxPayload = 1023;

 private:
  enum class State { Hunt, Start2, LengthHigh, LengthLow, Payload, CheckHigh, CheckLow, End1, End2 };
  State state_ = State::Hunt;
  uint16_t length_ = 0;
  uint16_t check_ = 0;
  std::vector<uint8_t> payload_;
};
