// What a SiRF receiver sends in one second at its default 1 Hz NMEA output:
// GGA, GSA, three GSV and RMC, twelve satellites in view and in use.
#pragma once

#include <cstdint>
#include <vector>

class SirfSecond {
 public:
  // The second `second` of the stream (the time and position move on).
  explicit SirfSecond(unsigned second = 0);

  const std::vector<uint8_t>& Bytes() const { return bytes; }
  unsigned Sentences() const { return sentences; }

 private:
  std::vector<uint8_t> bytes;
  unsigned sentences = 0;
};
