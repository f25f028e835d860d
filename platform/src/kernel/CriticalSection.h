// A re-entrant lock built as the handheld's own critical section is: an
// atomic owner and a recursion count, entered with one compare-and-swap
// when free, spinning briefly when held, and sleeping on a futex only while
// another thread keeps it. Leaving wakes one sleeper, and only when one
// sleeps. The free paths are inline so that EnterCriticalSection and
// LeaveCriticalSection are one call each.
//
// Contract (as before): the thread that entered leaves, as often as it
// entered; a thread may enter again what it holds; deleting a held section
// or leaving one not held is a fault of the caller.
//
// In a process of one thread (glibc's __libc_single_threaded, cleared for
// good before a second thread starts) nobody can race for the section, so
// the free paths take and give it with plain loads and stores instead of
// locked instructions, as glibc's own locks do.
//
// ThreadSanitizer sees it as a mutex: in a TSan build every operation is
// annotated (creation, lock, try-lock, unlock, destruction), so races on
// what it guards, lock-order inversions and unlocks of a section not held
// are reported as for any other mutex. Between an annotation's pre and post
// calls TSan ignores the section's own atomics and futex calls.
#pragma once

#include <pthread.h>
#include <sys/single_threaded.h>

#include <atomic>
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

namespace handheld::detail {

class CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  // Free: taken at once, with no call. Held (by this thread or another):
  // EnterHeld, out of line, so that the free path needs no stack frame.
  void Enter() {
    Annotate(kPreLock);
    if (!EnterIfFree()) EnterHeld();
    Annotate(kPostLock);
  }

  bool TryEnter() {
    Annotate(kPreTryLock);
    const uintptr_t self = Self();
    bool entered = true;
    if (owner.load(std::memory_order_relaxed) == self) {
      ++recursion;
    } else if ((entered = TakeIfFree())) {
      owner.store(self, std::memory_order_relaxed);
      recursion = 1;
    }
    Annotate(entered ? kPostTryLock : kPostTryLockFailed);
    return entered;
  }

  void Leave() {
    Annotate(kPreUnlock);
    if (--recursion == 0) {
      owner.store(0, std::memory_order_relaxed);
      if (SingleThreaded()) {
        state.store(kFree, std::memory_order_relaxed);
      } else if (state.exchange(kFree, std::memory_order_release) == kHeldWithSleepers) WakeOne();
    }
    Annotate(kPostUnlock);
  }

 private:
  enum : uint32_t { kFree = 0, kHeld = 1, kHeldWithSleepers = 2 };
  enum Annotation { kPreLock, kPostLock, kPreTryLock, kPostTryLock, kPostTryLockFailed, kPreUnlock, kPostUnlock };

  // The calling thread: its thread pointer, unique among running threads
  // (what pthread_self answers, without the call).
  static uintptr_t Self() {
#if defined(__x86_64__) || defined(__aarch64__)
    return reinterpret_cast<uintptr_t>(__builtin_thread_pointer());
#else
    return static_cast<uintptr_t>(pthread_self());
#endif
  }

  static bool SingleThreaded() {
#ifdef HANDHELD_TSAN
    return false;  // every step seen by TSan as it is in a threaded process
#else
    return __libc_single_threaded != 0;
#endif
  }

  bool EnterIfFree() {
    if (!TakeIfFree()) return false;
    owner.store(Self(), std::memory_order_relaxed);
    recursion = 1;
    return true;
  }

  bool TakeIfFree() {
    if (SingleThreaded()) {  // no other thread to see the word change
      if (state.load(std::memory_order_relaxed) != kFree) return false;
      state.store(kHeld, std::memory_order_relaxed);
      return true;
    }
    uint32_t expected = kFree;
    return state.compare_exchange_strong(expected, kHeld, std::memory_order_acquire,
                                         std::memory_order_relaxed);
  }

  void EnterHeld();    // enters again what this thread holds, or waits for its turn
  void WaitForTurn();  // takes the section from another thread: spins, then sleeps
  void WakeOne();      // wakes one sleeper

#ifdef HANDHELD_TSAN
  void Annotate(Annotation step) {
    switch (step) {
      case kPreLock: __tsan_mutex_pre_lock(this, 0); break;
      case kPostLock: __tsan_mutex_post_lock(this, 0, 0); break;
      case kPreTryLock: __tsan_mutex_pre_lock(this, __tsan_mutex_try_lock); break;
      case kPostTryLock: __tsan_mutex_post_lock(this, __tsan_mutex_try_lock, 0); break;
      case kPostTryLockFailed:
        __tsan_mutex_post_lock(this, __tsan_mutex_try_lock | __tsan_mutex_try_lock_failed, 0);
        break;
      case kPreUnlock: __tsan_mutex_pre_unlock(this, 0); break;
      case kPostUnlock: __tsan_mutex_post_unlock(this, 0); break;
    }
  }
#else
  void Annotate(Annotation) {}
#endif

  std::atomic<uint32_t> state{kFree};  // the futex word
  std::atomic<uintptr_t> owner{0};     // the holder's thread, 0 when free
  uint32_t recursion = 0;              // written by the holder only
};

}  // namespace handheld::detail
