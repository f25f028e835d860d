// Reads a capture file into the byte stream a receiver sends: "#" comment
// lines at packet boundaries are skipped, NMEA lines get back the CR that the
// capture dropped before their LF, SiRF binary frames stay as they are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CaptureReader {
 public:
  static bool Load(const std::string& path, std::vector<uint8_t>& stream, std::string& error);
  static std::vector<uint8_t> Prepare(const std::vector<uint8_t>& file);
};
