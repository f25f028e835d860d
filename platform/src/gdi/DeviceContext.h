// A device context: where drawing goes (the screen, or the bitmap selected
// into a memory device context), its origin and clip rectangle, the
// selected brush, font and bitmap, and the text colours and mode.
// Logical (0, 0) lies at the origin; drawing never leaves the clip
// rectangle (target coordinates) or the target.
//
// The window system makes each window's device context with
// CreateForScreen: the client area's screen position as origin and its
// visible part as clip rectangle.
//
// Every member is used under Surface::DrawingLock().
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "GdiObject.h"
#include "HandleTable.h"
#include "Status.h"
#include "win/gdi.h"

namespace handheld::detail {

class DeviceContext : public HandleObject {
 public:
  static std::shared_ptr<DeviceContext> CreateMemory(std::shared_ptr<GdiObject> systemFont,
                                                     std::shared_ptr<GdiObject> whiteBrush,
                                                     std::shared_ptr<GdiObject> emptyBitmap);
  static std::shared_ptr<DeviceContext> CreateForScreen(POINT origin, const RECT& clip,
                                                        std::shared_ptr<GdiObject> systemFont,
                                                        std::shared_ptr<GdiObject> whiteBrush);
  // A window's: drawing stays inside the union of `visible` (disjoint
  // rectangles, screen coordinates), what windows above leave of it.
  static std::shared_ptr<DeviceContext> CreateForScreen(POINT origin, std::vector<RECT> visible,
                                                        std::shared_ptr<GdiObject> systemFont,
                                                        std::shared_ptr<GdiObject> whiteBrush);
  ~DeviceContext() override;
  DeviceContext(const DeviceContext&) = delete;
  DeviceContext& operator=(const DeviceContext&) = delete;

  bool IsMemory() const { return !onScreen_; }
  HDC handle = nullptr;    // set once it has one
  bool fromGetDC = false;  // released by ReleaseDC, not deleted by DeleteDC

  // Puts the object in place of the selected one of its kind and gives
  // that one back; ERROR_INVALID_PARAMETER for a bitmap that cannot be
  // selected here (into a screen device context, or while selected
  // elsewhere).
  Status Select(const std::shared_ptr<GdiObject>& object, std::shared_ptr<GdiObject>* previous);
  const GdiObject& font() const { return *font_; }

  COLORREF textColor = RGB(0, 0, 0);
  COLORREF backgroundColor = RGB(255, 255, 255);
  int backgroundMode = OPAQUE;

  void Fill(const RECT& rect, uint32_t pixel);
  // The pixel at a logical point inside the clip, as a COLORREF; CLR_INVALID
  // outside it or without a surface.
  COLORREF PixelAt(int x, int y);
  void CopyFrom(int x, int y, int width, int height, DeviceContext& source, int sourceX,
                int sourceY);
  int TextWidth(std::u16string_view text);
  // ETO_OPAQUE fills `rect` with the background colour; ETO_CLIPPED keeps
  // the text inside it. `dx`, if given, holds each character's advance.
  void TextOut(int x, int y, UINT options, const RECT* rect, std::u16string_view text,
               const int* dx);
  int DrawText(std::u16string_view text, RECT* rect, UINT format);

 private:
  DeviceContext(bool onScreen, POINT origin, std::vector<RECT> clips);
  Surface* Target();
  RECT ToTarget(const RECT& rect) const;
  // The width of a line drawn with advances `dx`, or the font's if null.
  int LineWidth(std::u16string_view text, const int* dx);
  // Draws one line of text, `width` wide, with its cell's top left at
  // logical (x, y); `underline` indexes the character to underline, or is
  // npos.
  void DrawLine(int x, int y, std::u16string_view text, const int* dx, int width,
                const RECT& clip, size_t underline);
  void DrawLineIn(int x, int y, std::u16string_view text, const int* dx, int width,
                  const RECT& limit, size_t underline);
  void Changed();

  const bool onScreen_;
  const POINT origin_;
  const std::vector<RECT> clips_;  // target coordinates, disjoint
  std::shared_ptr<GdiObject> font_;
  std::shared_ptr<GdiObject> brush_;
  std::shared_ptr<GdiObject> bitmap_;  // memory device contexts
};

}  // namespace handheld::detail
