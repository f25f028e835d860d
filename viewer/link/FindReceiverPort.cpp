#include "FindReceiverPort.h"

namespace {

const WCHAR kActiveKey[] = TEXT("Drivers\\Active");
const WCHAR kNotFound[] = TEXT("COM1:");
const WCHAR kSleeveKey[] = TEXT("Drivers\\Tessiv\\0100");
const WCHAR kMakerId[] = TEXT("DOVRIN");

const DWORD kSubkeyChars = 256;
// Room for "Drivers\Active\" and the longest subkey name enumeration gives.
const DWORD kPathChars = 16 + kSubkeyChars;
// "Key" and "PnpId" are read with this limit; a longer value is unreadable.
const DWORD kValueBytes = 256;
// "Name" goes through a local buffer of this size before it reaches the
// caller's, so that a failed read leaves the caller's text as it was.
const DWORD kNameChars = 256;

// Copies `text` into a buffer of `bufferBytes` bytes, cut short if needed
// and always terminated when there is room for the terminator.
void PutText(LPWSTR buffer, DWORD bufferBytes, LPCWSTR text) {
  DWORD chars = bufferBytes / sizeof(WCHAR);
  if (buffer == nullptr || chars == 0) return;
  lstrcpyn(buffer, text, static_cast<int>(chars));
}

// Reads a text value of at most `limitBytes` bytes into `text`, which holds
// limitBytes / 2 + 1 characters; the result is always terminated.
bool ReadText(HKEY key, LPCWSTR valueName, LPWSTR text, DWORD limitBytes) {
  DWORD type = 0;
  DWORD size = limitBytes;
  if (RegQueryValueEx(key, valueName, NULL, &type, reinterpret_cast<LPBYTE>(text), &size) !=
      ERROR_SUCCESS)
    return false;
  if (size > limitBytes) size = limitBytes;
  text[size / sizeof(WCHAR)] = 0;
  return true;
}

// Reads "Name" with the caller's size limit. It fits only if the text and
// its terminator fit the caller's buffer; only then is the buffer written.
bool ReadName(HKEY key, LPWSTR portText, DWORD bufferBytes) {
  if (portText == nullptr) return false;
  WCHAR name[kNameChars + 1];
  DWORD limit = bufferBytes < kNameChars * sizeof(WCHAR) ? bufferBytes : kNameChars * sizeof(WCHAR);
  if (!ReadText(key, TEXT("Name"), name, limit)) return false;
  DWORD needed = (static_cast<DWORD>(lstrlen(name)) + 1) * sizeof(WCHAR);
  if (needed > bufferBytes) return false;
  lstrcpy(portText, name);
  return true;
}

}  // namespace

BOOL FindReceiverPort(LPWSTR portText, DWORD bufferBytes) {
  PutText(portText, bufferBytes, kNotFound);

  HKEY active = NULL;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kActiveKey, 0, KEY_ALL_ACCESS, &active) != ERROR_SUCCESS)
    return FALSE;

  BOOL found = FALSE;
  for (DWORD index = 0; !found; ++index) {
    WCHAR subkey[kSubkeyChars];
    DWORD subkeyChars = kSubkeyChars;
    if (RegEnumKeyEx(active, index, subkey, &subkeyChars, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
      break;
    subkey[kSubkeyChars - 1] = 0;

    WCHAR path[kPathChars];
    wsprintf(path, TEXT("%s\\%s"), kActiveKey, subkey);
    HKEY driver = NULL;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &driver) != ERROR_SUCCESS)
      continue;

    WCHAR value[kValueBytes / sizeof(WCHAR) + 1];
    if (ReadText(driver, TEXT("Key"), value, kValueBytes)) {
      if (wcsstr(value, kSleeveKey) != nullptr) {
        found = ReadName(driver, portText, bufferBytes) ? TRUE : FALSE;
      } else if (ReadText(driver, TEXT("PnpId"), value, kValueBytes) &&
                 wcsstr(value, kMakerId) != nullptr) {
        found = ReadName(driver, portText, bufferBytes) ? TRUE : FALSE;
      }
    }
    RegCloseKey(driver);
  }

  RegCloseKey(active);
  return found;
}
