// The status page drawn for receiver data decoded by a real sentence
// reader: the place and colour of each value found in the pixels alone,
// against the page's layout as written down here; and the figures and
// texts the page shows. (Its pictures through the window are in
// MainWindowTest.)
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "DisplaySnapshot.h"
#include "NmeaReader.h"
#include "SignalStatistics.h"
#include "StatusDisplay.h"
#include "ViewerState.h"
#include "WireFrames.h"
#include "handheld.h"
#include "testing/ScreenPicture.h"
#include "testing/TempDevice.h"

namespace {

using handheld::testing::ScreenPicture;

constexpr int kWidth = 240;
constexpr int kHeight = 320;
constexpr uint32_t kWhite = 0xFFFFFF;

// The sentences a receiver sends; bodies get "$", checksum and CR LF.
const char kGsvEight[] =
    "GPGSV,2,1,08,02,72,045,47,04,55,130,44,07,38,200,41,09,21,310,38";
const char kGsvEightRest[] =
    "GPGSV,2,2,08,13,15,075,33,17,09,260,30,20,60,160,45,24,05,020,00";
const char kGsa3d[] = "GPGSA,A,3,02,04,07,09,13,17,20,,,,,,1.8,1.0,1.5";
const char kRmcValid[] = "GPRMC,123519.000,A,4807.0380,N,01131.0000,E,0.13,309.62,120598,,,A";
const char kGga[] = "GPGGA,123519.000,4807.0380,N,01131.0000,E,1,07,1.0,545.4,M,46.9,M,,";
const char kRmcVoidPlaced[] = "GPRMC,101500.000,V,4807.0380,N,01131.0000,E,,,120598,,,N";

class StatusPageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("HANDHELD_HEADLESS", "1", 1);
    StatusDisplay::CreateFonts(nullptr);
  }

  void SetUp() override { ViewerState::currentReader = new NmeaReader(nullptr); }
  void TearDown() override { ViewerState::DeleteCurrentReader(); }

  // Decodes the sentences with the current reader and takes its records.
  void Receive(const std::vector<const char*>& bodies) {
    NmeaReader* reader = ViewerState::currentReader;
    std::string bytes;
    for (const char* body : bodies) bytes += testsupport::NmeaSentence(body);
    for (char c : bytes) NmeaReader::OnByte(static_cast<BYTE>(c), reader);
    char sentence[NmeaReader::kSentenceBufferSize];
    for (WORD length = 0; reader->ReadSentence(sentence, length);) reader->DecodeSentence(sentence);
    snapshot = {reader->Gsa(), reader->Gsv(), reader->Rmc(), {}, {}, {}};
    lstrcpy(snapshot.installedDrivers, TEXT("Dovrin(0x0001)"));
    lstrcpy(snapshot.activeDriver, TEXT("Dovrin (0x0001)"));
    lstrcpy(snapshot.swVersion, TEXT("GSW2-2.05.024-C1Prod1.1"));
  }

  // Draws the page as the window does (a white page in a memory bitmap,
  // copied to the screen) and reads the screen back. `background` is the
  // text background of the page's device context.
  std::vector<uint32_t> DrawPage(COLORREF background = RGB(255, 255, 255)) {
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, kWidth, kHeight);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    RECT page = {0, 0, kWidth, kHeight};
    HBRUSH brush = CreateSolidBrush(GetSysColor(COLOR_WINDOW));
    FillRect(memory, &page, brush);
    DeleteObject(brush);
    SetBkColor(memory, background);
    StatusDisplay::PaintStatus(memory, snapshot);
    BitBlt(screen, 0, 0, kWidth, kHeight, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    const std::string path = device.path() + "/page.png";
    EXPECT_TRUE(handheld::WriteScreenshot(path));
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    EXPECT_TRUE(ScreenPicture::ReadPng(path, &width, &height, &pixels));
    EXPECT_EQ(width, kWidth);
    EXPECT_EQ(height, kHeight);
    pixels.resize(static_cast<size_t>(kWidth) * kHeight);
    return pixels;
  }

  handheld::testing::TempDevice device;
  DisplaySnapshot snapshot;
};

// ---- where each value goes, and the fix's colour ----

// Top left corners of the texts, from the page's layout: each label, and
// its value in bold 3 pixels higher (the three information lines in the
// labels' font lie where they are listed).
const std::set<std::pair<int, int>> kTextCorners = {
    {15, 35},  {75, 32},  {135, 85}, {198, 82},  {135, 60}, {198, 57},  {135, 35}, {198, 32},
    {15, 60},  {75, 57},  {15, 170}, {50, 167},  {15, 115}, {45, 112},  {15, 140}, {45, 137},
    {15, 195}, {15, 210}, {15, 230}, {95, 230},  {15, 250}, {15, 265},
};
const std::pair<int, int> kFixCorner = {75, 57};

struct FixCase {
  const char* rmc;
  uint32_t ink;  // 0xRRGGBB
};

TEST_F(StatusPageTest, EachTextStartsAtItsPlaceAndTheFixHasItsColour) {
  const uint32_t kMarked = 0xFFFF00;  // text background: yellow
  const FixCase kCases[] = {{kRmcValid, 0x00FF00}, {kRmcVoidPlaced, 0xFF0000}};
  for (const FixCase& fix : kCases) {
    SCOPED_TRACE(fix.rmc);
    Receive({kGsvEight, kGsvEightRest, kGsa3d, fix.rmc, kGga});
    std::vector<uint32_t> pixels = DrawPage(RGB(255, 255, 0));
    auto at = [&](int x, int y) { return pixels[static_cast<size_t>(y) * kWidth + x] & 0xFFFFFF; };

    // A text's background begins where both the pixel to its left and the
    // one above are page.
    std::set<std::pair<int, int>> corners;
    for (int y = 1; y < kHeight; ++y)
      for (int x = 1; x < kWidth; ++x)
        if (at(x, y) == kMarked && at(x - 1, y) == kWhite && at(x, y - 1) == kWhite)
          corners.insert({x, y});
    EXPECT_EQ(corners, kTextCorners);

    // The fix text's pixels blend its ink into the yellow background; the
    // strokes' cores are the ink itself.
    auto [left, top] = kFixCorner;
    int right = left, bottom = top;
    while (right < kWidth && at(right, top) != kWhite) ++right;
    while (bottom < kHeight && at(left, bottom) != kWhite) ++bottom;
    bool inkSeen = false;
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < right; ++x) {
        const uint32_t pixel = at(x, y);
        inkSeen = inkSeen || pixel == fix.ink;
        // Yellow and either ink share their full channel and have no blue.
        const uint32_t shared = fix.ink & kMarked;
        EXPECT_EQ(pixel & (shared | 0x0000FF), shared) << x << ", " << y;
      }
    EXPECT_TRUE(inkSeen);
  }
}

// ---- figures and texts ----

TEST(StatusFigures, SignalStatisticsCountOnlyRealSatellites) {
  struct Row { int prn, snr; };
  struct Case {
    const char* what;
    std::vector<Row> rows;
    std::vector<int> used;
    SignalStatistics want;
  };
  const Case kCases[] = {
      {"nothing", {}, {}, {0, 0, 0, 0}},
      {"three in view, two used", {{5, 40}, {12, 35}, {17, 0}}, {5, 17}, {2, 40, 20, 35}},
      {"none used", {{5, 40}, {12, 35}}, {}, {2, 40, 0, 35}},
      {"prn 0 and -1 rows ignored", {{0, 50}, {-1, 20}, {9, 30}}, {0, 9}, {1, 30, 30, 30}},
      {"a satellite in two rows counts twice", {{9, 30}, {9, 30}}, {9}, {2, 30, 30, 30}},
      {"all twelve used", std::vector<Row>(12, {1, 255}), std::vector<int>(12, 1), {12, 255, 255, 0}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    GsvRecord gsv = {};
    for (SatelliteRow& row : gsv.channels) row.prn = -1;
    for (size_t i = 0; i < c.rows.size(); ++i) {
      gsv.channels[i].prn = static_cast<int8_t>(c.rows[i].prn);
      gsv.channels[i].snr = static_cast<BYTE>(c.rows[i].snr);
    }
    GsaRecord gsa = {};
    for (size_t i = 0; i < c.used.size(); ++i) gsa.usedPrn[i] = static_cast<BYTE>(c.used[i]);
    const SignalStatistics got = SignalStatistics::From(gsv, gsa);
    EXPECT_EQ(got.satellites, c.want.satellites);
    EXPECT_EQ(got.maxSignal, c.want.maxSignal);
    EXPECT_EQ(got.avgSignal, c.want.avgSignal);
    EXPECT_EQ(got.minSignal, c.want.minSignal);
  }
}

TEST(StatusFigures, TimeFixAndPositionTexts) {
  WCHAR text[64];
  const std::pair<LONG, std::u16string> kTimes[] = {
      {0, u"00:00:00 GMT"}, {123519, u"12:35:19 GMT"}, {235959, u"23:59:59 GMT"},
      {240000, u"00:00:00 GMT"}, {253000, u"01:30:00 GMT"}, {9999999, u"15:99:99 GMT"},
  };
  for (const auto& [time, want] : kTimes) {
    StatusDisplay::FormatUtcTime(text, time);
    EXPECT_EQ(std::u16string(text), want) << time;
  }

  struct Fix { char mode, status; const char16_t* text; COLORREF color; };
  const Fix kFixes[] = {
      {'1', 'V', u"Aq V", StatusDisplay::kRed},  {'2', 'A', u"2D A", StatusDisplay::kGreen},
      {'3', 'A', u"3D A", StatusDisplay::kGreen}, {'3', 'V', u"3D V", StatusDisplay::kRed},
      {'0', 'A', nullptr, StatusDisplay::kGreen}, {0, 0, nullptr, StatusDisplay::kRed},
  };
  for (const Fix& fix : kFixes) {
    lstrcpy(text, u"unchanged");
    EXPECT_EQ(StatusDisplay::FixText(text, fix.mode, fix.status), fix.text != nullptr);
    EXPECT_EQ(std::u16string(text), fix.text ? fix.text : u"unchanged");
    EXPECT_EQ(StatusDisplay::FixColor(fix.status), fix.color);
  }

  StatusDisplay::LatitudeText(text, "4807.038012345", 'N');
  EXPECT_EQ(std::u16string(text), u"4807.038012 North");
  StatusDisplay::LatitudeText(text, "3751.65", 'S');
  EXPECT_EQ(std::u16string(text), u"3751.65 South");
  StatusDisplay::LatitudeText(text, "3751.65", 'X');
  EXPECT_EQ(std::u16string(text), u"3751.65");
  StatusDisplay::LongitudeText(text, "01131.0000", 'E');
  EXPECT_EQ(std::u16string(text), u"01131.0000 East");
  StatusDisplay::LongitudeText(text, "14507.3600", 'W');
  EXPECT_EQ(std::u16string(text), u"14507.3600 West");
  StatusDisplay::LongitudeText(text, "", 0);
  EXPECT_EQ(std::u16string(text), u"");
}

}  // namespace
