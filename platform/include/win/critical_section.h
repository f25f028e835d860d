// Critical sections: re-entrant locks that a thread may enter repeatedly
// and leaves as often as it entered (included by win/core.h).
//
// A section lives in its record: an atomic lock word, the holder and a
// recursion count. Entering a free section is one compare-and-swap and
// leaving one entered once one exchange, both inline, so that the
// uncontended critical section costs no call. Entering again what the
// thread holds and waiting for another thread's turn (a short spin, then a
// sleep on a futex until the section is free) are calls into the platform,
// as is waking a sleeper, which happens only when one sleeps.
//
// Contract: the thread that entered leaves, as often as it entered; a
// thread may enter again what it holds; deleting a held section or leaving
// one not held is a fault of the caller.
//
// There is no shortcut for a process of one thread: the programs that take
// sections often run several threads, and a test for one thread would cost
// every uncontended entry and leave a load and a branch.
//
// ThreadSanitizer sees a section as a mutex: in a TSan build every
// operation is annotated (creation, lock, try-lock, unlock, destruction), so
// races on what it guards, lock-order inversions and unlocks of a section
// not held are reported as for any other mutex. Between an annotation's pre
// and post calls TSan ignores the section's own atomics and futex calls.
#pragma once

#include <pthread.h>

#include <cstdint>

#if defined(__SANITIZE_THREAD__)
#define HANDHELD_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define HANDHELD_TSAN 1
#endif
#endif
#ifdef HANDHELD_TSAN
#include <sanitizer/tsan_interface.h>
#endif

typedef struct _CRITICAL_SECTION {
  unsigned int state;      // the lock word (a futex word): free, held, or held with sleepers
  unsigned int recursion;  // entries by the holder beyond its first; written by the holder only
  uintptr_t owner;         // the holder's thread, 0 when free
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

void InitializeCriticalSection(LPCRITICAL_SECTION cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs);
// EnterCriticalSection and LeaveCriticalSection: below, inline.

namespace handheld::detail {

enum : unsigned int { kSectionFree = 0, kSectionHeld = 1, kSectionHeldWithSleepers = 2 };

// Out of line: enters again what this thread holds, or waits for its turn.
void EnterHeldSection(LPCRITICAL_SECTION cs);
// Out of line: wakes one thread that sleeps on the section.
void WakeSectionSleeper(LPCRITICAL_SECTION cs);

// The calling thread: its thread pointer, unique among running threads
// (what pthread_self answers, without the call).
inline uintptr_t SectionSelf() {
#if defined(__x86_64__) || defined(__aarch64__)
  return reinterpret_cast<uintptr_t>(__builtin_thread_pointer());
#else
  return static_cast<uintptr_t>(pthread_self());
#endif
}

// Takes the lock word when free; the holder is the caller's to set.
inline bool TakeSectionIfFree(LPCRITICAL_SECTION cs) {
  unsigned int expected = kSectionFree;
  return __atomic_compare_exchange_n(&cs->state, &expected, kSectionHeld, false, __ATOMIC_ACQUIRE,
                                     __ATOMIC_RELAXED);
}

}  // namespace handheld::detail

inline void EnterCriticalSection(LPCRITICAL_SECTION cs) {
  using namespace handheld::detail;
#ifdef HANDHELD_TSAN
  __tsan_mutex_pre_lock(cs, 0);
#endif
  if (TakeSectionIfFree(cs)) {  // the count of a free section is 0
    __atomic_store_n(&cs->owner, SectionSelf(), __ATOMIC_RELAXED);
  } else {
    EnterHeldSection(cs);
  }
#ifdef HANDHELD_TSAN
  __tsan_mutex_post_lock(cs, 0, 0);
#endif
}

inline void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
  using namespace handheld::detail;
#ifdef HANDHELD_TSAN
  __tsan_mutex_pre_unlock(cs, 0);
#endif
  if (cs->recursion != 0) {
    --cs->recursion;
  } else {
    __atomic_store_n(&cs->owner, 0, __ATOMIC_RELAXED);
    if (__atomic_exchange_n(&cs->state, kSectionFree, __ATOMIC_RELEASE) == kSectionHeldWithSleepers) {
      WakeSectionSleeper(cs);
    }
  }
#ifdef HANDHELD_TSAN
  __tsan_mutex_post_unlock(cs, 0);
#endif
}
