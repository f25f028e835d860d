// Test support: driver keys as an installation package writes them, and
// the device manager's "Drivers\Active" records as they stand.
#pragma once

#include <string>
#include <vector>

#include "handheld.h"
#include "windows.h"

namespace handheld::testing {

struct DriverKey {
  std::u16string dll;
  std::u16string prefix;
  int index = -1;          // no "Index" when negative
  std::string hostDevice;  // no "HostDevice" when empty
};
// Creates (or adds to) the key below HKEY_LOCAL_MACHINE.
bool WriteDriverKey(const std::u16string& path, const DriverKey& key);
bool WriteDword(const std::u16string& path, const char16_t* name, DWORD value);

// The records under "Drivers\Active", in order: the platform's own list.
using ActiveRecord = ActiveDriver;
inline std::vector<ActiveRecord> ActiveRecords() { return ActiveDrivers(); }

}  // namespace handheld::testing
