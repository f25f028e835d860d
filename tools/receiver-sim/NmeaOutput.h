// The receiver's NMEA 0183 output sentences, built from the sky model.
// Bodies are the text between "$" and "*"; Frame adds the rest.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "SkyModel.h"

class NmeaOutput {
 public:
  static uint8_t Checksum(const std::string& body);
  // "$" body ["*" two upper-case hex digits] CR LF.
  static std::string Frame(const std::string& body, bool withChecksum = true);

  static std::string Gga(const SkyModel& sky);
  static std::string Gll(const SkyModel& sky);
  static std::string Gsa(const SkyModel& sky);
  // One body per four satellites (at least one).
  static std::vector<std::string> Gsv(const SkyModel& sky);
  static std::string Rmc(const SkyModel& sky);
  static std::string Vtg(const SkyModel& sky);
  static std::string Zda(const SkyModel& sky);
  // Software version answer.
  static std::string Swv(int number, const std::string& text);
};
