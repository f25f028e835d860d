// PNG files of 0x00RRGGBB pixels (8-bit RGB), through libpng.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace handheld::detail {

class PngFile {
 public:
  static bool Write(const std::string& path, int width, int height,
                    const std::vector<uint32_t>& pixels);
};

}  // namespace handheld::detail
