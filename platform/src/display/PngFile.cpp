#include "PngFile.h"

#include <png.h>

#include <cstring>

namespace handheld::detail {

bool PngFile::Write(const std::string& path, int width, int height,
                    const std::vector<uint32_t>& pixels) {
  if (width <= 0 || height <= 0 || pixels.size() != static_cast<size_t>(width) * height)
    return false;
  std::vector<uint8_t> rgb(pixels.size() * 3);
  for (size_t i = 0; i < pixels.size(); ++i) {
    rgb[3 * i] = static_cast<uint8_t>(pixels[i] >> 16);
    rgb[3 * i + 1] = static_cast<uint8_t>(pixels[i] >> 8);
    rgb[3 * i + 2] = static_cast<uint8_t>(pixels[i]);
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGB;
  bool written = png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr) != 0;
  png_image_free(&image);
  return written;
}

}  // namespace handheld::detail
