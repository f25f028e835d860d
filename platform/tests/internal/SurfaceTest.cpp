// White-box tests of Surface's fills, copies and blends: each is checked
// pixel by pixel against the same operation done one pixel at a time,
// over blocks of every width about the four-pixel steps the rows are
// worked in, clipped on each side, and over backgrounds that are plain in
// parts only.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "Surface.h"

namespace {

using handheld::detail::Surface;

constexpr RECT kAll{-1000, -1000, 1000, 1000};

bool Inside(const RECT& r, LONG x, LONG y) {
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

// A background of `under` with a few other pixels about: a pixel in seven
// differs, in runs that cross the four-pixel steps.
uint32_t Background(int x, int y, uint32_t under) {
  return (x * 5 + y * 3) % 7 == 0 ? 0x123456u + static_cast<uint32_t>(x * 0x010203) : under;
}

Surface Painted(int width, int height, uint32_t under) {
  Surface s(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      s.Fill(RECT{x, y, x + 1, y + 1}, kAll, Background(x, y, under));
  return s;
}

std::vector<uint32_t> PixelsOf(const Surface& s) { return s.pixels(); }

struct FillCase {
  RECT rect;
  RECT clip;
};

TEST(Surface, FillsMatchPixelByPixel) {
  const FillCase cases[] = {
      {{0, 0, 29, 17}, kAll},          // the whole surface
      {{-5, 3, 40, 9}, kAll},          // whole rows, cut to the surface
      {{2, 1, 3, 16}, kAll},           // one column
      {{1, 2, 8, 5}, kAll},            // seven wide: steps and a tail
      {{1, 2, 18, 5}, {4, 0, 21, 4}},  // cut by the clip on both sides
      {{3, 3, 3, 9}, kAll},            // empty
      {{10, 10, 5, 12}, kAll},         // inverted
      {{0, 0, 29, 17}, {30, 0, 40, 17}},  // clip beside the surface
  };
  for (const FillCase& c : cases) {
    for (int width : {29, 16}) {
      Surface s = Painted(width, 17, 0xFFFFFFu);
      std::vector<uint32_t> expected = PixelsOf(s);
      for (int y = 0; y < 17; ++y)
        for (int x = 0; x < width; ++x)
          if (Inside(c.rect, x, y) && Inside(c.clip, x, y))
            expected[static_cast<size_t>(y) * width + x] = 0xABCDEFu;
      s.Fill(c.rect, c.clip, 0xABCDEFu);
      EXPECT_EQ(s.pixels(), expected) << "rect " << c.rect.left << "," << c.rect.top << ","
                                      << c.rect.right << "," << c.rect.bottom << " width " << width;
    }
  }
}

struct CopyCase {
  int x, y, width, height, sourceX, sourceY;
  RECT clip;
  int sourceWidth;  // 0: the target itself, 24 wide
};

TEST(Surface, CopiesMatchPixelByPixelOverlappingOrNot) {
  const CopyCase cases[] = {
      {0, 0, 24, 10, 0, 0, kAll, 24},        // whole rows of equal widths
      {0, 0, 24, 10, 0, 0, kAll, 30},        // whole rows of a wider source
      {0, 2, 24, 10, 0, 0, kAll, 0},         // whole rows down within one surface
      {0, 0, 24, 10, 0, 3, kAll, 0},         // and up
      {3, 1, 9, 6, 1, 1, kAll, 0},           // right, overlapping
      {1, 1, 9, 6, 3, 2, kAll, 0},           // left and down
      {-4, -2, 30, 14, 0, 0, kAll, 20},      // cut by the destination
      {5, 5, 30, 14, -3, -1, kAll, 20},      // cut by the source
      {0, 0, 24, 10, 0, 0, {2, 1, 11, 7}, 24},  // cut by the clip
      {0, 0, -3, 10, 0, 0, kAll, 24},        // negative width: nothing
  };
  for (const CopyCase& c : cases) {
    Surface target = Painted(24, 10, 0x0000FFu);
    const Surface other = Painted(c.sourceWidth > 0 ? c.sourceWidth : 1, 12, 0x00FF00u);
    const Surface& source = c.sourceWidth > 0 ? other : target;
    const Surface before = source;  // what the source held before the copy
    std::vector<uint32_t> expected = PixelsOf(target);
    const RECT block{c.sourceX, c.sourceY, c.sourceX + c.width, c.sourceY + c.height};
    for (int y = 0; y < target.height(); ++y) {
      for (int x = 0; x < target.width(); ++x) {
        const int sx = x - (c.x - c.sourceX), sy = y - (c.y - c.sourceY);
        if (!Inside(c.clip, x, y) || !Inside(block, sx, sy) || sx < 0 || sy < 0 ||
            sx >= before.width() || sy >= before.height())
          continue;
        expected[static_cast<size_t>(y) * target.width() + x] = before.Pixel(sx, sy);
      }
    }
    target.Copy(c.x, c.y, c.width, c.height, source, c.sourceX, c.sourceY, c.clip);
    EXPECT_EQ(target.pixels(), expected) << "to " << c.x << "," << c.y << " from " << c.sourceX
                                         << "," << c.sourceY << " source width " << c.sourceWidth;
  }
}

struct BlendCase {
  int x, y, width, height;
  RECT clip;
};

TEST(Surface, BlendsMatchPixelByPixelOnPlainAndMixedBackgrounds) {
  const BlendCase cases[] = {
      {2, 1, 8, 6, kAll},           // two steps
      {2, 1, 11, 6, kAll},          // two steps and a tail of three
      {3, 2, 3, 5, kAll},           // a tail alone
      {-2, -1, 9, 7, kAll},         // cut at the surface's top left
      {22, 12, 9, 7, kAll},         // and its bottom right
      {4, 3, 12, 9, {7, 5, 13, 9}},  // inside the clip only
  };
  const uint32_t under = 0xFFFFFFu, ink = 0x2040C0u;
  for (const BlendCase& c : cases) {
    for (bool plain : {true, false}) {
      const int pitch = c.width + 2;  // rows of the mask longer than the block
      std::vector<uint8_t> mask(static_cast<size_t>(pitch) * c.height);
      std::vector<uint32_t> over(mask.size());
      for (size_t i = 0; i < mask.size(); ++i) {
        mask[i] = static_cast<uint8_t>(i % 3 == 0 ? 0 : i % 5 == 0 ? 255 : i * 37);
        over[i] = Surface::Mix(ink, under, mask[i]);
      }
      Surface blended = plain ? Surface(27, 15) : Painted(27, 15, under);
      if (plain) blended.Fill(kAll, kAll, under);
      Surface overBlended = blended;
      std::vector<uint32_t> expected = PixelsOf(blended);
      for (int y = 0; y < 15; ++y) {
        for (int x = 0; x < 27; ++x) {
          if (!Inside(c.clip, x, y) || !Inside(RECT{c.x, c.y, c.x + c.width, c.y + c.height}, x, y))
            continue;
          uint32_t& p = expected[static_cast<size_t>(y) * 27 + x];
          p = Surface::Mix(ink, p, mask[static_cast<size_t>(y - c.y) * pitch + (x - c.x)]);
        }
      }
      blended.Blend(c.x, c.y, c.width, c.height, mask.data(), pitch, ink, c.clip);
      overBlended.BlendOver(c.x, c.y, c.width, c.height, mask.data(), over.data(), pitch, ink,
                            under, c.clip);
      EXPECT_EQ(blended.pixels(), expected) << "at " << c.x << "," << c.y << " plain " << plain;
      EXPECT_EQ(overBlended.pixels(), expected) << "at " << c.x << "," << c.y << " plain " << plain;
    }
  }
}

// Surfaces skip rows that already hold what a fill or copy would write, so
// what each knows of its rows must follow every write. Long runs of fills,
// copies (between two surfaces and within one), puts and blends in three
// colours, where whole rows of one colour come and go, are checked after
// every step against the same steps done a pixel at a time.
class PixelModel {
 public:
  PixelModel(int width, int height)
      : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height, 0) {}
  uint32_t& At(int x, int y) { return pixels_[static_cast<size_t>(y) * width_ + x]; }
  bool Holds(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
  const std::vector<uint32_t>& pixels() const { return pixels_; }

 private:
  int width_, height_;
  std::vector<uint32_t> pixels_;
};

TEST(Surface, RowsOfOneColourAreKnownThroughEveryKindOfWrite) {
  std::mt19937 random(20261209);
  auto any = [&](int below) { return static_cast<int>(random() % static_cast<unsigned>(below)); };
  const uint32_t colours[] = {0xFFFFFFu, 0xFF0000u, 0x0000FFu};
  Surface surfaces[] = {Surface(20, 12), Surface(24, 12)};
  PixelModel models[] = {PixelModel(20, 12), PixelModel(24, 12)};
  auto randomRect = [&](const Surface& s) {
    const int top = any(s.height() + 2) - 1, bottom = top + any(s.height() + 1);
    if (any(3) == 0) return RECT{-2, top, s.width() + 2, bottom};  // whole rows
    const int left = any(s.width() + 4) - 2;
    return RECT{left, top, left + any(s.width() + 2), bottom};
  };
  for (int step = 0; step < 4000; ++step) {
    const int t = any(2);
    Surface& target = surfaces[t];
    PixelModel& model = models[t];
    const RECT rect = randomRect(target);
    const RECT clip = any(4) == 0 ? randomRect(target) : kAll;
    const uint32_t colour = colours[any(3)];
    auto each = [&](auto write) {  // each pixel of the rect, the clip and the surface
      for (int y = rect.top; y < rect.bottom; ++y)
        for (int x = rect.left; x < rect.right; ++x)
          if (model.Holds(x, y) && Inside(clip, x, y)) write(x, y);
    };
    const int kind = any(4);
    if (kind == 0) {
      target.Fill(rect, clip, colour);
      each([&](int x, int y) { model.At(x, y) = colour; });
    } else if (kind == 1) {
      const int s = any(2);
      const int dx = any(7) - 3, dy = any(7) - 3;
      const Surface before = surfaces[s];
      target.Copy(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, surfaces[s],
                  rect.left - dx, rect.top - dy, clip);
      each([&](int x, int y) {
        if (models[s].Holds(x - dx, y - dy)) model.At(x, y) = before.Pixel(x - dx, y - dy);
      });
    } else {
      const int width = rect.right - rect.left, height = rect.bottom - rect.top;
      const size_t size = static_cast<size_t>(std::max(width, 0)) * std::max(height, 0);
      std::vector<uint32_t> block(size, colour);
      std::vector<uint8_t> mask(size);
      for (size_t i = 0; i < size; ++i) mask[i] = static_cast<uint8_t>(any(2) * 255);
      const auto at = [&](int x, int y) {
        return static_cast<size_t>(y - rect.top) * width + (x - rect.left);
      };
      if (kind == 2) {
        target.Put(rect.left, rect.top, width, height, block.data(), width, clip);
        each([&](int x, int y) { model.At(x, y) = block[at(x, y)]; });
      } else {
        target.Blend(rect.left, rect.top, width, height, mask.data(), width, colour, clip);
        each([&](int x, int y) {
          model.At(x, y) = Surface::Mix(colour, model.At(x, y), mask[at(x, y)]);
        });
      }
    }
    ASSERT_EQ(target.pixels(), model.pixels()) << "step " << step << " kind " << kind;
  }
}

}  // namespace
