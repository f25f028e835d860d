#pragma once

#include <windows.h>

// Holds a critical section from construction to the end of the scope, so
// that every way out of the scope leaves it.
class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CRITICAL_SECTION* section) : section(section) {
    EnterCriticalSection(section);
  }
  ~CriticalSectionLock() { LeaveCriticalSection(section); }

  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CRITICAL_SECTION* section;
};
