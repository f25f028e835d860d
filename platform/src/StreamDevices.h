// How CreateFile reaches stream devices ("OPT1:", "COM5:" of a loaded
// driver): the device manager installs an opener that finds the device by
// its name and returns the object behind the new handle.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "FileObject.h"

namespace handheld::detail {

class StreamDevices {
 public:
  // Returns the opened device, or null with `*error` set (ERROR_FILE_NOT_FOUND
  // when no device has that name).
  using Opener = std::function<std::shared_ptr<FileObject>(const std::u16string& name,
                                                           DWORD access, DWORD shareMode,
                                                           Status* error)>;
  // Installs the opener (an empty one removes it) and returns the previous one.
  static Opener SetOpener(Opener opener);
  // Device names: three letters, one digit and a colon ("OPT1:").
  static bool IsDeviceName(const std::u16string& name);
  static std::shared_ptr<FileObject> Open(const std::u16string& name, DWORD access,
                                          DWORD shareMode, Status* error);
};

}  // namespace handheld::detail
