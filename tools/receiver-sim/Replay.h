// Sends a capture on the line: by default one reporting cycle at a time at
// the capture's own pace, or as one burst at the line rate, one pass after
// the other. It starts when the other side first opens the line.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ReplayCycles.h"
#include "SerialLine.h"

class Replay {
 public:
  using Clock = std::chrono::steady_clock;

  Replay(const std::vector<uint8_t>& stream, bool burst, bool loop,
         std::function<void(const std::string&)> log);

  // Queues what is due; answers milliseconds until something more is due,
  // -1 when nothing ever will be.
  int Step(SerialLine& line, Clock::time_point now);

 private:
  int StepBurst(SerialLine& line);
  int StepPaced(SerialLine& line, Clock::time_point now);
  void NotePass();

  std::vector<ReplayCycle> cycles_;
  size_t totalBytes_ = 0;
  bool burst_;
  bool loop_;
  std::function<void(const std::string&)> log_;
  bool started_ = false;
  bool done_ = false;
  int passes_ = 0;
  size_t next_ = 0;  // the cycle due next
  Clock::time_point nextAt_{};
};
