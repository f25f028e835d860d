#include "Surface.h"

#include <algorithm>
#include <cstring>

#include "ProcessLifetime.h"

namespace handheld::detail {

Surface::Surface(int width, int height)
    : width_(std::max(width, 0)), height_(std::max(height, 0)),
      pixels_(static_cast<size_t>(width_) * height_, 0),
      rowColour_(static_cast<size_t>(height_), 0) {}

void Surface::Mixed(LONG top, LONG bottom) {
  for (LONG row = top; row < bottom; ++row) rowColour_[static_cast<size_t>(row)] = kMixed;
}

std::mutex& Surface::DrawingLock() {
  struct Lock {
    std::mutex mutex;
  };
  return ProcessLifetime<Lock>::Get().mutex;  // the presenter draws until exit
}

namespace {

// Four pixels in one 16-byte vector (GCC's and clang's vector types): what
// the rows below store and compare at a time.
typedef uint32_t Pixels4 __attribute__((vector_size(16)));
constexpr size_t kLanes = 4;

Pixels4 Load4(const uint32_t* from) {
  Pixels4 v;
  std::memcpy(&v, from, sizeof v);
  return v;
}

void Store4(uint32_t* to, Pixels4 v) { std::memcpy(to, &v, sizeof v); }

bool AllZero(Pixels4 v) {
  uint64_t halves[2];
  std::memcpy(halves, &v, sizeof halves);
  return (halves[0] | halves[1]) == 0;
}

}  // namespace

void Surface::FillRow(uint32_t* out, size_t count, uint32_t pixel) {
  const Pixels4 four = {pixel, pixel, pixel, pixel};
  size_t i = 0;
  for (; i + 4 * kLanes <= count; i += 4 * kLanes) {  // a cache line a turn
    Store4(out + i, four);
    Store4(out + i + kLanes, four);
    Store4(out + i + 2 * kLanes, four);
    Store4(out + i + 3 * kLanes, four);
  }
  for (; i + kLanes <= count; i += kLanes) Store4(out + i, four);
  for (; i < count; ++i) out[i] = pixel;
}

inline void Surface::CopyRow(uint32_t* out, const uint32_t* from, size_t count) {
  size_t i = 0;
  for (; i + kLanes <= count; i += kLanes) Store4(out + i, Load4(from + i));
  for (; i < count; ++i) out[i] = from[i];
}

void Surface::Fill(const RECT& rect, const RECT& clip, uint32_t pixel) {
  RECT r = Clip(rect, clip);
  if (r.right <= r.left || r.bottom <= r.top) return;
  const size_t count = static_cast<size_t>(r.right - r.left);
  const size_t stride = static_cast<size_t>(width_);
  uint32_t* out = &pixels_[static_cast<size_t>(r.top) * stride + r.left];
  for (LONG row = r.top; row < r.bottom; ++row, out += stride) {
    uint64_t& colour = rowColour_[static_cast<size_t>(row)];
    if (colour == pixel) continue;  // the row holds it already
    FillRow(out, count, pixel);
    colour = count == stride ? pixel : kMixed;
  }
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
    const uint64_t from = source.rowColour_[static_cast<size_t>(row - dy)];
    uint64_t& to = rowColour_[static_cast<size_t>(row)];
    if (from != kMixed && from == to) return;  // both rows all the same colour
    std::memmove(&pixels_[static_cast<size_t>(row) * width_ + r.left],
                 &source.pixels_[static_cast<size_t>(row - dy) * source.width_ + (r.left - dx)],
                 count * sizeof(uint32_t));
    to = count == static_cast<size_t>(width_) ? from : kMixed;
  };
  // Rows in the order that keeps an overlapping copy within one surface
  // right: each source row, and what it says of itself, read before it is
  // written.
  if (&source == this && dy > 0) {
    for (LONG row = r.bottom - 1; row >= r.top; --row) copyRow(row);
  } else {
    for (LONG row = r.top; row < r.bottom; ++row) copyRow(row);
  }
}

void Surface::Put(int x, int y, int width, int height, const uint32_t* from, int pitch,
                  const RECT& clip) {
  const RECT r = Clip(RECT{x, y, x + width, y + height}, clip);
  if (r.right <= r.left) return;
  const size_t count = static_cast<size_t>(r.right - r.left);
  const size_t stride = static_cast<size_t>(width_);  // not read again after each store
  uint32_t* out = &pixels_[static_cast<size_t>(r.top) * stride + r.left];
  from += static_cast<ptrdiff_t>(r.top - y) * pitch + (r.left - x);
  Mixed(r.top, r.bottom);
  for (LONG row = r.top; row < r.bottom; ++row, out += stride, from += pitch)
    CopyRow(out, from, count);
}

void Surface::BlendOverRow(uint32_t* out, const uint8_t* coverage, const uint32_t* over,
                           size_t count, uint32_t pixel, uint32_t under) {
  // Where the surface holds `under` (coverage 0 included), the precomputed
  // blend; elsewhere the blend itself.
  auto one = [&](size_t i) {
    out[i] = out[i] == under ? over[i] : Mix(pixel, out[i], coverage[i]);
  };
  const Pixels4 plain = {under, under, under, under};
  size_t i = 0;
  for (; i + kLanes <= count; i += kLanes) {
    if (AllZero(Load4(out + i) ^ plain)) {
      Store4(out + i, Load4(over + i));
    } else {
      for (size_t lane = i; lane < i + kLanes; ++lane) one(lane);
    }
  }
  for (; i < count; ++i) one(i);
}

template <bool kOver>
void Surface::BlendRows(int x, int y, const RECT& r, const uint8_t* mask, const uint32_t* over,
                        int pitch, uint32_t pixel, uint32_t under) {
  if (r.right <= r.left) return;
  const size_t count = static_cast<size_t>(r.right - r.left);
  const size_t stride = static_cast<size_t>(width_);
  uint32_t* out = &pixels_[static_cast<size_t>(r.top) * stride + r.left];
  Mixed(r.top, r.bottom);
  for (LONG row = r.top; row < r.bottom; ++row, out += stride) {
    const ptrdiff_t line = static_cast<ptrdiff_t>(row - y) * pitch + (r.left - x);
    if constexpr (kOver) {
      BlendOverRow(out, mask + line, over + line, count, pixel, under);
    } else {
      for (size_t i = 0; i < count; ++i)
        if (mask[line + i] != 0) out[i] = Mix(pixel, out[i], mask[line + i]);
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
