#include "ActiveDrivers.h"

namespace {

const WCHAR kActiveKey[] = TEXT("Drivers\\Active");
const DWORD kSubkeyChars = 256;
// Room for "Drivers\Active\" and the longest subkey name enumeration gives.
const DWORD kPathChars = 16 + kSubkeyChars;

}  // namespace

bool ActiveDrivers::ReadText(HKEY key, LPCWSTR valueName, LPWSTR text, DWORD limitBytes) {
  DWORD type = 0;
  DWORD size = limitBytes;
  if (RegQueryValueEx(key, valueName, NULL, &type, reinterpret_cast<LPBYTE>(text), &size) !=
      ERROR_SUCCESS)
    return false;
  if (size > limitBytes) size = limitBytes;
  text[size / sizeof(WCHAR)] = 0;
  return true;
}

bool ActiveDrivers::Walk(Visitor visit, void* context) {
  HKEY active = NULL;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kActiveKey, 0, KEY_ALL_ACCESS, &active) != ERROR_SUCCESS)
    return false;

  bool done = false;
  for (DWORD index = 0; !done; ++index) {
    WCHAR subkey[kSubkeyChars];
    DWORD subkeyChars = kSubkeyChars;
    if (RegEnumKeyEx(active, index, subkey, &subkeyChars, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
      break;
    subkey[kSubkeyChars - 1] = 0;

    WCHAR path[kPathChars];
    wsprintf(path, TEXT("%s\\%s"), kActiveKey, subkey);
    HKEY entry = NULL;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &entry) != ERROR_SUCCESS)
      continue;
    WCHAR keyText[kValueChars];
    if (ReadText(entry, TEXT("Key"), keyText, kValueBytes)) done = visit(entry, keyText, context);
    RegCloseKey(entry);
  }

  RegCloseKey(active);
  return done;
}
