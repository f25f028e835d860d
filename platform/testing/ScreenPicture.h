// Test support: a picture drawn on the screen with the drawing calls (fills,
// block copies from memory and within the screen, text in several fonts,
// sizes, colours and modes) and its reference image, which the headless
// screen and the X11 window must both show pixel for pixel.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace handheld::testing {

class ScreenPicture {
 public:
  // Draws the picture on the screen through GetDC(NULL); false when a call
  // fails.
  static bool Draw();
  // platform/tests/data/screen-picture.png.
  static std::string ReferencePath();
  // Reads a PNG file as 0x00RRGGBB pixels.
  static bool ReadPng(const std::string& path, int* width, int* height,
                      std::vector<uint32_t>* pixels);
};

}  // namespace handheld::testing
