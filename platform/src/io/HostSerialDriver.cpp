#include "HostSerialDriver.h"

#include "ActiveList.h"
#include "SerialPort.h"
#include "Trace.h"
#include "handheld.h"

namespace handheld::detail {
namespace {

bool FindHostDevice(const std::u16string& name, std::string* hostDevice) {
  std::u16string driverKey;
  if (!ActiveList::FindByName(name, &driverKey)) return false;
  HKEY driver = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, driverKey.c_str(), 0, 0, &driver) != ERROR_SUCCESS)
    return false;
  std::u16string device;
  bool ok = ActiveList::ReadText(driver, kHostDeviceValue, &device) && !device.empty();
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
  ActiveList::Value device = ActiveList::Value::Text(kHostDeviceValue, FromUtf8(hostDevice));
  LONG status = RegSetValueExW(driver, device.name.c_str(), 0, device.type, device.data.data(),
                               static_cast<DWORD>(device.data.size()));
  RegCloseKey(driver);
  if (status != ERROR_SUCCESS) return {};

  std::u16string entryName;
  static_cast<void>(ActiveList::Add({ActiveList::Value::Text(u"Name", portName),
                                     ActiveList::Value::Text(u"Key", driverKey)},
                                    &entryName));
  Trace::Write(TraceChannel::kDevice, "%s activated on %s as Drivers\\Active\\%s",
               ToUtf8(portName).c_str(), hostDevice.c_str(), ToUtf8(entryName).c_str());
  return entryName;
}

}  // namespace handheld::detail
