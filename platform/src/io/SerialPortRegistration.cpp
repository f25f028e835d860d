// Lists a host serial device as a COM port: an activation through the
// table of activated devices, by its built-in host serial driver; and opens
// one for a serial stream driver.
#include "HostSerialDriver.h"
#include "SerialPort.h"
#include "handheld.h"

namespace handheld {

std::u16string RegisterSerialPort(const std::u16string& portName, const std::u16string& driverKey,
                                  const std::string& hostDevice) {
  return detail::HostSerialDriver::Activate(portName, driverKey, hostDevice);
}

HANDLE OpenHostSerialDevice(const std::string& hostDevice, DWORD access) {
  detail::Status status;
  std::shared_ptr<detail::SerialPort> port =
      detail::SerialPort::OpenDevice(hostDevice, access, &status);
  if (!port) {
    detail::ReportStatus(status);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = detail::HandleTable::Add(port);
  return h ? h : INVALID_HANDLE_VALUE;
}

}  // namespace handheld
