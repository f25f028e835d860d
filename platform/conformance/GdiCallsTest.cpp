// Drawing as the viewer does it: off screen into a memory device context
// with a compatible bitmap, copied with BitBlt; text measured and laid out
// in a font made from a LOGFONT. Fonts differ between systems, so the text
// cases check how the measures relate, not their values.
#include <cstring>

#include "Conformance.h"

namespace {

class Gdi : public ::testing::Test {
 protected:
  void SetUp() override {
    screen_ = GetDC(nullptr);
    ASSERT_NE(screen_, nullptr);
    memory_ = CreateCompatibleDC(screen_);
    ASSERT_NE(memory_, nullptr);
    bitmap_ = CreateCompatibleBitmap(screen_, 16, 8);
    ASSERT_NE(bitmap_, nullptr);
    old_ = SelectObject(memory_, bitmap_);
    ASSERT_NE(old_, nullptr);
  }
  void TearDown() override {
    if (memory_ != nullptr) {
      SelectObject(memory_, old_);
      DeleteDC(memory_);
    }
    if (bitmap_ != nullptr) {
      EXPECT_TRUE(DeleteObject(bitmap_));
    }
    if (screen_ != nullptr) ReleaseDC(nullptr, screen_);
  }
  void Fill(HDC dc, RECT rect, COLORREF color) {
    HBRUSH brush = CreateSolidBrush(color);
    EXPECT_NE(FillRect(dc, &rect, brush), 0);
    DeleteObject(brush);
  }
  HDC screen_ = nullptr;
  HDC memory_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
};

TEST_F(Gdi, FillRectAndBitBltPutTheirPixelsWhereAsked) {
  const COLORREF white = RGB(255, 255, 255), red = RGB(255, 0, 0), blue = RGB(0, 0, 255);
  Fill(memory_, RECT{0, 0, 16, 8}, white);
  Fill(memory_, RECT{4, 2, 8, 6}, red);  // right and bottom edges are left out
  EXPECT_EQ(GetPixel(memory_, 0, 0), white);
  EXPECT_EQ(GetPixel(memory_, 4, 2), red);
  EXPECT_EQ(GetPixel(memory_, 7, 5), red);
  EXPECT_EQ(GetPixel(memory_, 8, 5), white);
  EXPECT_EQ(GetPixel(memory_, 7, 6), white);
  // The system colour brushes are a colour index plus one.
  RECT corner{15, 7, 16, 8};
  EXPECT_NE(FillRect(memory_, &corner, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1)), 0);
  EXPECT_EQ(GetPixel(memory_, 15, 7), GetSysColor(COLOR_WINDOW));

  HDC other = CreateCompatibleDC(screen_);
  HBITMAP otherBitmap = CreateCompatibleBitmap(screen_, 16, 8);
  HGDIOBJ otherOld = SelectObject(other, otherBitmap);
  Fill(other, RECT{0, 0, 16, 8}, blue);
  EXPECT_TRUE(BitBlt(other, 10, 1, 4, 4, memory_, 4, 2, SRCCOPY));
  EXPECT_EQ(GetPixel(other, 10, 1), red);
  EXPECT_EQ(GetPixel(other, 13, 4), red);
  EXPECT_EQ(GetPixel(other, 9, 1), blue);
  EXPECT_EQ(GetPixel(other, 14, 1), blue);
  EXPECT_EQ(GetPixel(other, 10, 5), blue);
  EXPECT_EQ(GetPixel(other, 16, 0), CLR_INVALID);  // outside the bitmap
  SelectObject(other, otherOld);
  DeleteObject(otherBitmap);
  DeleteDC(other);
}

TEST_F(Gdi, TextMeasuresAgreeWithEachOther) {
  LOGFONTW lf{};
  lf.lfHeight = -(12 * GetDeviceCaps(memory_, LOGPIXELSY)) / 72;
  lf.lfWeight = FW_NORMAL;
  lstrcpyW(lf.lfFaceName, TEXT("Arial"));
  HFONT font = CreateFontIndirectW(&lf);
  ASSERT_NE(font, nullptr);
  EXPECT_GT(GetDeviceCaps(memory_, LOGPIXELSY), 0);
  HGDIOBJ oldFont = SelectObject(memory_, font);
  ASSERT_NE(oldFont, nullptr);

  TEXTMETRICW metrics{};
  ASSERT_TRUE(GetTextMetricsW(memory_, &metrics));
  EXPECT_EQ(metrics.tmHeight, metrics.tmAscent + metrics.tmDescent);
  EXPECT_GE(metrics.tmHeight, -lf.lfHeight);  // the em and the internal leading
  EXPECT_GT(metrics.tmAveCharWidth, 0);

  SIZE wide{}, narrow{}, empty{};
  ASSERT_TRUE(GetTextExtentPoint32W(memory_, TEXT("WWWW"), 4, &wide));
  ASSERT_TRUE(GetTextExtentPoint32W(memory_, TEXT("iiii"), 4, &narrow));
  ASSERT_TRUE(GetTextExtentPoint32W(memory_, TEXT(""), 0, &empty));
  EXPECT_GT(wide.cx, narrow.cx);
  EXPECT_EQ(wide.cy, metrics.tmHeight);
  EXPECT_EQ(empty.cx, 0);

  // DrawText with the viewer's flags measures as the extent does; each
  // line is a line's height.
  SIZE fix{};
  ASSERT_TRUE(GetTextExtentPoint32W(memory_, TEXT("&Fix"), 4, &fix));
  RECT box{0, 0, 1000, 1000};
  EXPECT_EQ(
      DrawTextW(memory_, TEXT("&Fix"), -1, &box, DT_LEFT | DT_TOP | DT_NOPREFIX | DT_CALCRECT),
      metrics.tmHeight);
  EXPECT_EQ(box.right - box.left, fix.cx);
  EXPECT_EQ(box.bottom - box.top, metrics.tmHeight);
  RECT prefixed{0, 0, 1000, 1000};
  DrawTextW(memory_, TEXT("&Fix"), -1, &prefixed, DT_LEFT | DT_TOP | DT_CALCRECT);
  EXPECT_LT(prefixed.right, box.right);  // without DT_NOPREFIX the '&' is no glyph
  RECT lines{0, 0, 1000, 1000};
  EXPECT_EQ(DrawTextW(memory_, TEXT("GSW2\nSleeve"), -1, &lines,
                      DT_LEFT | DT_TOP | DT_NOPREFIX | DT_CALCRECT),
            2 * metrics.tmHeight);

  // Drawn, the text leaves ink in its box and none outside it.
  Fill(memory_, RECT{0, 0, 16, 8}, RGB(255, 255, 255));
  EXPECT_EQ(SetTextColor(memory_, RGB(0, 0, 0)), RGB(0, 0, 0));
  SetBkColor(memory_, RGB(255, 255, 255));
  SetBkMode(memory_, TRANSPARENT);
  RECT drawn{0, 0, 16, 8};
  DrawTextW(memory_, TEXT("WWWW"), -1, &drawn, DT_LEFT | DT_TOP | DT_NOPREFIX);
  int ink = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) ink += GetPixel(memory_, x, y) != RGB(255, 255, 255);
  EXPECT_GT(ink, 0);
  SelectObject(memory_, oldFont);
  EXPECT_TRUE(DeleteObject(font));
}

TEST(System, PageSizeAndSystemColours) {
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  EXPECT_EQ(info.dwPageSize, 4096u);
  void* reserved = VirtualAlloc(nullptr, 3 * info.dwPageSize, MEM_RESERVE, PAGE_NOACCESS);
  ASSERT_NE(reserved, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(reserved) % info.dwPageSize, 0u);
  EXPECT_TRUE(VirtualFree(reserved, 0, MEM_RELEASE));
  EXPECT_NE(GetSysColor(COLOR_WINDOW), GetSysColor(COLOR_WINDOWTEXT));
}

}  // namespace
