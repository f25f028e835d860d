// A rectangle of 32-bit pixels, 0x00RRGGBB: the screen and every bitmap.
// Drawing is clipped to a clip rectangle and to the surface's own bounds,
// so no coordinates reach outside the pixels.
//
// Each surface knows, row by row, which rows hold one colour: a fill or a
// copy passes over a row that already holds what it would write, so that a
// repaint that changes little touches little memory.
//
// Threads: one lock, DrawingLock(), guards the pixels of every surface and
// the state of every drawing object; the drawing calls take it, and so
// does whoever copies the screen out.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "win/types.h"

namespace handheld::detail {

class Surface {
 public:
  Surface(int width, int height);  // black

  static std::mutex& DrawingLock();  // for the process's life

  int width() const { return width_; }
  int height() const { return height_; }
  uint32_t Pixel(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }
  const std::vector<uint32_t>& pixels() const { return pixels_; }

  // `clip` in surface coordinates; the result lies inside the surface too.
  RECT Clip(const RECT& rect, const RECT& clip) const {
    RECT r{Larger(Larger(rect.left, clip.left), 0), Larger(Larger(rect.top, clip.top), 0),
           Smaller(Smaller(rect.right, clip.right), width_),
           Smaller(Smaller(rect.bottom, clip.bottom), height_)};
    if (r.right < r.left) r.right = r.left;
    if (r.bottom < r.top) r.bottom = r.top;
    return r;
  }

  void Fill(const RECT& rect, const RECT& clip, uint32_t pixel);
  // Copies a width x height block from (sourceX, sourceY) of `source` to
  // (x, y); parts outside either surface or the clip are left out. The
  // source may be this surface.
  void Copy(int x, int y, int width, int height, const Surface& source, int sourceX, int sourceY,
            const RECT& clip);
  // Copies a width x height block of pixels from `from`, `pitch` pixels
  // per row, to (x, y); parts outside the surface or the clip are left out.
  void Put(int x, int y, int width, int height, const uint32_t* from, int pitch,
           const RECT& clip);
  // Blends `pixel` into the block at (x, y) by the coverage values of
  // `mask` (0 keeps the pixel, 255 replaces it), `pitch` bytes per row.
  void Blend(int x, int y, int width, int height, const uint8_t* mask, int pitch, uint32_t pixel,
             const RECT& clip);
  // As Blend, with the blend over one colour worked out beforehand:
  // `over[i]` is Mix(pixel, under, mask[i]) for each mask byte (same
  // pitch), taken wherever the surface holds `under`. Text on a plain
  // background then costs a compare and a copy a pixel.
  void BlendOver(int x, int y, int width, int height, const uint8_t* mask, const uint32_t* over,
                 int pitch, uint32_t pixel, uint32_t under, const RECT& clip);
  // `pixel` at coverage `a` (0 to 255) over `under`: what Blend writes.
  static uint32_t Mix(uint32_t pixel, uint32_t under, uint32_t a) {
    if (a == 0) return under;
    if (a == 255) return pixel & 0xFFFFFFu;
    // Red and blue side by side in one word, green alone; each channel
    // (fg * a + bg * (255 - a) + 127) / 255, the division done as
    // (v + 1 + (v >> 8)) >> 8, exact for v below 65536.
    const uint32_t na = 255 - a;
    uint32_t rb = (pixel & 0xFF00FFu) * a + (under & 0xFF00FFu) * na + 0x007F007Fu;
    rb = ((rb + 0x00010001u + ((rb >> 8) & 0x00FF00FFu)) >> 8) & 0x00FF00FFu;
    uint32_t g = ((pixel >> 8) & 0xFFu) * a + ((under >> 8) & 0xFFu) * na + 127;
    g = (g + 1 + (g >> 8)) >> 8;
    return rb | (g << 8);
  }

  static uint32_t FromColorRef(COLORREF color) {
    return ((color & 0xFFu) << 16) | (color & 0xFF00u) | ((color >> 16) & 0xFFu);
  }

 private:
  static LONG Larger(LONG a, LONG b) { return a > b ? a : b; }
  static LONG Smaller(LONG a, LONG b) { return a < b ? a : b; }
  // `count` pixels from `out` on set to `pixel`.
  static void FillRow(uint32_t* out, size_t count, uint32_t pixel);
  static void CopyRow(uint32_t* out, const uint32_t* from, size_t count);
  // One row of BlendOver, `count` pixels from `out` on.
  static void BlendOverRow(uint32_t* out, const uint8_t* coverage, const uint32_t* over,
                           size_t count, uint32_t pixel, uint32_t under);
  template <bool kOver>
  void BlendRows(int x, int y, const RECT& r, const uint8_t* mask, const uint32_t* over, int pitch,
                 uint32_t pixel, uint32_t under);

  // Rows from `top` to `bottom` may hold more than one colour now.
  void Mixed(LONG top, LONG bottom);

  static constexpr uint64_t kMixed = ~uint64_t{0};

  int width_;
  int height_;
  std::vector<uint32_t> pixels_;
  // Per row, the colour of all its pixels, or kMixed when they may differ:
  // what the pixels say, kept true by every write.
  std::vector<uint64_t> rowColour_;
};

}  // namespace handheld::detail
