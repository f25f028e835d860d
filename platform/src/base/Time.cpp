// The tick count and sleeping.
#include <chrono>
#include <thread>

#include "windows.h"

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point PlatformStart() {
  static const Clock::time_point start = Clock::now();
  return start;
}

// Fixes the start when the program loads, not at the first call.
[[maybe_unused]] const Clock::time_point startAtLoad = PlatformStart();

}  // namespace

DWORD GetTickCount() {
  auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - PlatformStart());
  // Wraps to 0 after 2^32 ms (49.7 days), as on the handheld.
  return static_cast<DWORD>(static_cast<uint64_t>(elapsed.count()));
}

void Sleep(DWORD ms) {
  if (ms == 0) {
    std::this_thread::yield();
    return;
  }
  if (ms == INFINITE) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
