#include "RegKey.h"

RegKey::RegKey() : key(NULL) {}

RegKey::~RegKey() { Close(); }

LONG RegKey::Close() {
  if (!key) return ERROR_SUCCESS;
  LONG status = RegCloseKey(key);
  key = NULL;
  return status;
}

LONG RegKey::Open(HKEY root, LPCWSTR path, REGSAM access) {
  HKEY opened = NULL;
  LONG status = RegOpenKeyExW(root, path, 0, access, &opened);
  if (status != ERROR_SUCCESS) return status;
  status = Close();
  key = opened;
  return status;
}

LONG RegKey::ReadDword(LPCWSTR name, DWORD* value) {
  DWORD type = REG_NONE;
  DWORD bytes = sizeof(DWORD);
  return RegQueryValueExW(key, name, NULL, &type, reinterpret_cast<LPBYTE>(value), &bytes);
}

LONG RegKey::ReadValue(LPCWSTR name, void* buffer, DWORD* bytes) {
  DWORD type = REG_NONE;
  return RegQueryValueExW(key, name, NULL, &type, static_cast<LPBYTE>(buffer), bytes);
}

LONG RegKey::WriteDword(LPCWSTR name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof(DWORD));
}

LONG RegKey::WriteString(LPCWSTR name, LPCWSTR text) {
  DWORD bytes = static_cast<DWORD>((lstrlenW(text) + 1) * sizeof(WCHAR));
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
}
