// The driver kit's calls, which desktop Windows cannot honour: each fails
// with ERROR_NOT_SUPPORTED.
#include <windows.h>

namespace {

template <class T>
T NotSupported(T result) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return result;
}

}  // namespace

BOOL WINAPI KernelIoControl(DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD) {
  return NotSupported(FALSE);
}

BOOL WINAPI VirtualCopy(LPVOID, LPVOID, DWORD, DWORD) { return NotSupported(FALSE); }

HANDLE WINAPI ActivateDeviceEx(LPCWSTR, const REGINI*, DWORD, LPVOID) {
  return NotSupported(HANDLE{});
}

HANDLE WINAPI ActivateDevice(LPCWSTR, DWORD) { return NotSupported(HANDLE{}); }

BOOL WINAPI DeactivateDevice(HANDLE) { return NotSupported(FALSE); }

BOOL WINAPI CeSetThreadPriority(HANDLE, int) { return NotSupported(FALSE); }
