#include "WindowFrames.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "ScreenLayout.h"
#include "WindowDC.h"
#include "win/gdi.h"

namespace handheld::detail {
namespace {

HFONT TopBarFont() {
  static HFONT font = [] {
    LOGFONTW lf{};
    lf.lfHeight = -13;
    lf.lfWeight = FW_BOLD;
    std::u16string_view face = u"Tahoma";
    std::copy(face.begin(), face.end(), lf.lfFaceName);
    return CreateFontIndirectW(&lf);
  }();
  return font;
}

HBRUSH SystemBrush(int index) {
  return reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(index + 1));
}

}  // namespace

void WindowFrames::FillDesktop(const std::vector<RECT>& parts) {
  if (parts.empty()) return;
  HDC dc = GetDC(nullptr);
  for (const RECT& r : parts) FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  ReleaseDC(nullptr, dc);
}

void WindowFrames::DrawFrame(Frame frame) {
  if (frame.shown.empty()) return;
  const HDC dc = CreateWindowDC(POINT{0, 0}, std::move(frame.shown));
  FillRect(dc, &frame.rect, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  if (frame.hasCaption) {
    RECT bar{frame.rect.left + 1, frame.rect.top + 1, frame.rect.right - 1, frame.client.top};
    FillRect(dc, &bar, SystemBrush(COLOR_ACTIVECAPTION));
    SelectObject(dc, TopBarFont());
    SetTextColor(dc, GetSysColor(COLOR_CAPTIONTEXT));
    SetBkMode(dc, TRANSPARENT);
    bar.left += 4;
    DrawTextW(dc, frame.caption.c_str(), -1, &bar,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  ReleaseDC(nullptr, dc);
}

void WindowFrames::DrawTopBar(TopBar bar) {
  if (bar.shown.empty()) return;
  constexpr RECT kBar = ScreenLayout::kTopBar;
  constexpr RECT kOk = ScreenLayout::kOkButton;
  HDC dc = CreateWindowDC(POINT{0, 0}, std::move(bar.shown));
  FillRect(dc, &kBar, SystemBrush(COLOR_ACTIVECAPTION));
  SelectObject(dc, TopBarFont());
  SetTextColor(dc, RGB(255, 255, 255));
  SetBkMode(dc, TRANSPARENT);
  RECT text{4, 0, bar.okButton ? kOk.left - 4 : kBar.right - 4, kBar.bottom};
  DrawTextW(dc, bar.title.c_str(), -1, &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  if (bar.okButton) {
    FillRect(dc, &kOk, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetTextColor(dc, GetSysColor(COLOR_ACTIVECAPTION));
    RECT label = kOk;
    DrawTextW(dc, u"ok", -1, &label, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  ReleaseDC(nullptr, dc);
}

void WindowFrames::DrawWaitCursor() {
  constexpr int kSize = ScreenLayout::kWaitCursorSize;
  constexpr RECT kAt = ScreenLayout::kWaitCursor;
  constexpr COLORREF kQuarters[] = {RGB(255, 0, 0), RGB(255, 255, 0), RGB(0, 160, 0),
                                    RGB(0, 0, 255)};
  HDC dc = GetDC(nullptr);
  const int c = kSize / 2;
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const int dx = 2 * x + 1 - kSize, dy = 2 * y + 1 - kSize;
      const int d2 = dx * dx + dy * dy;
      const int outer = kSize * kSize;
      COLORREF color = RGB(255, 255, 255);
      if (d2 <= outer) color = kQuarters[(y < c ? 0 : 2) + ((x < c) == (y < c) ? 0 : 1)];
      if (d2 <= outer && d2 > (kSize - 3) * (kSize - 3)) color = RGB(0, 0, 0);
      const RECT dot{kAt.left + x, kAt.top + y, kAt.left + x + 1, kAt.top + y + 1};
      HBRUSH brush = CreateSolidBrush(color);
      FillRect(dc, &dot, brush);
      DeleteObject(brush);
    }
  ReleaseDC(nullptr, dc);
}

}  // namespace handheld::detail
