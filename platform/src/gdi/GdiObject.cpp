#include "GdiObject.h"

#include "FontLibrary.h"

namespace handheld::detail {

std::shared_ptr<GdiObject> GdiObject::MakeBitmap(int width, int height) {
  auto object = std::make_shared<GdiObject>(Kind::kBitmap);
  object->surface = std::make_shared<Surface>(width, height);
  return object;
}

std::shared_ptr<GdiObject> GdiObject::MakeBrush(COLORREF color) {
  auto object = std::make_shared<GdiObject>(Kind::kBrush);
  object->pixel = Surface::FromColorRef(color);
  return object;
}

std::shared_ptr<GdiObject> GdiObject::MakeFont(const LOGFONTW& font) {
  std::shared_ptr<FontFace> face = FontLibrary::Instance().Match(font);
  if (!face) return nullptr;
  auto object = std::make_shared<GdiObject>(Kind::kFont);
  object->logFont = font;
  object->face = std::move(face);
  return object;
}

}  // namespace handheld::detail
