// A client driver for the installer plug-in's tests: a stream driver with
// the prefix "COM" whose Init lasts while its key's value "Starting" is
// nonzero, and that refuses to be deinitialized (it is in use) while its
// key's value "Busy" is nonzero, or for a context that Init did not give.
#include <windows.h>

namespace {

DWORD KeyValue(LPCWSTR name) {
  DWORD value = 0, bytes = sizeof value;
  HKEY key = NULL;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\Tessiv\\0100\\0001", 0, 0, &key) ==
      ERROR_SUCCESS) {
    RegQueryValueExW(key, name, NULL, NULL, reinterpret_cast<LPBYTE>(&value), &bytes);
    RegCloseKey(key);
  }
  return value;
}

}  // namespace

extern "C" {

DWORD COM_Init(LPCWSTR, LPCVOID) {
  while (KeyValue(u"Starting")) Sleep(10);
  return 1;
}

BOOL COM_Deinit(DWORD context) { return context == 1 && KeyValue(u"Busy") == 0; }

}  // extern "C"
