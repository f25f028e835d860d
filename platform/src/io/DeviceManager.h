// The device manager of the process that hosts the drivers: loads a stream
// driver from its registry key, records it under "Drivers\Active", lists it
// by name in the table of activated devices, and reverses all of that.
//
// No lock is held while a driver's Init or Deinit runs: a bus driver's
// Deinit deactivates its clients, and its watcher thread activates them, at
// any time.
#pragma once

#include <string>
#include <vector>

#include "ActiveList.h"
#include "Status.h"
#include "win/types.h"

namespace handheld::detail {

class DeviceManager {
 public:
  // `values` are added to the active record. `*device` receives the
  // device handle.
  static Status Activate(const std::u16string& driverKey, std::vector<ActiveList::Value> values,
                         LPCVOID busContext, HANDLE* device);
  // ERROR_INVALID_HANDLE for anything but an active device's handle.
  static Status Deactivate(HANDLE device);
};

}  // namespace handheld::detail
