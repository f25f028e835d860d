#include "HostSerialDriver.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "NameFold.h"
#include "SerialPort.h"
#include "Trace.h"
#include "handheld.h"

namespace handheld::detail {
namespace {

constexpr const char16_t* kActiveKey = u"Drivers\\Active";

bool ReadString(HKEY key, LPCWSTR value, std::u16string* out) {
  std::vector<WCHAR> buffer(512);
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD type = REG_NONE;
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(WCHAR));
    LONG rc = RegQueryValueExW(key, value, nullptr, &type,
                               reinterpret_cast<LPBYTE>(buffer.data()), &bytes);
    if (rc == ERROR_MORE_DATA && bytes < (1u << 20)) {
      buffer.resize(bytes / sizeof(WCHAR) + 1);
      continue;
    }
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    size_t chars = std::min<size_t>(bytes / sizeof(WCHAR), buffer.size());
    out->assign(buffer.data(), chars);
    while (!out->empty() && out->back() == u'\0') out->pop_back();
    size_t nul = out->find(u'\0');
    if (nul != std::u16string::npos) out->resize(nul);
    return true;
  }
  return false;
}

LONG SetString(HKEY key, const char16_t* name, const std::u16string& text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
}

// Finds the active entry named `name`; true with its driver key.
bool FindActiveEntry(const std::u16string& name, std::u16string* driverKey) {
  HKEY active = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kActiveKey, 0, 0, &active) != ERROR_SUCCESS) return false;
  bool found = false;
  for (DWORD index = 0; !found; ++index) {
    WCHAR subName[256];
    DWORD chars = 256;
    LONG rc = RegEnumKeyExW(active, index, subName, &chars, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc != ERROR_SUCCESS) break;
    HKEY entry = nullptr;
    if (RegOpenKeyExW(active, subName, 0, 0, &entry) != ERROR_SUCCESS) continue;
    std::u16string entryName;
    if (ReadString(entry, u"Name", &entryName) && NameFold::Equal(entryName, name))
      found = ReadString(entry, u"Key", driverKey);
    RegCloseKey(entry);
  }
  RegCloseKey(active);
  return found;
}

bool FindHostDevice(const std::u16string& name, std::string* hostDevice) {
  std::u16string driverKey;
  if (!FindActiveEntry(name, &driverKey)) return false;
  HKEY driver = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, driverKey.c_str(), 0, 0, &driver) != ERROR_SUCCESS)
    return false;
  std::u16string device;
  bool ok = ReadString(driver, kHostDeviceValue, &device) && !device.empty();
  RegCloseKey(driver);
  if (ok) *hostDevice = ToUtf8(device);
  return ok;
}

}  // namespace

std::shared_ptr<FileObject> HostSerialDriver::OpenListed(const std::u16string& name, DWORD access,
                                                         bool* listed, Status* status) {
  std::string hostDevice;
  *listed = FindHostDevice(name, &hostDevice);
  if (!*listed) {
    *status = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  std::shared_ptr<FileObject> port = SerialPort::OpenDevice(hostDevice, access, status);
  if (!port)
    Trace::Write(TraceChannel::kSerial, "%s on %s refused: error %u", ToUtf8(name).c_str(),
                 hostDevice.c_str(), static_cast<unsigned>(status->code()));
  return port;
}

std::u16string HostSerialDriver::Activate(const std::u16string& portName,
                                          const std::u16string& driverKey,
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
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kActiveKey, 0, nullptr, 0, 0, nullptr, &active,
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
  Trace::Write(TraceChannel::kDevice, "%s activated on %s as Drivers\\Active\\%s",
               ToUtf8(portName).c_str(), hostDevice.c_str(), ToUtf8(entryName).c_str());
  return entryName;
}

}  // namespace handheld::detail
