// Critical sections: the paths that are not inline (win/critical_section.h):
// creation and deletion, the try, entering again what the thread holds,
// waiting for another thread's turn and waking a sleeper.
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "windows.h"

namespace handheld::detail {

namespace {

// Rounds of spinning before a thread that finds the section held sleeps.
const int kSpins = 64;

void Pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

int* FutexWord(LPCRITICAL_SECTION cs) { return reinterpret_cast<int*>(&cs->state); }

// Spins a little while the holder is likely to leave soon, then marks the
// section as having sleepers and sleeps until it is free. A thread that
// takes it after sleeping keeps the mark, since others may still sleep; at
// worst one wake-up too many follows.
void WaitForTurn(LPCRITICAL_SECTION cs) {
  for (int i = 0; i < kSpins; ++i) {
    Pause();
    if (__atomic_load_n(&cs->state, __ATOMIC_RELAXED) == kSectionFree && TakeSectionIfFree(cs)) return;
  }
  while (__atomic_exchange_n(&cs->state, kSectionHeldWithSleepers, __ATOMIC_ACQUIRE) != kSectionFree)
    syscall(SYS_futex, FutexWord(cs), FUTEX_WAIT_PRIVATE, kSectionHeldWithSleepers, nullptr, nullptr, 0);
}

}  // namespace

void EnterHeldSection(LPCRITICAL_SECTION cs) {
  const uintptr_t self = SectionSelf();
  if (__atomic_load_n(&cs->owner, __ATOMIC_RELAXED) == self) {
    ++cs->recursion;
    return;
  }
  WaitForTurn(cs);
  __atomic_store_n(&cs->owner, self, __ATOMIC_RELAXED);
  cs->recursion = 0;
}

void WakeSectionSleeper(LPCRITICAL_SECTION cs) {
  syscall(SYS_futex, FutexWord(cs), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

}  // namespace handheld::detail

using namespace handheld::detail;

void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
  cs->state = kSectionFree;
  cs->recursion = 0;
  cs->owner = 0;
#ifdef HANDHELD_TSAN
  __tsan_mutex_create(cs, __tsan_mutex_write_reentrant);
#endif
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
#ifdef HANDHELD_TSAN
  __tsan_mutex_destroy(cs, 0);
#else
  static_cast<void>(cs);
#endif
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
#ifdef HANDHELD_TSAN
  __tsan_mutex_pre_lock(cs, __tsan_mutex_try_lock);
#endif
  const uintptr_t self = SectionSelf();
  bool entered = true;
  if (__atomic_load_n(&cs->owner, __ATOMIC_RELAXED) == self) {
    ++cs->recursion;
  } else if ((entered = TakeSectionIfFree(cs))) {
    __atomic_store_n(&cs->owner, self, __ATOMIC_RELAXED);
    cs->recursion = 0;
  }
#ifdef HANDHELD_TSAN
  __tsan_mutex_post_lock(cs, entered ? __tsan_mutex_try_lock : __tsan_mutex_try_lock | __tsan_mutex_try_lock_failed, 0);
#endif
  return entered ? TRUE : FALSE;
}
