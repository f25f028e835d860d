#include "Surface.h"

#include <algorithm>
#include <cstring>

#include "ProcessLifetime.h"

namespace handheld::detail {

Surface::Surface(int width, int height)
    : width_(std::max(width, 0)), height_(std::max(height, 0)),
      pixels_(static_cast<size_t>(width_) * height_, 0) {}

std::mutex& Surface::DrawingLock() {
  struct Lock {
    std::mutex mutex;
  };
  return ProcessLifetime<Lock>::Get().mutex;  // the presenter draws until exit
}

RECT Surface::Clip(const RECT& rect, const RECT& clip) const {
  RECT r{std::max({rect.left, clip.left, LONG{0}}), std::max({rect.top, clip.top, LONG{0}}),
         std::min({rect.right, clip.right, LONG{width_}}),
         std::min({rect.bottom, clip.bottom, LONG{height_}})};
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

void Surface::Fill(const RECT& rect, const RECT& clip, uint32_t pixel) {
  RECT r = Clip(rect, clip);
  if (r.right <= r.left || r.bottom <= r.top) return;
  // The first row pixel by pixel, the others copied from it.
  const size_t count = static_cast<size_t>(r.right - r.left);
  uint32_t* first = &pixels_[static_cast<size_t>(r.top) * width_ + r.left];
  std::fill_n(first, count, pixel);
  for (LONG y = r.top + 1; y < r.bottom; ++y)
    std::memcpy(&pixels_[static_cast<size_t>(y) * width_ + r.left], first,
                count * sizeof(uint32_t));
}

void Surface::Copy(int x, int y, int width, int height, const Surface& source, int sourceX,
                   int sourceY, const RECT& clip) {
  // The block as the source allows it, moved to the destination.
  RECT sourceRect = source.Clip(
      RECT{sourceX, sourceY, sourceX + std::max(width, 0), sourceY + std::max(height, 0)},
      RECT{0, 0, source.width_, source.height_});
  const LONG dx = x - sourceX, dy = y - sourceY;
  RECT r = Clip(RECT{sourceRect.left + dx, sourceRect.top + dy, sourceRect.right + dx,
                     sourceRect.bottom + dy},
                clip);
  if (r.right <= r.left || r.bottom <= r.top) return;
  const size_t count = static_cast<size_t>(r.right - r.left);
  auto copyRow = [&](LONG row) {
    std::memmove(&pixels_[static_cast<size_t>(row) * width_ + r.left],
                 &source.pixels_[static_cast<size_t>(row - dy) * source.width_ + (r.left - dx)],
                 count * sizeof(uint32_t));
  };
  // Rows in the order that keeps an overlapping copy within one surface right.
  if (&source == this && dy > 0) {
    for (LONG row = r.bottom - 1; row >= r.top; --row) copyRow(row);
  } else {
    for (LONG row = r.top; row < r.bottom; ++row) copyRow(row);
  }
}

void Surface::Blend(int x, int y, int width, int height, const uint8_t* mask, int pitch,
                    uint32_t pixel, const RECT& clip) {
  RECT r = Clip(RECT{x, y, x + width, y + height}, clip);
  const uint32_t fgRedBlue = pixel & 0xFF00FFu, fgGreen = (pixel >> 8) & 0xFFu;
  for (LONG row = r.top; row < r.bottom; ++row) {
    const uint8_t* coverage = mask + static_cast<ptrdiff_t>(row - y) * pitch;
    uint32_t* out = &pixels_[static_cast<size_t>(row) * width_];
    for (LONG col = r.left; col < r.right; ++col) {
      const uint32_t a = coverage[col - x];
      if (a == 0) continue;
      if (a == 255) {
        out[col] = pixel & 0xFFFFFFu;
        continue;
      }
      // Red and blue side by side in one word, green alone; each channel
      // (fg * a + bg * (255 - a) + 127) / 255, the division done as
      // (v + 1 + (v >> 8)) >> 8, exact for v below 65536.
      const uint32_t under = out[col], na = 255 - a;
      uint32_t rb = fgRedBlue * a + (under & 0xFF00FFu) * na + 0x007F007Fu;
      rb = ((rb + 0x00010001u + ((rb >> 8) & 0x00FF00FFu)) >> 8) & 0x00FF00FFu;
      uint32_t g = fgGreen * a + ((under >> 8) & 0xFFu) * na + 127;
      g = (g + 1 + (g >> 8)) >> 8;
      out[col] = rb | (g << 8);
    }
  }
}

}  // namespace handheld::detail
