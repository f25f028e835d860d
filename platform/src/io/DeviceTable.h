// The table of activated devices: where CreateFile resolves a device name
// ("COM3:", "OPT1:"), in one place.
//
// A name is looked up first among the devices activated in this process
// (the device manager activates stream drivers here), then in
// "Drivers\Active", the registry's list of active devices that every
// process of the handheld shares: an entry whose driver key names a host
// serial device ("HostDevice") is served by the built-in host serial driver,
// whichever process listed it. Names compare without regard to case.
#pragma once

#include <memory>
#include <string>

#include "FileObject.h"
#include "Status.h"

namespace handheld::detail {

// What an activated device offers CreateFile: a new open of the device.
class DeviceDriver {
 public:
  virtual ~DeviceDriver() = default;
  // The object behind the new handle, or null with `*status` set.
  virtual std::shared_ptr<FileObject> Open(DWORD access, DWORD shareMode, Status* status) = 0;
};

class DeviceTable {
 public:
  // Device names: three letters, one digit and a colon ("OPT1:").
  static bool IsDeviceName(const std::u16string& name);

  // Lists `driver` under `name` in this process. ERROR_ALREADY_EXISTS when
  // the name is taken, ERROR_INVALID_NAME for no device name.
  static Status Activate(const std::u16string& name, std::shared_ptr<DeviceDriver> driver);
  // ERROR_FILE_NOT_FOUND when no device of this process has the name.
  static Status Deactivate(const std::u16string& name);
  // Whether a device of this process has the name.
  static bool Has(const std::u16string& name);

  // Opens the device listed under `name`; ERROR_FILE_NOT_FOUND when there
  // is none.
  static std::shared_ptr<FileObject> Open(const std::u16string& name, DWORD access,
                                          DWORD shareMode, Status* status);
};

}  // namespace handheld::detail
