#include "Replay.h"

#include <algorithm>

Replay::Replay(const std::vector<uint8_t>& stream, bool burst, bool loop,
               std::function<void(const std::string&)> log)
    : cycles_(burst ? std::vector<ReplayCycle>{{stream, 0}} : ReplayCycles::Split(stream)),
      totalBytes_(stream.size()),
      burst_(burst),
      loop_(loop),
      log_(std::move(log)) {}

void Replay::NotePass() {
  ++passes_;
  log_("replay pass " + std::to_string(passes_) + ", " + std::to_string(totalBytes_) + " bytes in " +
       std::to_string(cycles_.size()) + (burst_ ? " burst" : " cycles"));
}

int Replay::Step(SerialLine& line, Clock::time_point now) {
  if (done_) return -1;
  if (!started_) {
    // A pseudo-terminal nobody has opened yet: look again shortly.
    if (!line.HasListener()) return 20;
    started_ = true;
    nextAt_ = now;
  }
  return burst_ ? StepBurst(line) : StepPaced(line, now);
}

int Replay::StepBurst(SerialLine& line) {
  // The next pass follows the last byte of this one.
  if (line.Queued() > 0) return 2;
  if (passes_ > 0 && !loop_) {
    done_ = true;
    log_("replay finished");
    return -1;
  }
  NotePass();
  line.Send(cycles_[0].bytes);
  return 2;
}

int Replay::StepPaced(SerialLine& line, Clock::time_point now) {
  while (now >= nextAt_) {
    if (next_ == cycles_.size()) {
      if (!loop_) {
        done_ = true;
        log_("replay finished");
        return -1;
      }
      next_ = 0;
    }
    if (next_ == 0) NotePass();
    line.Send(cycles_[next_].bytes);
    ++next_;
    // A pass starts over one second after the last cycle of the one before.
    double gap = next_ < cycles_.size() ? cycles_[next_].secondsAfterPrevious : 1.0;
    const auto wait = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(gap));
    nextAt_ += wait;
    // After a stall the next cycle waits its gap from now: no burst of the
    // missed ones.
    if (nextAt_ <= now) nextAt_ = now + wait;
  }
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(nextAt_ - now).count();
  return static_cast<int>(std::clamp<long long>(ms, 1, 1000));
}
