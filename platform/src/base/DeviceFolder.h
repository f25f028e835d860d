// The device folder and UTF-8 conversion as the stand-in's own code uses
// them (the same functions the host and tools reach through handheld.h).
#pragma once

#include <string>

namespace handheld {

std::string DeviceFolder();
// Counts the calls of SetDeviceFolder: a hive whose file has gone is made
// afresh only after the folder has been named again.
unsigned DeviceFolderGeneration();
// Makes the folder `path` with the parents it lacks. The folders it makes
// are private to the user (0700) whatever the umask; with `enforce`, the
// last folder must belong to the user and is made private even if it
// existed. False with the reason (the path and what is wrong).
bool MakePrivateFolder(const std::string& path, bool enforce, std::string* reason);
std::string HostPath(const std::u16string& devicePath);
std::string ToUtf8(const std::u16string& text);
std::u16string FromUtf8(const std::string& text);

}  // namespace handheld
