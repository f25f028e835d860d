// The built-in driver of the table of activated devices for host serial
// ports: a "Drivers\Active" entry whose driver key carries "HostDevice" (a
// tty or a pseudo-terminal) is a COM port this driver opens, in whichever
// process the entry was written.
#pragma once

#include <memory>
#include <string>

#include "FileObject.h"
#include "Status.h"

namespace handheld::detail {

class HostSerialDriver {
 public:
  // Opens the port "Drivers\Active" lists under `name` when its driver key
  // names a host device. `*listed` tells whether such an entry exists.
  static std::shared_ptr<FileObject> OpenListed(const std::u16string& name, DWORD access,
                                                bool* listed, Status* status);
  // Activates a host device as port `portName`: writes the driver key with
  // its host device and an entry under "Drivers\Active" whose "Key" and
  // "Name" point at it. Returns the entry's subkey name, empty on failure.
  static std::u16string Activate(const std::u16string& portName, const std::u16string& driverKey,
                                 const std::string& hostDevice);
};

}  // namespace handheld::detail
