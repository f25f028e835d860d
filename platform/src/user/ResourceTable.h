// Resources that programs declare in C++ (DeclareResources), kept per
// module: the module is the one whose image holds the declared table, so
// resources are found by the instance handle of the program or library
// that declared them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Status.h"
#include "win/user.h"

namespace handheld::detail {

class ResourceTable {
 public:
  struct Resource {
    const void* module;  // base address of the module's image
    WORD typeId = 0;     // or the type's name
    std::u16string typeName;
    WORD nameId = 0;  // or the resource's name
    std::u16string name;
    const void* data = nullptr;
    DWORD size = 0;
    std::vector<BYTE> converted;  // dialogs: the template the description stands for
  };

  static Status Declare(const RESOURCE_ENTRY* entries, UINT count);
  // The resource of `type` and `name` in the module of `instance` (null:
  // the program); null when there is none.
  static const Resource* Find(HINSTANCE instance, LPCWSTR type, LPCWSTR name);
  // The program's own instance handle.
  static HINSTANCE ProgramInstance();
};

}  // namespace handheld::detail
