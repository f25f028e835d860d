// Card-detect registrations under "Drivers\PCMCIA\Detect", the device
// manager's active driver records, and tables of registry values.
#include "Ferrix.h"

namespace {

constexpr WCHAR kDetectKey[] = TEXT("Drivers\\PCMCIA\\Detect");
constexpr WCHAR kActiveKey[] = TEXT("Drivers\\Active");
constexpr DWORD kFirstDetectNumber = 40;
constexpr DWORD kLastDetectNumber = 98;

// Subkey names of up to 3 characters; "Dll" and "Entry" of up to 63.
constexpr DWORD kDetectNameChars = 4;
constexpr DWORD kDetectValueBytes = 128;
// Subkey names of up to 7 characters; "Key" of up to 255.
constexpr DWORD kActiveNameChars = 8;
constexpr DWORD kActiveKeyBytes = 512;

DWORD StringBytes(LPCWSTR text) { return (static_cast<DWORD>(lstrlenW(text)) + 1) * sizeof(WCHAR); }

// Reads a string value of at most `bytes` bytes into `buffer`, which has
// room for one more character, so the text always ends within it even when
// the stored value lacks its terminator.
bool ReadString(HKEY key, LPCWSTR name, WCHAR* buffer, DWORD bytes) {
  DWORD size = bytes;
  if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size) !=
      ERROR_SUCCESS)
    return false;
  buffer[size / sizeof(WCHAR)] = 0;
  return true;
}

// Looks through the subkeys of the open detect key for (dll, entry); the
// subkey that holds it is named in `name`.
bool FindRegistration(HKEY detect, LPCWSTR dll, LPCWSTR entry, WCHAR (&name)[kDetectNameChars]) {
  for (DWORD index = 0;; ++index) {
    DWORD chars = kDetectNameChars;
    if (RegEnumKeyExW(detect, index, name, &chars, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      return false;
    HKEY sub = nullptr;
    if (RegOpenKeyExW(detect, name, 0, 0, &sub) != ERROR_SUCCESS) continue;
    WCHAR storedDll[kDetectValueBytes / sizeof(WCHAR) + 1];
    WCHAR storedEntry[kDetectValueBytes / sizeof(WCHAR) + 1];
    bool found = ReadString(sub, TEXT("Dll"), storedDll, kDetectValueBytes) &&
                 ReadString(sub, TEXT("Entry"), storedEntry, kDetectValueBytes) &&
                 lstrcmpiW(storedDll, dll) == 0 && lstrcmpW(storedEntry, entry) == 0;
    RegCloseKey(sub);
    if (found) return true;
  }
}

LONG SetString(HKEY key, LPCWSTR name, LPCWSTR text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        StringBytes(text));
}

DWORD MultiStringBytes(LPCWSTR text) {
  DWORD chars = 0;
  for (LPCWSTR s = text; *s; s += lstrlenW(s) + 1) chars += static_cast<DWORD>(lstrlenW(s)) + 1;
  return (chars + 1) * sizeof(WCHAR);
}

}  // namespace

extern "C" {

DWORD AddDetectKey(LPCWSTR dll, LPCWSTR entry) {
  HKEY detect = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDetectKey, 0, 0, &detect) != ERROR_SUCCESS) return 0;
  WCHAR name[kDetectNameChars];
  if (FindRegistration(detect, dll, entry, name)) {
    RegCloseKey(detect);
    return 1;
  }
  // Only a subkey that this call created is written, so no registration,
  // not even one being made by another process, is overwritten. When every
  // number is taken nothing was added, which is a failure.
  bool added = false;
  for (DWORD number = kFirstDetectNumber; number <= kLastDetectNumber; ++number) {
    WCHAR subName[16];
    wsprintfW(subName, TEXT("%02d"), number);
    HKEY sub = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExW(detect, subName, 0, nullptr, 0, 0, nullptr, &sub, &disposition) !=
        ERROR_SUCCESS)
      continue;
    if (disposition != REG_CREATED_NEW_KEY) {
      RegCloseKey(sub);
      continue;
    }
    added = SetString(sub, TEXT("Dll"), dll) == ERROR_SUCCESS &&
            SetString(sub, TEXT("Entry"), entry) == ERROR_SUCCESS;
    RegCloseKey(sub);
    if (!added) RegDeleteKeyW(detect, subName);
    break;
  }
  RegCloseKey(detect);
  return added ? 1 : 0;
}

DWORD RemoveDetectKey(LPCWSTR dll, LPCWSTR entry) {
  HKEY detect = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDetectKey, 0, 0, &detect) != ERROR_SUCCESS) return 0;
  WCHAR name[kDetectNameChars];
  if (FindRegistration(detect, dll, entry, name)) RegDeleteKeyW(detect, name);
  RegCloseKey(detect);
  return 1;
}

DWORD AddKeyValues(HKEY parent, LPCWSTR subKey, const KeyValueEntry* table) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExW(parent, subKey, 0, nullptr, 0, 0, nullptr, &key, &disposition) !=
      ERROR_SUCCESS)
    return 0;
  for (const KeyValueEntry* row = table; row && row->name; ++row) {
    const BYTE* data = nullptr;
    DWORD bytes = 0;
    DWORD number = static_cast<DWORD>(row->data);
    LPCWSTR text = reinterpret_cast<LPCWSTR>(row->data);
    if (row->type == REG_SZ && text) {
      data = reinterpret_cast<const BYTE*>(text);
      bytes = StringBytes(text);
    } else if (row->type == REG_MULTI_SZ && text) {
      data = reinterpret_cast<const BYTE*>(text);
      bytes = MultiStringBytes(text);
    } else if (row->type == REG_DWORD) {
      data = reinterpret_cast<const BYTE*>(&number);
      bytes = sizeof(number);
    }
    // A row of another type, or without its text, cannot be written.
    if (!data || RegSetValueExW(key, row->name, 0, row->type, data, bytes) != ERROR_SUCCESS) {
      RegCloseKey(key);
      if (disposition == REG_CREATED_NEW_KEY) RegDeleteKeyW(parent, subKey);
      return 0;
    }
  }
  RegCloseKey(key);
  return 1;
}

DWORD GetDriversActiveHandle(LPCWSTR keyPath) {
  HKEY active = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kActiveKey, 0, 0, &active) != ERROR_SUCCESS) return 0;
  HKEY driver = nullptr;
  for (DWORD index = 0; !driver; ++index) {
    WCHAR name[kActiveNameChars];
    DWORD chars = kActiveNameChars;
    if (RegEnumKeyExW(active, index, name, &chars, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      RegCloseKey(active);
      return 0;
    }
    HKEY sub = nullptr;
    if (RegOpenKeyExW(active, name, 0, 0, &sub) != ERROR_SUCCESS) continue;
    WCHAR key[kActiveKeyBytes / sizeof(WCHAR) + 1];
    if (ReadString(sub, TEXT("Key"), key, kActiveKeyBytes) && lstrcmpiW(key, keyPath) == 0)
      driver = sub;
    else
      RegCloseKey(sub);
  }
  DWORD handle = 0;
  DWORD bytes = sizeof(handle);
  LONG status =
      RegQueryValueExW(driver, TEXT("Hnd"), nullptr, nullptr, reinterpret_cast<LPBYTE>(&handle), &bytes);
  RegCloseKey(driver);
  RegCloseKey(active);
  return status == ERROR_SUCCESS ? handle : 0;
}

}  // extern "C"
