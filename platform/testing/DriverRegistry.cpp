#include "testing/DriverRegistry.h"

#include "handheld.h"

namespace handheld::testing {
namespace {

bool SetText(HKEY key, const char16_t* name, const std::u16string& value) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * 2)) == ERROR_SUCCESS;
}

std::u16string GetText(HKEY key, const char16_t* name) {
  WCHAR text[256] = {};
  DWORD bytes = sizeof text - sizeof(WCHAR);
  if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(text), &bytes) !=
      ERROR_SUCCESS)
    return {};
  return text;
}

DWORD GetDword(HKEY key, const char16_t* name) {
  DWORD value = 0, bytes = sizeof value;
  RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(&value), &bytes);
  return value;
}

}  // namespace

bool WriteDword(const std::u16string& path, const char16_t* name, DWORD value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, 0, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  bool ok = RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                           sizeof value) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

bool WriteDriverKey(const std::u16string& path, const DriverKey& driver) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, 0, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  bool ok = SetText(key, u"Dll", driver.dll) && SetText(key, u"Prefix", driver.prefix);
  if (ok && !driver.hostDevice.empty())
    ok = SetText(key, kHostDeviceValue, FromUtf8(driver.hostDevice));
  RegCloseKey(key);
  if (ok && driver.index >= 0) ok = WriteDword(path, u"Index", static_cast<DWORD>(driver.index));
  return ok;
}

std::vector<ActiveRecord> ActiveRecords() {
  std::vector<ActiveRecord> records;
  HKEY active = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\Active", 0, 0, &active) != ERROR_SUCCESS)
    return records;
  for (DWORD i = 0;; ++i) {
    WCHAR name[64];
    DWORD chars = 64;
    if (RegEnumKeyExW(active, i, name, &chars, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    HKEY entry = nullptr;
    if (RegOpenKeyExW(active, name, 0, 0, &entry) != ERROR_SUCCESS) continue;
    ActiveRecord record;
    record.subkey = name;
    record.key = GetText(entry, u"Key");
    record.name = GetText(entry, u"Name");
    record.hnd = GetDword(entry, u"Hnd");
    record.clientInfo = GetDword(entry, u"ClientInfo");
    RegCloseKey(entry);
    records.push_back(record);
  }
  RegCloseKey(active);
  return records;
}

}  // namespace handheld::testing
