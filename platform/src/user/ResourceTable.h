// The resources of each module, from the image of them that the build
// embeds in it: a resource compiler's output in the standard binary
// resource format (a header of sizes, type, name and language before each
// resource's data, every entry aligned to four bytes). Resources are found
// by the instance handle of the program or library whose image holds them.
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
    WORD language = 0;
    const BYTE* data = nullptr;  // in the embedded image
    DWORD size = 0;
  };

  // Registers every resource of the image for the module that holds it;
  // ERROR_INVALID_DATA, and nothing registered, for an image that is not
  // in the format or runs past its size.
  static Status Declare(const BYTE* image, DWORD size);
  // The resource of `type` and `name` in the module of `instance` (null:
  // the program); null when there is none.
  static const Resource* Find(HINSTANCE instance, LPCWSTR type, LPCWSTR name);
  // Whether the module of `instance` has any resource of `type`.
  static bool HasType(HINSTANCE instance, LPCWSTR type);
  // The program's own instance handle.
  static HINSTANCE ProgramInstance();

  // Reads the entries of an image; false when it is not one.
  static bool Parse(const BYTE* image, DWORD size, const void* module,
                    std::vector<Resource>* resources);

 private:
  // The first resource of `type` named `name`, or of any name when `name`
  // is null.
  static const Resource* FindAny(HINSTANCE instance, LPCWSTR type, LPCWSTR name);
};

}  // namespace handheld::detail
