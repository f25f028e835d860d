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
  RECT r{std::max(std::max(rect.left, clip.left), LONG{0}),
         std::max(std::max(rect.top, clip.top), LONG{0}),
         std::min(std::min(rect.right, clip.right), LONG{width_}),
         std::min(std::min(rect.bottom, clip.bottom), LONG{height_})};
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

template <bool kOver>
void Surface::BlendRows(int x, int y, const RECT& r, const uint8_t* mask, const uint32_t* over,
                        int pitch, uint32_t pixel, uint32_t under) {
  for (LONG row = r.top; row < r.bottom; ++row) {
    const ptrdiff_t line = static_cast<ptrdiff_t>(row - y) * pitch;
    const uint8_t* coverage = mask + line;
    uint32_t* out = &pixels_[static_cast<size_t>(row) * width_];
    for (LONG col = r.left; col < r.right; ++col) {
      const uint32_t a = coverage[col - x];
      if constexpr (kOver) {
        // Where the surface holds `under` (coverage 0 included), the
        // precomputed blend; elsewhere the blend itself.
        const uint32_t now = out[col];
        out[col] = now == under ? over[line + (col - x)] : Mix(pixel, now, a);
      } else {
        if (a != 0) out[col] = Mix(pixel, out[col], a);
      }
    }
  }
}

void Surface::Blend(int x, int y, int width, int height, const uint8_t* mask, int pitch,
                    uint32_t pixel, const RECT& clip) {
  const RECT r = Clip(RECT{x, y, x + width, y + height}, clip);
  BlendRows<false>(x, y, r, mask, nullptr, pitch, pixel, 0);
}

void Surface::BlendOver(int x, int y, int width, int height, const uint8_t* mask,
                        const uint32_t* over, int pitch, uint32_t pixel, uint32_t under,
                        const RECT& clip) {
  const RECT r = Clip(RECT{x, y, x + width, y + height}, clip);
  BlendRows<true>(x, y, r, mask, over, pitch, pixel, under);
}

}  // namespace handheld::detail
