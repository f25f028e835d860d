// Open registry keys (HKEY values): handles of their own kind in the
// process's handle table, so a key is never mistaken for another kind of
// handle. The predefined roots (HKEY_LOCAL_MACHINE and the others) are not
// in the table; they name the roots of the current device folder's hive.
#pragma once

#include <cstdint>
#include <memory>

#include "HandleTable.h"
#include "RegistryHive.h"
#include "Status.h"
#include "win/types.h"

namespace handheld::detail {

class RegistryKeyTable {
 public:
  struct Entry {
    std::shared_ptr<RegistryHive> hive;
    int64_t key = 0;
  };

  static HKEY Add(std::shared_ptr<RegistryHive> hive, int64_t key);
  // Resolves an open handle or a predefined root. ERROR_INVALID_HANDLE for
  // anything else; ERROR_CANTREAD when the hive cannot be opened.
  static Status Lookup(HKEY handle, Entry* entry);
  // Success for an open handle (which is then gone) and for the predefined
  // roots, else ERROR_INVALID_HANDLE.
  static Status Remove(HKEY handle);
  static bool IsPredefined(HKEY handle);
};

}  // namespace handheld::detail
