// Cuts a capture's byte stream into its reporting cycles, so that a replay
// goes out as the receiver sent it: one cycle, then the next when its time
// has come. A cycle begins with the first sentence or frame whose time
// differs from the time of the cycle before (NMEA: GGA, RMC, ZDA, GLL;
// SiRF binary: messages 2, 4 and 41).
#pragma once

#include <cstdint>
#include <vector>

struct ReplayCycle {
  std::vector<uint8_t> bytes;
  double secondsAfterPrevious = 0;  // 0 for the first cycle
};

class ReplayCycles {
 public:
  // A capture without times is one cycle. The gap between two cycles is the
  // difference of their times when that is above 0 and at most 10 s, else 1 s.
  static std::vector<ReplayCycle> Split(const std::vector<uint8_t>& stream);
};
