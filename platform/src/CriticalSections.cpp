// Critical sections: re-entrant locks that a thread may enter repeatedly
// and leaves as often as it entered.
#include <mutex>

#include "windows.h"

namespace {

std::recursive_mutex& Lock(LPCRITICAL_SECTION cs) {
  return *static_cast<std::recursive_mutex*>(cs->impl);
}

}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION cs) { cs->impl = new std::recursive_mutex; }

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
  delete static_cast<std::recursive_mutex*>(cs->impl);
  cs->impl = nullptr;
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) { Lock(cs).lock(); }

void LeaveCriticalSection(LPCRITICAL_SECTION cs) { Lock(cs).unlock(); }

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) { return Lock(cs).try_lock() ? TRUE : FALSE; }
