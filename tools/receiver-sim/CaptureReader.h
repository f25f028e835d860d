// Reads a capture file into the byte stream a receiver sends, through the
// shared capture filter: "#" comment lines skipped, the CR that NMEA lines
// lost restored before their LF, SiRF binary frames unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CaptureReader {
 public:
  static bool Load(const std::string& path, std::vector<uint8_t>& stream, std::string& error);
};
