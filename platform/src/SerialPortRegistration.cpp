// Lists a host serial device as a COM port the way a loaded serial driver
// is listed: its driver key names the host device, and an entry under
// "Drivers\Active" points at that key.
#include <cstdio>
#include <string>

#include "handheld.h"

namespace handheld {
namespace {

LONG SetString(HKEY key, const char16_t* name, const std::u16string& text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
}

}  // namespace

std::u16string RegisterSerialPort(const std::u16string& portName, const std::u16string& driverKey,
                                  const std::string& hostDevice) {
  HKEY driver = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, driverKey.c_str(), 0, nullptr, 0, 0, nullptr, &driver,
                      &disposition) != ERROR_SUCCESS)
    return {};
  LONG status = SetString(driver, kHostDeviceValue, FromUtf8(hostDevice));
  RegCloseKey(driver);
  if (status != ERROR_SUCCESS) return {};

  HKEY active = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\Active", 0, nullptr, 0, 0, nullptr, &active,
                      &disposition) != ERROR_SUCCESS)
    return {};
  // The first free number: a subkey that this call did not create belongs
  // to someone else (another process may be adding one at the same moment).
  std::u16string entryName;
  for (int number = 1; number < 10000000 && entryName.empty(); ++number) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", number);
    std::u16string name = FromUtf8(text);
    HKEY entry = nullptr;
    if (RegCreateKeyExW(active, name.c_str(), 0, nullptr, 0, 0, nullptr, &entry, &disposition) !=
        ERROR_SUCCESS)
      break;
    if (disposition == REG_CREATED_NEW_KEY) {
      bool written = SetString(entry, u"Key", driverKey) == ERROR_SUCCESS &&
                     SetString(entry, u"Name", portName) == ERROR_SUCCESS;
      RegCloseKey(entry);
      if (written) {
        entryName = name;
      } else {
        RegDeleteKeyW(active, name.c_str());
        break;
      }
    } else {
      RegCloseKey(entry);
    }
  }
  RegCloseKey(active);
  return entryName;
}

}  // namespace handheld
