// The comparison every picture test relies on: a comparison that found no
// difference where there is one would let every picture test pass.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/ScreenPicture.h"

namespace {

using handheld::testing::ScreenPicture;
using Image = ScreenPicture::Image;

// A picture of `width` x `height` pixels, all `colour` but `changed`.
struct Pixel {
  int x;
  int y;
  uint32_t colour;
};
Image Picture(int width, int height, uint32_t colour, const std::vector<Pixel>& changed = {}) {
  Image image{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height, colour)};
  for (const Pixel& p : changed) image.pixels[static_cast<size_t>(p.y) * width + p.x] = p.colour;
  return image;
}

TEST(ScreenPicture, DifferenceNamesTheFirstDifferingPixelWithBothColours) {
  const Image reference = Picture(4, 3, 0xFFFFFF, {{1, 2, 0x000080}});
  struct Case {
    const char* what;
    Image shown;
    std::vector<ScreenPicture::Rows> rows;
    int scale;
    std::string difference;
  } cases[] = {
      {"the same", reference, {}, 1, ""},
      {"a top byte does not count", Picture(4, 3, 0xFFFFFFFF, {{1, 2, 0xFF000080}}), {}, 1, ""},
      {"one pixel", Picture(4, 3, 0xFFFFFF, {{1, 2, 0x000080}, {3, 0, 0x123456}}), {}, 1,
       "(3, 0) is 123456, not FFFFFF; 1 pixel differs"},
      {"the first of several, row by row",
       Picture(4, 3, 0xFFFFFF, {{1, 2, 0xFFFFFF}, {2, 1, 0x00FF00}, {0, 2, 0x00FF00}}), {}, 1,
       "(2, 1) is 00FF00, not FFFFFF; 3 pixels differ"},
      {"outside the rows compared", Picture(4, 3, 0xFFFFFF, {{1, 2, 0x000080}, {0, 0, 0}}),
       {{1, 3}}, 1, ""},
      {"inside the second band of rows", Picture(4, 3, 0xFFFFFF, {{0, 0, 0}, {1, 2, 0}}),
       {{1, 2}, {2, 3}}, 1, "(1, 2) is 000000, not 000080; 1 pixel differs"},
      {"another size", Picture(3, 4, 0xFFFFFF), {}, 1,
       "the picture is 3 x 4, the reference 4 x 3 at scale 1"},
      {"magnified", Picture(8, 6, 0xFFFFFF, {{2, 4, 0x80}, {3, 4, 0x80}, {2, 5, 0x80}, {3, 5, 0x80}}),
       {}, 2, ""},
      {"magnified, one pixel of a square",
       Picture(8, 6, 0xFFFFFF, {{2, 4, 0x80}, {3, 4, 0x80}, {2, 5, 0x80}}), {}, 2,
       "(3, 5) is FFFFFF, not 000080; 1 pixel differs"},
      {"magnified, rows in the reference's", Picture(8, 6, 0xFFFFFF), {{2, 3}}, 2,
       "(2, 4) is FFFFFF, not 000080; 4 pixels differ"},
      {"nothing shown", Image{}, {}, 1, "no picture"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ScreenPicture::Difference(c.shown, reference, c.rows, c.scale), c.difference);
  }
  EXPECT_EQ(ScreenPicture::Difference(reference, Image{}), "no reference picture");
}

}  // namespace
