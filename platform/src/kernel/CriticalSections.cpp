// Critical sections: re-entrant locks that a thread may enter repeatedly
// and leaves as often as it entered (CriticalSection.h).
#include <new>

#include "CriticalSection.h"
#include "windows.h"

using handheld::detail::CriticalSection;

namespace {

CriticalSection& Section(LPCRITICAL_SECTION cs) { return *static_cast<CriticalSection*>(cs->impl); }

}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION cs) { cs->impl = new CriticalSection; }

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
  delete static_cast<CriticalSection*>(cs->impl);
  cs->impl = nullptr;
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) { Section(cs).Enter(); }

void LeaveCriticalSection(LPCRITICAL_SECTION cs) { Section(cs).Leave(); }

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) { return Section(cs).TryEnter() ? TRUE : FALSE; }
