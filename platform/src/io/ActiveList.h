// "Drivers\Active", the device manager's list of loaded drivers that every
// process of the handheld shares through the registry: one numbered subkey
// per driver with its "Key" (the driver key it was loaded from), "Name"
// (its device name, when it has one) and whatever else the loader records.
#pragma once

#include <string>
#include <vector>

#include "Status.h"
#include "handheld.h"
#include "win/registry.h"

namespace handheld::detail {

class ActiveList {
 public:
  struct Value {
    std::u16string name;
    DWORD type;
    std::vector<BYTE> data;
    static Value Text(std::u16string name, const std::u16string& text);
    static Value Number(std::u16string name, DWORD number);
  };

  // Adds a record holding `values`, written in their order (readers that
  // look for a record by its "Key" find it whole when "Key" comes last),
  // under the first free number ("01",
  // "02", ...): a subkey this call did not create belongs to someone else,
  // who may be adding it at the same moment in another process. `*record`
  // receives the subkey name.
  static Status Add(const std::vector<Value>& values, std::u16string* record);
  static void Remove(const std::u16string& record);
  // The driver key of the record whose "Name" is `deviceName` (compared
  // without regard to case); false when none lists it.
  static bool FindByName(const std::u16string& deviceName, std::u16string* driverKey);

  // Every record, in the order of the subkeys.
  static std::vector<ActiveDriver> Records();

  // A REG_SZ (or REG_EXPAND_SZ) value of any length, up to its first NUL.
  static bool ReadText(HKEY key, LPCWSTR value, std::u16string* text);
};

}  // namespace handheld::detail
