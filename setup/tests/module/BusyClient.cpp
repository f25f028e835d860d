// A client driver for the installer plug-in's tests: a stream driver with
// the prefix "COM" that refuses to be deinitialized (it is in use) while its
// key's value "Busy" is nonzero.
#include <windows.h>

extern "C" {

DWORD COM_Init(LPCWSTR, LPCVOID) { return 1; }

BOOL COM_Deinit(DWORD) {
  DWORD busy = 0, bytes = sizeof busy;
  HKEY key = NULL;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\Tessiv\\0100\\0001", 0, 0, &key) ==
      ERROR_SUCCESS) {
    RegQueryValueExW(key, u"Busy", NULL, NULL, reinterpret_cast<LPBYTE>(&busy), &bytes);
    RegCloseKey(key);
  }
  return busy == 0;
}

}  // extern "C"
