// The process's table of open registry key handles (HKEY values), separate
// from the kernel handle table. Handle values are never reused, so a
// closed handle finds nothing instead of another key.
#pragma once

#include <cstdint>
#include <memory>

#include "RegistryHive.h"
#include "windows.h"

namespace handheld::detail {

class RegistryKeyTable {
 public:
  struct Entry {
    std::shared_ptr<RegistryHive> hive;
    int64_t key = 0;
  };

  static HKEY Add(std::shared_ptr<RegistryHive> hive, int64_t key);
  // Resolves an open handle or a predefined root (HKEY_LOCAL_MACHINE and
  // the others, which name the roots of the current device folder's hive).
  // ERROR_INVALID_HANDLE for anything else; ERROR_CANTREAD when the hive
  // cannot be opened.
  static LONG Lookup(HKEY handle, Entry* entry);
  // ERROR_SUCCESS for an open handle (which is then gone) and for the
  // predefined roots, else ERROR_INVALID_HANDLE.
  static LONG Remove(HKEY handle);
  static bool IsPredefined(HKEY handle);
};

}  // namespace handheld::detail
