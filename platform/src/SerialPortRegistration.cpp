// Lists a host serial device as a COM port: an activation through the
// table of activated devices, by its built-in host serial driver.
#include "HostSerialDriver.h"
#include "handheld.h"

namespace handheld {

std::u16string RegisterSerialPort(const std::u16string& portName, const std::u16string& driverKey,
                                  const std::string& hostDevice) {
  return detail::HostSerialDriver::Activate(portName, driverKey, hostDevice);
}

}  // namespace handheld
