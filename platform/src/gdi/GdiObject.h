// A drawing object: a bitmap (its pixels), a solid brush (its colour) or a
// font (its LOGFONT and the face that renders it). Stock objects belong to
// the system and are never deleted. An object selected into a device
// context cannot be deleted; `selections` counts where it is selected.
// Fields change under Surface::DrawingLock(). Handles of every class are of
// the kind HandleKind::kGdiObject.
#pragma once

#include <memory>

#include "FontFace.h"
#include "HandleTable.h"
#include "Surface.h"
#include "win/gdi.h"

namespace handheld::detail {

class GdiObject : public HandleObject {
 public:
  enum class Kind { kBitmap, kBrush, kFont };

  static std::shared_ptr<GdiObject> MakeBitmap(int width, int height);
  static std::shared_ptr<GdiObject> MakeBrush(COLORREF color);
  // Null when no face can be had for the font.
  static std::shared_ptr<GdiObject> MakeFont(const LOGFONTW& font);

  explicit GdiObject(Kind kind) : kind(kind) {}

  const Kind kind;
  HGDIOBJ handle = nullptr;  // set once the object has one
  bool stock = false;
  int selections = 0;
  // kBitmap
  std::shared_ptr<Surface> surface;
  // kBrush
  uint32_t pixel = 0;
  // kFont
  LOGFONTW logFont{};
  std::shared_ptr<FontFace> face;
};

}  // namespace handheld::detail
