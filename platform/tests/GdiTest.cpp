// Drawing calls: font metrics from the real font files, the rules for
// selecting and deleting objects, handles of the wrong kind, and text
// measuring and line breaking. What the calls draw is checked pixel by
// pixel in ScreenTest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "handheld.h"

namespace {

// The screen stays in memory whatever display the test machine has.
const bool kHeadless = setenv("HANDHELD_HEADLESS", "1", 1) == 0;

HFONT MakeFont(LONG height, LONG weight, const WCHAR* face) {
  LOGFONT font{};
  font.lfHeight = height;
  font.lfWeight = weight;
  lstrcpyn(font.lfFaceName, face, LF_FACESIZE);
  return CreateFontIndirect(&font);
}

// Liberation Sans, from its font tables (units per em 2048, Windows ascent
// 1854 and descent 434 in both weights).
struct FaceUnits {
  int averageWidth;  // OS/2 xAvgCharWidth
  int maxAdvance;    // hhea advanceWidthMax
};
constexpr FaceUnits kRegular{1208, 2240};
constexpr FaceUnits kBold{1255, 2283};

int Scale(int units, int pixels) { return static_cast<int>(std::lround(units * pixels / 2048.0)); }

TEST(GdiText, MetricsComeFromLiberationSansAtTheAskedSize) {
  ASSERT_TRUE(kHeadless);
  struct Case {
    const WCHAR* face;
    LONG height;
    LONG weight;
    FaceUnits units;
    int pixels;  // character height the font must have
  };
  const Case cases[] = {
      {u"Arial", -16, FW_BOLD, kBold, 16},         // the viewer's value font
      {u"Arial", 18, FW_BOLD, kBold, 16},          // a cell of 18 is the same font
      {u"Arial", -16, FW_NORMAL, kRegular, 16},
      {u"Arial", -11, FW_NORMAL, kRegular, 11},
      {u"Courier New", -20, FW_NORMAL, kRegular, 20},  // only Liberation Sans is there
      {u"", -12, FW_BOLD, kBold, 12},
  };
  HDC dc = GetDC(nullptr);
  ASSERT_NE(dc, nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << handheld::ToUtf8(c.face) << " " << c.height << " " << c.weight);
    HFONT font = MakeFont(c.height, c.weight, c.face);
    ASSERT_NE(font, nullptr);
    HGDIOBJ before = SelectObject(dc, font);
    TEXTMETRIC tm{};
    ASSERT_TRUE(GetTextMetrics(dc, &tm));
    const int cell = Scale(1854 + 434, c.pixels);
    EXPECT_EQ(tm.tmHeight, cell);
    EXPECT_EQ(tm.tmDescent, Scale(434, c.pixels));
    EXPECT_EQ(tm.tmAscent, cell - Scale(434, c.pixels));
    EXPECT_EQ(tm.tmHeight - tm.tmInternalLeading, c.pixels);
    EXPECT_EQ(tm.tmAveCharWidth, Scale(c.units.averageWidth, c.pixels));
    EXPECT_EQ(tm.tmMaxCharWidth, Scale(c.units.maxAdvance, c.pixels));
    EXPECT_EQ(tm.tmWeight, c.weight);
    SIZE extent{};
    ASSERT_TRUE(GetTextExtentPoint32(dc, u"AV", 2, &extent));
    SIZE a{}, v{};
    GetTextExtentPoint32(dc, u"A", 1, &a);
    GetTextExtentPoint32(dc, u"V", 1, &v);
    EXPECT_EQ(extent.cx, a.cx + v.cx);  // no kerning
    EXPECT_EQ(extent.cy, cell);
    SelectObject(dc, before);
    EXPECT_TRUE(DeleteObject(font));
  }
  EXPECT_EQ(ReleaseDC(nullptr, dc), 1);
}

TEST(GdiText, FreshDeviceContextHoldsTheSystemFont) {
  HDC dc = GetDC(nullptr);
  HFONT font = MakeFont(-16, FW_BOLD, u"Arial");
  EXPECT_EQ(SelectObject(dc, font), GetStockObject(DEFAULT_GUI_FONT));
  TEXTMETRIC tm{};
  SelectObject(dc, GetStockObject(SYSTEM_FONT));
  ASSERT_TRUE(GetTextMetrics(dc, &tm));
  EXPECT_EQ(tm.tmHeight - tm.tmInternalLeading, 11);
  EXPECT_EQ(tm.tmWeight, FW_NORMAL);
  EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSY), 96);
  EXPECT_TRUE(DeleteObject(font));
  EXPECT_EQ(ReleaseDC(nullptr, dc), 1);
}

TEST(GdiText, DrawTextMeasuresLinesAndPrefixes) {
  HDC dc = CreateCompatibleDC(nullptr);
  ASSERT_NE(dc, nullptr);
  TEXTMETRIC tm{};
  ASSERT_TRUE(GetTextMetrics(dc, &tm));
  SIZE two{}, file{}, amp{};
  GetTextExtentPoint32(dc, u"aaa bbb", 7, &two);
  GetTextExtentPoint32(dc, u"File", 4, &file);
  GetTextExtentPoint32(dc, u"A&B", 3, &amp);
  struct Case {
    const WCHAR* text;
    LONG width;
    UINT format;
    LONG right;  // expected, from the left edge 0
    int lines;
  };
  const Case cases[] = {
      {u"aaa bbb ccc", two.cx, DT_WORDBREAK, two.cx, 2},
      {u"aaa bbb ccc", two.cx - 1, DT_WORDBREAK, 0, 3},  // right not checked
      {u"aaa bbb\nccc", 1000, 0, two.cx, 2},
      {u"&File", 1000, DT_SINGLELINE, file.cx, 1},
      {u"A&&B", 1000, DT_SINGLELINE, amp.cx, 1},
      {u"A&B", 1000, DT_SINGLELINE | DT_NOPREFIX, amp.cx, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(handheld::ToUtf8(c.text));
    RECT rect{0, 0, c.width, 5};
    EXPECT_EQ(DrawText(dc, c.text, -1, &rect, c.format | DT_CALCRECT), c.lines * tm.tmHeight);
    EXPECT_EQ(rect.bottom, c.lines * tm.tmHeight);
    if (c.right) {
      EXPECT_EQ(rect.right, c.right);
    }
  }
  EXPECT_TRUE(DeleteDC(dc));
}

TEST(GdiObjects, SelectionDeletionAndKinds) {
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HDC other = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 20, 10);
  HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
  ASSERT_TRUE(screen && memory && other && bitmap && brush);

  // SelectObject answers with what it replaced; a selected bitmap is
  // neither deleted nor selected elsewhere.
  HGDIOBJ first = SelectObject(memory, bitmap);
  ASSERT_NE(first, nullptr);
  EXPECT_NE(first, bitmap);
  EXPECT_FALSE(DeleteObject(bitmap));
  EXPECT_EQ(SelectObject(other, bitmap), nullptr);
  EXPECT_EQ(SelectObject(screen, bitmap), nullptr);  // the screen has its own pixels
  EXPECT_EQ(SelectObject(memory, brush), GetStockObject(WHITE_BRUSH));
  EXPECT_FALSE(DeleteObject(brush));
  EXPECT_EQ(SelectObject(memory, GetStockObject(WHITE_BRUSH)), brush);
  EXPECT_EQ(SelectObject(memory, first), bitmap);
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_TRUE(DeleteObject(brush));
  SetLastError(0);
  EXPECT_EQ(SelectObject(memory, bitmap), nullptr);  // gone, never to come back
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(DeleteObject(GetStockObject(WHITE_BRUSH)));  // stock objects stay
  EXPECT_NE(SelectObject(memory, GetStockObject(WHITE_BRUSH)), nullptr);

  // Handles of one kind are not taken for another.
  RECT rect{0, 0, 5, 5};
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  EXPECT_EQ(SelectObject(memory, other), nullptr);
  EXPECT_EQ(FillRect(memory, &rect, reinterpret_cast<HBRUSH>(GetStockObject(SYSTEM_FONT))), 0);
  EXPECT_EQ(FillRect(reinterpret_cast<HDC>(red), &rect, red), 0);
  EXPECT_FALSE(BitBlt(memory, 0, 0, 5, 5, reinterpret_cast<HDC>(red), 0, 0, SRCCOPY));
  EXPECT_FALSE(DeleteObject(memory));
  EXPECT_FALSE(DeleteDC(screen));  // given back with ReleaseDC
  EXPECT_EQ(ReleaseDC(nullptr, memory), 0);
  EXPECT_EQ(GetDC(reinterpret_cast<HWND>(memory)), nullptr);
  EXPECT_TRUE(DeleteObject(red));
  EXPECT_TRUE(DeleteDC(memory));
  EXPECT_EQ(SetTextColor(memory, RGB(1, 2, 3)), CLR_INVALID);  // used just before it went
  EXPECT_TRUE(DeleteDC(other));
  EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
  EXPECT_EQ(ReleaseDC(nullptr, screen), 0);
}

// Text drawn on an opaque background, whose glyphs are copied into the
// freshly filled cell, gives the same pixels as the same text blended
// onto a page of the background's colour: with underlines, advances that
// make glyphs overlap or step back, and clipping on every side.
TEST(GdiText, OpaqueTextMatchesTransparentTextOnItsBackground) {
  ASSERT_TRUE(kHeadless);
  constexpr int kWidth = 90, kHeight = 24;
  const int overlap[] = {4, 4, 4, 4, 4, 4, 4, 4};
  const int back[] = {12, -6, 12, -6, 12, -6, 12, -6};
  struct Case {
    const WCHAR* text;
    int x, y;
    const int* dx;
    RECT clip;  // ExtTextOut's with ETO_CLIPPED; empty: DrawText over the whole bitmap
  };
  const Case cases[] = {
      {u"Satellites: 12", 2, 2, nullptr, {}},
      {u"No&.jam &&Wave", 1, 3, nullptr, {}},  // an underline; a j reaching out of its cell
      {u"WAVEWAVE", 2, 2, overlap, {0, 0, kWidth, kHeight}},
      {u"AWAWAWAW", 10, 2, back, {0, 0, kWidth, kHeight}},
      {u"Lat: 47 North", 2, 2, nullptr, {5, 6, 61, 14}},
      {u"Wavy edges", -4, -5, nullptr, {-10, -10, kWidth + 10, kHeight + 10}},
      {u"Wavy edges", 40, 12, nullptr, {0, 0, kWidth, kHeight}},
  };
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, kWidth, kHeight);
  HFONT font = MakeFont(-16, FW_BOLD, u"Arial");
  ASSERT_TRUE(screen && memory && bitmap && font);
  HGDIOBJ previousBitmap = SelectObject(memory, bitmap);
  HGDIOBJ previousFont = SelectObject(memory, font);
  SetTextColor(memory, RGB(200, 0, 0));
  auto draw = [&](const Case& c, COLORREF paper, int mode) {
    HBRUSH brush = CreateSolidBrush(paper);
    const RECT all{0, 0, kWidth, kHeight};
    FillRect(memory, &all, brush);
    DeleteObject(brush);
    SetBkColor(memory, paper);
    SetBkMode(memory, mode);
    const UINT length = static_cast<UINT>(lstrlen(c.text));
    if (c.clip.right <= c.clip.left) {
      RECT box{c.x, c.y, kWidth, kHeight};
      DrawText(memory, c.text, -1, &box, DT_LEFT | DT_TOP | DT_SINGLELINE);
    } else {
      ExtTextOut(memory, c.x, c.y, ETO_CLIPPED, &c.clip, c.text, length, c.dx);
    }
    std::vector<COLORREF> pixels;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) pixels.push_back(GetPixel(memory, x, y));
    return pixels;
  };
  for (const Case& c : cases) {
    for (COLORREF paper : {RGB(255, 255, 255), RGB(255, 255, 225)}) {
      SCOPED_TRACE(testing::Message() << handheld::ToUtf8(c.text) << " at " << c.x << "," << c.y
                                      << " paper " << paper);
      const std::vector<COLORREF> opaque = draw(c, paper, OPAQUE);
      EXPECT_EQ(opaque, draw(c, paper, TRANSPARENT));
      EXPECT_NE(std::count(opaque.begin(), opaque.end(), paper), kWidth * kHeight);  // inked
    }
  }
  SelectObject(memory, previousFont);
  SelectObject(memory, previousBitmap);
  EXPECT_TRUE(DeleteObject(font));
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_TRUE(DeleteDC(memory));
  ReleaseDC(nullptr, screen);
}

}  // namespace
