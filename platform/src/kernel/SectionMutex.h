// A lock for the platform's own short sections that a thread takes once per
// byte or so: a critical section under the names std::lock_guard uses, so
// that taking it free is one compare-and-swap inline and leaving it one
// exchange, where a std::mutex costs two calls into the C library.
// Not re-entered by the platform's own code, though a critical section
// would allow it.
#pragma once

#include "win/core.h"

namespace handheld::detail {

class SectionMutex {
 public:
  SectionMutex() { InitializeCriticalSection(&section_); }
  ~SectionMutex() { DeleteCriticalSection(&section_); }
  SectionMutex(const SectionMutex&) = delete;
  SectionMutex& operator=(const SectionMutex&) = delete;

  void lock() { EnterCriticalSection(&section_); }
  void unlock() { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

}  // namespace handheld::detail
