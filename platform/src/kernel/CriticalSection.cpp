#include "CriticalSection.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace handheld::detail {

namespace {

// Rounds of spinning before a thread that finds the section held sleeps.
const int kSpins = 64;

void Pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

int* FutexWord(std::atomic<uint32_t>* state) { return reinterpret_cast<int*>(state); }

}  // namespace

CriticalSection::CriticalSection() {
#ifdef HANDHELD_TSAN
  __tsan_mutex_create(this, __tsan_mutex_write_reentrant);
#endif
}

CriticalSection::~CriticalSection() {
#ifdef HANDHELD_TSAN
  __tsan_mutex_destroy(this, 0);
#endif
}

void CriticalSection::EnterHeld() {
  const uintptr_t self = Self();
  if (owner.load(std::memory_order_relaxed) == self) {
    ++recursion;
    return;
  }
  WaitForTurn();
  owner.store(self, std::memory_order_relaxed);
  recursion = 1;
}

// Spins a little while the holder is likely to leave soon, then marks the
// section as having sleepers and sleeps until it is free. A thread that
// takes it after sleeping keeps the mark, since others may still sleep; at
// worst one wake-up too many follows.
void CriticalSection::WaitForTurn() {
  for (int i = 0; i < kSpins; ++i) {
    Pause();
    if (state.load(std::memory_order_relaxed) == kFree && TakeIfFree()) return;
  }
  while (state.exchange(kHeldWithSleepers, std::memory_order_acquire) != kFree)
    syscall(SYS_futex, FutexWord(&state), FUTEX_WAIT_PRIVATE, kHeldWithSleepers, nullptr, nullptr, 0);
}

void CriticalSection::WakeOne() {
  syscall(SYS_futex, FutexWord(&state), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

}  // namespace handheld::detail
