// The drawing calls: device contexts, bitmaps, brushes, fonts and text.
// Every call takes the drawing lock for its whole length.
#include <algorithm>
#include <array>
#include <memory>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "DeviceContext.h"
#include "FontLibrary.h"
#include "GdiObject.h"
#include "HandleTable.h"
#include "ProcessLifetime.h"
#include "RecentHandles.h"
#include "Screen.h"
#include "Status.h"
#include "WindowDC.h"
#include "handheld.h"
#include "win/gdi.h"

namespace {

using handheld::detail::DeviceContext;
using handheld::detail::GdiObject;
using handheld::detail::HandleKind;
using handheld::detail::HandleTable;
using handheld::detail::ProcessLifetime;
using handheld::detail::RecentHandles;
using handheld::detail::ReportStatus;
using handheld::detail::Screen;
using handheld::detail::Status;
using handheld::detail::Surface;

constexpr int kSystemColors = 25;
constexpr int kMaxBitmapSide = 4096;
constexpr UINT kMaxTextChars = 1u << 20;

// The handheld's colour scheme, by COLOR_ index.
constexpr std::array<COLORREF, kSystemColors> kSystemColorValues = {
    RGB(192, 192, 192),  // 0 scroll bar
    RGB(0, 128, 128),    // 1 background
    RGB(0, 0, 128),      // COLOR_ACTIVECAPTION
    RGB(128, 128, 128),  // 3 inactive caption
    RGB(255, 255, 255),  // 4 menu
    RGB(255, 255, 255),  // COLOR_WINDOW
    RGB(0, 0, 0),        // COLOR_WINDOWFRAME
    RGB(0, 0, 0),        // 7 menu text
    RGB(0, 0, 0),        // COLOR_WINDOWTEXT
    RGB(255, 255, 255),  // COLOR_CAPTIONTEXT
    RGB(192, 192, 192),  // 10 active border
    RGB(192, 192, 192),  // 11 inactive border
    RGB(128, 128, 128),  // 12 application workspace
    RGB(0, 0, 128),      // COLOR_HIGHLIGHT
    RGB(255, 255, 255),  // COLOR_HIGHLIGHTTEXT
    RGB(192, 192, 192),  // COLOR_BTNFACE
    RGB(128, 128, 128),  // COLOR_BTNSHADOW
    RGB(128, 128, 128),  // COLOR_GRAYTEXT
    RGB(0, 0, 0),        // COLOR_BTNTEXT
    RGB(192, 192, 192),  // 19 inactive caption text
    RGB(255, 255, 255),  // COLOR_BTNHIGHLIGHT
    RGB(0, 0, 0),        // 21 3-D dark shadow
    RGB(223, 223, 223),  // 22 3-D light
    RGB(0, 0, 0),        // 23 tooltip text
    RGB(255, 255, 225),  // 24 tooltip background
};

// The system font: the one a fresh device context holds.
LOGFONTW SystemLogFont() {
  LOGFONTW font{};
  font.lfHeight = -handheld::detail::FontLibrary::kDefaultPixelSize;
  font.lfWeight = FW_NORMAL;
  std::u16string_view face = u"Tahoma";
  std::copy(face.begin(), face.end(), font.lfFaceName);
  return font;
}

std::shared_ptr<GdiObject> Register(std::shared_ptr<GdiObject> object, bool stock) {
  object->stock = stock;
  object->handle = HandleTable::Add(HandleKind::kGdiObject, object);
  return object;
}

// The system's own objects, made on first use; used under the drawing lock.
struct Stock {
  std::shared_ptr<GdiObject> systemFont;
  std::shared_ptr<GdiObject> whiteBrush;
  std::shared_ptr<GdiObject> blackBrush;
  std::shared_ptr<GdiObject> emptyBitmap;  // a memory device context's first bitmap
  std::array<std::shared_ptr<GdiObject>, kSystemColors> colorBrushes;

  Stock() {
    std::shared_ptr<GdiObject> font = GdiObject::MakeFont(SystemLogFont());
    if (!font) {  // no font files: text measures and draws nothing
      font = std::make_shared<GdiObject>(GdiObject::Kind::kFont);
      font->logFont = SystemLogFont();
    }
    systemFont = Register(font, true);
    whiteBrush = Register(GdiObject::MakeBrush(RGB(255, 255, 255)), true);
    blackBrush = Register(GdiObject::MakeBrush(RGB(0, 0, 0)), true);
    emptyBitmap = Register(GdiObject::MakeBitmap(1, 1), true);
  }
};

Stock& TheStock() { return ProcessLifetime<Stock>::Get(); }  // device contexts may outlive main

// The handles the drawing calls look up, under the drawing lock.
struct Recent {
  RecentHandles<DeviceContext, 4> dcs{HandleKind::kDeviceContext};
  RecentHandles<GdiObject, 8> objects{HandleKind::kGdiObject};
};

Recent& TheRecent() { return ProcessLifetime<Recent>::Get(); }

DeviceContext* FindDC(HDC dc) { return TheRecent().dcs.FindObject(dc); }

GdiObject* FindObject(HGDIOBJ object) { return TheRecent().objects.FindObject(object); }

GdiObject* FindObject(HGDIOBJ object, GdiObject::Kind kind) {
  GdiObject* found = FindObject(object);
  return found && found->kind == kind ? found : nullptr;
}

// Removes a handle the caller found open.
Status RemoveDC(HDC dc) {
  TheRecent().dcs.Forget(dc);
  return HandleTable::Remove(HandleKind::kDeviceContext, dc);
}

Status RemoveObject(HGDIOBJ object) {
  TheRecent().objects.Forget(object);
  return HandleTable::Remove(HandleKind::kGdiObject, object);
}

// Reports a failure to the caller; returns `result`.
template <class T>
T Fail(Status status, T result) {
  ReportStatus(status);
  return result;
}

int SystemColorIndex(int index) {
  index &= ~SYS_COLOR_INDEX_FLAG;
  return index >= 0 && index < kSystemColors ? index : -1;
}

HDC AddDC(const std::shared_ptr<DeviceContext>& dc) {
  dc->handle = HandleTable::Add<HDC>(HandleKind::kDeviceContext, dc);
  return dc->handle;
}

std::u16string_view TextOf(LPCWSTR text, int count) {
  if (!text) return {};
  return std::u16string_view(text, count < 0 ? wcslen(text) : static_cast<size_t>(count));
}

}  // namespace

namespace handheld::detail {

HDC CreateWindowDC(POINT origin, std::vector<RECT> visible) {
  Screen::Instance();  // made before the lock: its presenter takes the lock too
  std::lock_guard<std::mutex> lock(Surface::DrawingLock());
  Stock& stock = TheStock();
  auto dc = DeviceContext::CreateForScreen(origin, std::move(visible), stock.systemFont,
                                           stock.whiteBrush);
  dc->fromGetDC = true;
  return AddDC(dc);
}

}  // namespace handheld::detail

int ReleaseDC(HWND, HDC dc) {
  std::lock_guard<std::mutex> lock(Surface::DrawingLock());
  auto found = FindDC(dc);
  if (!found) return Fail(ERROR_INVALID_HANDLE, 0);
  if (!found->fromGetDC) return Fail(ERROR_INVALID_PARAMETER, 0);  // DeleteDC's
  return ReportStatus(RemoveDC(dc)) ? 1 : 0;
}

HDC CreateCompatibleDC(HDC dc) {
  std::lock_guard<std::mutex> lock(Surface::DrawingLock());
  if (dc && !FindDC(dc)) return Fail(ERROR_INVALID_HANDLE, HDC{});
  Stock& stock = TheStock();
  return AddDC(DeviceContext::CreateMemory(stock.systemFont, stock.whiteBrush, stock.emptyBitmap));
}

BOOL DeleteDC(HDC dc) {
  std::lock_guard<std::mutex> lock(Surface::DrawingLock());
  auto found = FindDC(dc);
  if (!found) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (found->fromGetDC) return Fail(ERROR_INVALID_PARAMETER, FALSE);  // ReleaseDC's
  return ReportStatus(RemoveDC(dc));
}

int GetDeviceCaps(HDC dc, int index) {
  std::lock_guard<std::mutex> lock(Surface::DrawingLock());
  if (!FindDC(dc)) return Fail(ERROR_INVALID_HANDLE, 0);
  switch (index) {
    case HORZRES: return Screen::kWidth;
    case VERTRES: return Screen::kHeight;
    case BITSPIXEL: return 32;
    case LOGPIXELSX:
    case LOGPIXELSY: return Screen::kDotsPerInch;
    default: return 0;
  }
}

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
  std::lock_guard<std::mutex> lock(Surface::DrawingLock());
  if (!FindDC(dc)) return Fail(ERROR_INVALID_HANDLE, HBITMAP{});
  if (width <= 0 || height <= 0 || width > kMaxBitmapSide || height > kMaxBitmapSide)
    return Fail(ERROR_INVALID_PARAMETER, HBITMAP{});
  return static_cast<HBITMAP>(Register(GdiObject::MakeBitmap(width, height), false)->handle);
}

HBRUSH CreateSolidBrush(COLORREF color) {
  std::lock_guard<std::mutex> lock(Surface::DrawingLock());
  return static_cast<HBRUSH>(Register(GdiObject::MakeBrush(color & 0xFFFFFFu), false)->handle);
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  std::lock_guard<std::mutex> lock(Surface::DrawingLock());
  DeviceContext* context = FindDC(dc);
  const std::shared_ptr<GdiObject>* selected = TheRecent().objects.Find(object);
  if (!context || !selected) return Fail(ERROR_INVALID_HANDLE, HGDIOBJ{});
  std::shared_ptr<GdiObject> previous;
  Status status = context->Select(*selected, &previous);
  if (!status.ok()) return Fail(status, HGDIOBJ{});
  return previous->handle;
}

BOOL DeleteObject(HGDIOBJ object) {
  std::lock_guard<std::mutex> lock(Surface::DrawingLock());
  auto found = FindObject(object);
  if (!found) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (found->stock) return TRUE;
  if (found->selections > 0) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  return ReportStatus(RemoveObject(object));
}

HGDIOBJ GetStockObject(int object) {
  std::lock_guard<std::mutex> lock(Surface::DrawingLock());
  Stock& stock = TheStock();
  switch (object) {
    case WHITE_BRUSH: return stock.whiteBrush->handle;
    case BLACK_BRUSH: return stock.blackBrush->handle;
    case SYSTEM_FONT:
    case DEFAULT_GUI_FONT: return stock.systemFont->handle;
    default: return Fail(ERROR_INVALID_PARAMETER, HGDIOBJ{});
  }
}

DWORD GetSysColor(int index) {
  int i = SystemColorIndex(index);
  return i < 0 ? 0 : kSystemColorValues[static_cast<size_t>(i)];
}

HBRUSH GetSysColorBrush(int index) {
  int i = SystemColorIndex(index);
  if (i < 0) return Fail(ERROR_INVALID_PARAMETER, HBRUSH{});
  std::lock_guard<std::mutex> lock(Surface::DrawingLock());
  auto& brush = TheStock().colorBrushes[static_cast<size_t>(i)];
  if (!brush) brush = Register(GdiObject::MakeBrush(kSystemColorValues[static_cast<size_t>(i)]), true);
  return static_cast<HBRUSH>(brush->handle);
}

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
  std::lock_guard<std::mutex> lock(Surface::DrawingLock());
  auto context = FindDC(dc);
  if (!context) return Fail(ERROR_INVALID_HANDLE, 0);
  if (!rect) return Fail(ERROR_INVALID_PARAMETER, 0);
  uint32_t pixel;
  const uintptr_t value = reinterpret_cast<uintptr_t>(brush);
  if (value >= 1 && value <= kSystemColors) {  // a system colour index plus one
    pixel = Surface::FromColorRef(kSystemColorValues[value - 1]);
  } else {
    auto found = FindObject(brush, GdiObject::Kind::kBrush);
    if (!found) return Fail(ERROR_INVALID_HANDLE, 0);
    pixel = found->pixel;
  }
  context->Fill(*rect, pixel);
  return 1;
}

COLORREF GetPixel(HDC dc, int x, int y) {
  std::lock_guard<std::mutex> lock(Surface::DrawingLock());
  auto context = FindDC(dc);
  if (!context) return Fail(ERROR_INVALID_HANDLE, CLR_INVALID);
  return context->PixelAt(x, y);
}

BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
            DWORD rop) {
  std::lock_guard<std::mutex> lock(Surface::DrawingLock());
  auto to = FindDC(dest);
  auto from = FindDC(source);
  if (!to || !from) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (rop != SRCCOPY) return Fail(ERROR_NOT_SUPPORTED, FALSE);
  to->CopyFrom(x, y, width, height, *from, sourceX, sourceY);
  return TRUE;
}

COLORREF SetTextColor(HDC dc, COLORREF color) {
  std::lock_guard<std::mutex> lock(Surface::DrawingLock());
  auto context = FindDC(dc);
  if (!context) return Fail(ERROR_INVALID_HANDLE, COLORREF{CLR_INVALID});
  return std::exchange(context->textColor, color & 0xFFFFFFu);
}

COLORREF SetBkColor(HDC dc, COLORREF color) {
  std::lock_guard<std::mutex> lock(Surface::DrawingLock());
  auto context = FindDC(dc);
  if (!context) return Fail(ERROR_INVALID_HANDLE, COLORREF{CLR_INVALID});
  return std::exchange(context->backgroundColor, color & 0xFFFFFFu);
}

int SetBkMode(HDC dc, int mode) {
  std::lock_guard<std::mutex> lock(Surface::DrawingLock());
  auto context = FindDC(dc);
  if (!context) return Fail(ERROR_INVALID_HANDLE, 0);
  if (mode != TRANSPARENT && mode != OPAQUE) return Fail(ERROR_INVALID_PARAMETER, 0);
  return std::exchange(context->backgroundMode, mode);
}

HFONT CreateFontIndirectW(const LOGFONTW* font) {
  if (!font) return Fail(ERROR_INVALID_PARAMETER, HFONT{});
  std::lock_guard<std::mutex> lock(Surface::DrawingLock());
  auto made = GdiObject::MakeFont(*font);
  if (!made) return Fail(ERROR_GEN_FAILURE, HFONT{});  // no font file to be had
  return static_cast<HFONT>(Register(made, false)->handle);
}

BOOL GetTextMetricsW(HDC dc, LPTEXTMETRICW metrics) {
  std::lock_guard<std::mutex> lock(Surface::DrawingLock());
  auto context = FindDC(dc);
  if (!context) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!metrics) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  const GdiObject& font = context->font();
  *metrics = TEXTMETRICW{};
  if (font.face) {
    const auto& m = font.face->metrics();
    metrics->tmHeight = m.height;
    metrics->tmAscent = m.ascent;
    metrics->tmDescent = m.descent;
    metrics->tmInternalLeading = m.internalLeading;
    metrics->tmExternalLeading = m.externalLeading;
    metrics->tmAveCharWidth = m.aveCharWidth;
    metrics->tmMaxCharWidth = m.maxCharWidth;
  }
  metrics->tmWeight = font.logFont.lfWeight <= 0 ? FW_NORMAL : font.logFont.lfWeight;
  metrics->tmDigitizedAspectX = metrics->tmDigitizedAspectY = Screen::kDotsPerInch;
  metrics->tmFirstChar = u' ';
  metrics->tmLastChar = u'\xFFFC';
  metrics->tmDefaultChar = u'?';
  metrics->tmBreakChar = u' ';
  metrics->tmItalic = font.logFont.lfItalic ? 1 : 0;
  metrics->tmPitchAndFamily = 0x27;  // variable pitch, vector, TrueType, swiss
  return TRUE;
}

BOOL GetTextExtentPoint32W(HDC dc, LPCWSTR text, int count, LPSIZE size) {
  std::lock_guard<std::mutex> lock(Surface::DrawingLock());
  auto context = FindDC(dc);
  if (!context) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!size || count < 0 || (!text && count > 0)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  size->cx = context->TextWidth(TextOf(text, count));
  size->cy = context->font().face ? context->font().face->metrics().height : 0;
  return TRUE;
}

BOOL ExtTextOutW(HDC dc, int x, int y, UINT options, const RECT* rect, LPCWSTR text, UINT count,
                 const int* dx) {
  std::lock_guard<std::mutex> lock(Surface::DrawingLock());
  auto context = FindDC(dc);
  if (!context) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if ((!text && count > 0) || count > kMaxTextChars) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  context->TextOut(x, y, options, rect, TextOf(text, static_cast<int>(count)), dx);
  return TRUE;
}

int DrawTextW(HDC dc, LPCWSTR text, int count, LPRECT rect, UINT format) {
  std::lock_guard<std::mutex> lock(Surface::DrawingLock());
  auto context = FindDC(dc);
  if (!context) return Fail(ERROR_INVALID_HANDLE, 0);
  if (!rect || (!text && count != 0)) return Fail(ERROR_INVALID_PARAMETER, 0);
  return context->DrawText(TextOf(text, count), rect, format);
}
