// The Reg* calls: argument checks and the caller's buffers around
// RegistryHive, with HKEY handles from RegistryKeyTable.
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "RegistryHive.h"
#include "RegistryKeyTable.h"
#include "Status.h"
#include "handheld.h"
#include "win/registry.h"

using handheld::detail::RegistryHive;
using handheld::detail::RegistryKeyTable;
using handheld::detail::RegistryResult;
using handheld::detail::Status;

namespace {

// Values larger than this are refused.
constexpr DWORD kMaxValueBytes = 16u << 20;

std::u16string_view View(LPCWSTR text) {
  return text ? std::u16string_view(text) : std::u16string_view();
}

void StoreFileTime(uint64_t time, PFILETIME out) {
  if (!out) return;
  out->dwLowDateTime = static_cast<DWORD>(time);
  out->dwHighDateTime = static_cast<DWORD>(time >> 32);
}

// Keys have no class: report an empty one.
void StoreEmptyClass(LPWSTR keyClass, LPDWORD classChars) {
  if (!classChars) return;
  if (keyClass && *classChars > 0) keyClass[0] = 0;
  *classChars = 0;
}

// Copies a name with its terminator into a buffer of *chars characters.
LONG StoreName(const std::u16string& name, LPWSTR buffer, LPDWORD chars) {
  if (name.size() + 1 > *chars) return ERROR_MORE_DATA;
  std::memcpy(buffer, name.data(), name.size() * sizeof(WCHAR));
  buffer[name.size()] = 0;
  *chars = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

// Value data out: with no buffer only the size; a buffer too small is left
// untouched and gets ERROR_MORE_DATA with the needed size.
LONG StoreData(const std::vector<BYTE>& data, LPBYTE buffer, LPDWORD bytes) {
  DWORD size = static_cast<DWORD>(data.size());
  if (!buffer) {
    if (bytes) *bytes = size;
    return ERROR_SUCCESS;
  }
  if (*bytes < size) {
    *bytes = size;
    return ERROR_MORE_DATA;
  }
  if (size) std::memcpy(buffer, data.data(), size);
  *bytes = size;
  return ERROR_SUCCESS;
}

}  // namespace

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;  // what a failed call leaves
  if (subKey && subKey[0] == u'\\') return ERROR_BAD_PATHNAME;
  RegistryKeyTable::Entry entry;
  if (Status status = RegistryKeyTable::Lookup(key, &entry); !status.ok()) return RegistryResult(status);
  int64_t id = 0;
  Status status = entry.hive->OpenKey(entry.key, View(subKey), &id);
  if (!status.ok()) return RegistryResult(status);
  *result = RegistryKeyTable::Add(entry.hive, id);
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM,
                     LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;  // what a failed call leaves
  if (subKey && subKey[0] == u'\\') return ERROR_BAD_PATHNAME;  // names no key
  RegistryKeyTable::Entry entry;
  if (Status status = RegistryKeyTable::Lookup(key, &entry); !status.ok()) return RegistryResult(status);
  int64_t id = 0;
  bool created = false;
  Status status = entry.hive->CreateKey(entry.key, View(subKey), &id, &created);
  if (!status.ok()) return RegistryResult(status);
  *result = RegistryKeyTable::Add(entry.hive, id);
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) { return RegistryResult(RegistryKeyTable::Remove(key)); }

LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD, LPDWORD type, LPBYTE data,
                      LPDWORD dataBytes) {
  if (data && !dataBytes) return ERROR_INVALID_PARAMETER;
  RegistryKeyTable::Entry entry;
  if (Status status = RegistryKeyTable::Lookup(key, &entry); !status.ok()) return RegistryResult(status);
  DWORD storedType = REG_NONE;
  std::vector<BYTE> stored;
  Status status = entry.hive->QueryValue(entry.key, View(valueName), &storedType, &stored);
  if (!status.ok()) return RegistryResult(status);
  if (type) *type = storedType;
  return StoreData(stored, data, dataBytes);
}

LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data,
                    DWORD dataBytes) {
  if (!data && dataBytes) return ERROR_NOACCESS;  // data that cannot be read
  if (dataBytes > kMaxValueBytes) return ERROR_INVALID_PARAMETER;
  RegistryKeyTable::Entry entry;
  if (Status status = RegistryKeyTable::Lookup(key, &entry); !status.ok()) return RegistryResult(status);
  return RegistryResult(entry.hive->SetValue(entry.key, View(valueName), type, data, dataBytes));
}

LONG RegDeleteValueW(HKEY key, LPCWSTR valueName) {
  RegistryKeyTable::Entry entry;
  if (Status status = RegistryKeyTable::Lookup(key, &entry); !status.ok()) return RegistryResult(status);
  return RegistryResult(entry.hive->DeleteValue(entry.key, View(valueName)));
}

LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  RegistryKeyTable::Entry entry;
  if (Status status = RegistryKeyTable::Lookup(key, &entry); !status.ok()) return RegistryResult(status);
  return RegistryResult(entry.hive->DeleteKey(entry.key, View(subKey)));
}

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameChars, LPDWORD,
                   LPWSTR keyClass, LPDWORD classChars, PFILETIME lastWrite) {
  if (!name || !nameChars) return ERROR_INVALID_PARAMETER;
  RegistryKeyTable::Entry entry;
  if (Status status = RegistryKeyTable::Lookup(key, &entry); !status.ok()) return RegistryResult(status);
  std::u16string found;
  uint64_t written = 0;
  Status status = entry.hive->EnumKey(entry.key, index, &found, &written);
  if (!status.ok()) return RegistryResult(status);
  if (LONG stored = StoreName(found, name, nameChars); stored != ERROR_SUCCESS) return stored;
  StoreEmptyClass(keyClass, classChars);
  StoreFileTime(written, lastWrite);
  return ERROR_SUCCESS;
}

LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameChars, LPDWORD, LPDWORD type,
                   LPBYTE data, LPDWORD dataBytes) {
  if (!name || !nameChars || (data && !dataBytes)) return ERROR_INVALID_PARAMETER;
  RegistryKeyTable::Entry entry;
  if (Status status = RegistryKeyTable::Lookup(key, &entry); !status.ok()) return RegistryResult(status);
  std::u16string found;
  DWORD storedType = REG_NONE;
  std::vector<BYTE> stored;
  Status status = entry.hive->EnumValue(entry.key, index, &found, &storedType, &stored);
  if (!status.ok()) return RegistryResult(status);
  if (found.size() + 1 > *nameChars) return ERROR_MORE_DATA;
  if (type) *type = storedType;
  if (LONG result = StoreData(stored, data, dataBytes); result != ERROR_SUCCESS) return result;
  return StoreName(found, name, nameChars);
}

LONG RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classChars, LPDWORD, LPDWORD subKeys,
                      LPDWORD maxSubKeyChars, LPDWORD maxClassChars, LPDWORD values,
                      LPDWORD maxValueNameChars, LPDWORD maxValueBytes,
                      LPDWORD securityDescriptor, PFILETIME lastWrite) {
  RegistryKeyTable::Entry entry;
  if (Status status = RegistryKeyTable::Lookup(key, &entry); !status.ok()) return RegistryResult(status);
  RegistryHive::KeyInfo info;
  Status status = entry.hive->QueryInfo(entry.key, &info);
  if (!status.ok()) return RegistryResult(status);
  StoreEmptyClass(keyClass, classChars);
  if (subKeys) *subKeys = info.subKeys;
  if (maxSubKeyChars) *maxSubKeyChars = info.maxSubKeyChars;
  if (maxClassChars) *maxClassChars = 0;
  if (values) *values = info.values;
  if (maxValueNameChars) *maxValueNameChars = info.maxValueNameChars;
  if (maxValueBytes) *maxValueBytes = info.maxValueBytes;
  if (securityDescriptor) *securityDescriptor = 0;
  StoreFileTime(info.lastWrite, lastWrite);
  return ERROR_SUCCESS;
}

LONG RegFlushKey(HKEY key) {
  // Every change is committed when its call returns; only check the key.
  RegistryKeyTable::Entry entry;
  if (Status status = RegistryKeyTable::Lookup(key, &entry); !status.ok()) return RegistryResult(status);
  return RegistryResult(entry.hive->CheckKey(entry.key));
}

namespace handheld {

bool CheckRegistryHive(std::string* reason) {
  std::shared_ptr<RegistryHive> hive = RegistryHive::Current();
  if (!hive) {
    *reason = RegistryHive::LastFailure();
    return false;
  }
  return hive->Usable(reason);
}

}  // namespace handheld
