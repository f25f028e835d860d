#include "DeviceContext.h"

#include <algorithm>
#include <climits>
#include <string>

#include "Screen.h"
#include "TextLayout.h"

namespace handheld::detail {
namespace {

constexpr RECT kEverywhere{INT_MIN / 4, INT_MIN / 4, INT_MAX / 4, INT_MAX / 4};

RECT Intersect(const RECT& a, const RECT& b) {
  return RECT{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
              std::min(a.bottom, b.bottom)};
}

// Calls `each(codePoint, index of its first unit)` along UTF-16 text.
template <class Each>
void ForEachCodePoint(std::u16string_view text, Each each) {
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    size_t first = i;
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    each(c, first);
  }
}

void Hold(const std::shared_ptr<GdiObject>& object) {
  if (object) ++object->selections;
}
void Drop(const std::shared_ptr<GdiObject>& object) {
  if (object) --object->selections;
}

}  // namespace

DeviceContext::DeviceContext(bool onScreen, POINT origin, std::vector<RECT> clips)
    : onScreen_(onScreen), origin_(origin), clips_(std::move(clips)) {}

std::shared_ptr<DeviceContext> DeviceContext::CreateMemory(std::shared_ptr<GdiObject> systemFont,
                                                           std::shared_ptr<GdiObject> whiteBrush,
                                                           std::shared_ptr<GdiObject> emptyBitmap) {
  std::shared_ptr<DeviceContext> dc(new DeviceContext(false, POINT{0, 0}, {kEverywhere}));
  dc->font_ = std::move(systemFont);
  dc->brush_ = std::move(whiteBrush);
  dc->bitmap_ = std::move(emptyBitmap);
  Hold(dc->font_);
  Hold(dc->brush_);
  Hold(dc->bitmap_);
  return dc;
}

std::shared_ptr<DeviceContext> DeviceContext::CreateForScreen(POINT origin, const RECT& clip,
                                                              std::shared_ptr<GdiObject> systemFont,
                                                              std::shared_ptr<GdiObject> whiteBrush) {
  return CreateForScreen(origin, std::vector<RECT>{clip}, std::move(systemFont),
                         std::move(whiteBrush));
}

std::shared_ptr<DeviceContext> DeviceContext::CreateForScreen(POINT origin,
                                                              std::vector<RECT> visible,
                                                              std::shared_ptr<GdiObject> systemFont,
                                                              std::shared_ptr<GdiObject> whiteBrush) {
  std::shared_ptr<DeviceContext> dc(new DeviceContext(true, origin, std::move(visible)));
  dc->font_ = std::move(systemFont);
  dc->brush_ = std::move(whiteBrush);
  Hold(dc->font_);
  Hold(dc->brush_);
  return dc;
}

DeviceContext::~DeviceContext() {
  Drop(font_);
  Drop(brush_);
  Drop(bitmap_);
}

Status DeviceContext::Select(const std::shared_ptr<GdiObject>& object,
                             std::shared_ptr<GdiObject>* previous) {
  std::shared_ptr<GdiObject>* slot = nullptr;
  switch (object->kind) {
    case GdiObject::Kind::kFont: slot = &font_; break;
    case GdiObject::Kind::kBrush: slot = &brush_; break;
    case GdiObject::Kind::kBitmap:
      if (onScreen_) return ERROR_INVALID_PARAMETER;
      if (object != bitmap_ && object->selections > 0 && !object->stock)
        return ERROR_INVALID_PARAMETER;
      slot = &bitmap_;
      break;
  }
  Hold(object);
  Drop(*slot);
  *previous = std::move(*slot);
  *slot = object;
  return Status::Ok();
}

Surface* DeviceContext::Target() {
  if (onScreen_) return &Screen::Instance().surface();
  return bitmap_ ? bitmap_->surface.get() : nullptr;
}

void DeviceContext::Changed() {
  if (onScreen_) Screen::Instance().Changed();
}

RECT DeviceContext::ToTarget(const RECT& rect) const {
  return RECT{rect.left + origin_.x, rect.top + origin_.y, rect.right + origin_.x,
              rect.bottom + origin_.y};
}

void DeviceContext::Fill(const RECT& rect, uint32_t pixel) {
  Surface* target = Target();
  if (!target) return;
  for (const RECT& clip : clips_) target->Fill(ToTarget(rect), clip, pixel);
  Changed();
}

COLORREF DeviceContext::PixelAt(int x, int y) {
  Surface* target = Target();
  if (!target) return CLR_INVALID;
  const LONG tx = x + origin_.x, ty = y + origin_.y;
  for (const RECT& clip : clips_) {
    if (tx < clip.left || tx >= clip.right || ty < clip.top || ty >= clip.bottom) continue;
    if (tx < 0 || ty < 0 || tx >= target->width() || ty >= target->height()) break;
    const uint32_t p = target->Pixel(tx, ty);
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  }
  return CLR_INVALID;
}

void DeviceContext::CopyFrom(int x, int y, int width, int height, DeviceContext& source,
                             int sourceX, int sourceY) {
  Surface* target = Target();
  Surface* from = source.Target();
  if (!target || !from) return;
  // What lies outside the source's clip rectangle is not copied either.
  const RECT block = source.ToTarget(RECT{sourceX, sourceY, sourceX + width, sourceY + height});
  const LONG dx = x + origin_.x - (sourceX + source.origin_.x);
  const LONG dy = y + origin_.y - (sourceY + source.origin_.y);
  for (const RECT& sourceClip : source.clips_) {
    const RECT visible = Intersect(block, sourceClip);
    for (const RECT& targetClip : clips_) {
      RECT clip = Intersect(targetClip, RECT{visible.left + dx, visible.top + dy,
                                             visible.right + dx, visible.bottom + dy});
      target->Copy(x + origin_.x, y + origin_.y, width, height, *from,
                   sourceX + source.origin_.x, sourceY + source.origin_.y, clip);
    }
  }
  Changed();
}

int DeviceContext::TextWidth(std::u16string_view text) {
  if (!font_->face) return 0;
  FontFace& face = *font_->face;
  int width = 0;
  ForEachCodePoint(text, [&](char32_t c, size_t) { width += face.Advance(c); });
  return width;
}

int DeviceContext::LineWidth(std::u16string_view text, const int* dx) {
  if (!dx) return TextWidth(text);
  int width = 0;
  size_t n = 0;
  ForEachCodePoint(text, [&](char32_t, size_t) { width += dx[n++]; });
  return width;
}

void DeviceContext::DrawLine(int x, int y, std::u16string_view text, const int* dx, int width,
                             const RECT& clip, size_t underline) {
  for (const RECT& visible : clips_)
    DrawLineIn(x, y, text, dx, width, Intersect(visible, ToTarget(clip)), underline);
}

void DeviceContext::DrawLineIn(int x, int y, std::u16string_view text, const int* dx, int width,
                               const RECT& limit, size_t underline) {
  Surface* target = Target();
  if (!target || !font_->face) return;
  FontFace& face = *font_->face;
  const FontFace::Metrics& metrics = face.metrics();
  const int left = x + origin_.x, top = y + origin_.y;
  // The filled cell holds the background alone until the glyphs pass.
  FontFace::Plain cell{RECT{left, top, left + width, top + metrics.height},
                       Surface::FromColorRef(backgroundColor)};
  FontFace::Plain* plain = nullptr;
  if (backgroundMode == OPAQUE) {
    target->Fill(cell.rect, limit, cell.pixel);
    plain = &cell;
  }
  const uint32_t ink = Surface::FromColorRef(textColor);
  const int baseline = top + metrics.ascent;
  int pen = left;
  size_t n = 0;
  ForEachCodePoint(text, [&](char32_t c, size_t index) {
    const int advance = face.Draw(*target, c, pen, baseline, ink, limit, plain);
    const int step = dx ? dx[n++] : advance;
    if (index == underline) {
      target->Fill(RECT{pen, baseline + 1, pen + advance, baseline + 2}, limit, ink);
      cell.rect.left = std::max<LONG>(cell.rect.left, pen + advance);
    }
    pen += step;
  });
  Changed();
}

void DeviceContext::TextOut(int x, int y, UINT options, const RECT* rect,
                            std::u16string_view text, const int* dx) {
  if (rect && (options & ETO_OPAQUE)) Fill(*rect, Surface::FromColorRef(backgroundColor));
  DrawLine(x, y, text, dx, LineWidth(text, dx),
           rect && (options & ETO_CLIPPED) ? *rect : kEverywhere, std::u16string::npos);
}

int DeviceContext::DrawText(std::u16string_view text, RECT* rect, UINT format) {
  const int lineHeight = font_->face ? font_->face->metrics().height : 0;
  const TextLayout layout(text, format, rect->right - rect->left,
                          TextLayout::Measure{[](void* dc, std::u16string_view line) {
                                                return static_cast<DeviceContext*>(dc)->TextWidth(line);
                                              },
                                              this});
  const int height = lineHeight * static_cast<int>(layout.lines().size());
  if (format & DT_CALCRECT) {
    rect->right = rect->left + layout.widest();
    rect->bottom = rect->top + height;
    return height;
  }
  const RECT clip = (format & DT_NOCLIP) ? kEverywhere : *rect;
  int y = rect->top;
  if ((format & DT_SINGLELINE) && (format & DT_VCENTER))
    y += (rect->bottom - rect->top - lineHeight) / 2;
  const std::u16string_view all = layout.text();
  for (const TextLayout::Line& line : layout.lines()) {
    int x = rect->left;
    if (format & DT_CENTER) x += (rect->right - rect->left - line.width) / 2;
    size_t underline = layout.underline() >= line.begin && layout.underline() < line.end
                           ? layout.underline() - line.begin
                           : std::u16string::npos;
    DrawLine(x, y, all.substr(line.begin, line.end - line.begin), nullptr, line.width, clip,
             underline);
    y += lineHeight;
  }
  return height;
}

}  // namespace handheld::detail
