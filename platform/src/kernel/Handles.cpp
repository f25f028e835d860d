// Closing handles of every kind of kernel object.
#include "HandleTable.h"
#include "Thread.h"
#include "win/core.h"

BOOL CloseHandle(HANDLE h) {
  // The current thread's pseudo handle needs no closing; closing it is harmless.
  if (h == handheld::detail::Thread::kCurrentThreadPseudoHandle) return TRUE;
  return handheld::detail::ReportStatus(handheld::detail::HandleTable::Remove(h));
}
