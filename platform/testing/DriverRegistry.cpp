#include "testing/DriverRegistry.h"

#include "handheld.h"

namespace handheld::testing {
namespace {

bool SetText(HKEY key, const char16_t* name, const std::u16string& value) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * 2)) == ERROR_SUCCESS;
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

}  // namespace handheld::testing
