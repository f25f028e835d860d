// The last-error value, one per thread.
#include "Status.h"
#include "win/core.h"

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD code) { lastError = code; }

namespace handheld::detail {

BOOL ReportStatus(Status status) {
  if (status.ok()) return TRUE;
  SetLastError(status.code());
  return FALSE;
}

}  // namespace handheld::detail
