// Test support: driver keys as an installation package writes them, and
// the device manager's "Drivers\Active" records as they stand.
#pragma once

#include <string>
#include <vector>

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

struct ActiveRecord {
  std::u16string subkey, key, name;
  DWORD hnd = 0, clientInfo = 0;
};
// The records under "Drivers\Active", in order.
std::vector<ActiveRecord> ActiveRecords();

}  // namespace handheld::testing
