// Test support: pictures of the screen. The screen's test picture, drawn
// with the drawing calls (fills, block copies from memory and within the
// screen, text in several fonts, sizes, colours and modes), which the
// headless screen and the X11 window must both show pixel for pixel; and
// the comparison of a screen with a reference picture that every picture
// test makes.
//
// References are PNG files beside the tests. With HANDHELD_UPDATE_REFERENCE
// set (to anything), a whole-picture comparison first makes the picture
// shown the reference, so a test run rewrites the references it compares
// with; look at each one before committing it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace handheld::testing {

class ScreenPicture {
 public:
  // A picture as 0x00RRGGBB pixels, row by row from the top.
  struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
  };
  // The rows from `top` up to, not including, `bottom`.
  struct Rows {
    int top;
    int bottom;
  };

  // Draws the picture on the screen through GetDC(NULL); false when a call
  // fails.
  static bool Draw();
  // platform/tests/data/screen-picture.png.
  static std::string ReferencePath();
  // Reads a PNG file as 0x00RRGGBB pixels.
  static bool ReadPng(const std::string& path, int* width, int* height,
                      std::vector<uint32_t>* pixels);
  static bool ReadPng(const std::string& path, Image* image);

  // What differs between `shown` and `reference`, "" when nothing does.
  // `shown` is the reference magnified `scale` times (each pixel a square
  // of scale x scale); only `rows` of the reference count, all of them when
  // none are given. Otherwise the sizes, or the first pixel that differs,
  // as "(x, y) is RRGGBB, not RRGGBB" in `shown`, and how many do. Colours
  // only: the top byte of a pixel does not count.
  static std::string Difference(const Image& shown, const Image& reference,
                                const std::vector<Rows>& rows = {}, int scale = 1);
  // The whole picture in the PNG file `shownPath` against the reference
  // file, naming both when they differ; the file first replaces the
  // reference when references are being updated.
  static std::string FileDifference(const std::string& shownPath, const std::string& referencePath);
  // The screen as it is now against the reference file. A screen that
  // differs is kept in a file that the answer names.
  static std::string ScreenDifference(const std::string& referencePath);
};

}  // namespace handheld::testing
