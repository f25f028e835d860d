// The device folder and UTF-8 conversion as the stand-in's own code uses
// them (the same functions the host and tools reach through handheld.h).
#pragma once

#include <string>

namespace handheld {

std::string DeviceFolder();
std::string HostPath(const std::u16string& devicePath);
std::string ToUtf8(const std::u16string& text);
std::u16string FromUtf8(const std::string& text);

}  // namespace handheld
