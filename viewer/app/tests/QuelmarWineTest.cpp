// quelmar.exe, the same sources built for desktop Windows, run under Wine
// on the receiver simulator: a private Wine prefix in a temporary folder,
// the driver's "Drivers\Active" entry and key written with Wine's own reg,
// the prefix's COM3 linked to the simulator's pseudo-terminal, an Xvfb
// display. Driven from outside by a remote control run in the same Wine.
// Wine's fonts are not the handheld's: the page is checked by the places
// of its values, not by its pixels; the same check runs on the stand-in's
// reference picture of the page.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "NmeaReader.h"
#include "StatusDisplay.h"
#include "handheld.h"
#include "testing/ScreenPicture.h"
#include "testing/XvfbServer.h"

namespace {

using Image = std::vector<uint32_t>;

// ---- the page, found by its places ----

struct Picture {
  const Image& pixels;
  int width;
  int height;
  uint32_t At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return 0xFFFFFF;
    return pixels[static_cast<size_t>(y) * width + x];
  }
};

bool IsGreen(uint32_t p) {
  return ((p >> 8) & 0xFF) > 180 && ((p >> 16) & 0xFF) < 100 && (p & 0xFF) < 100;
}
bool IsDark(uint32_t p) {
  return ((p >> 16) & 0xFF) < 110 && ((p >> 8) & 0xFF) < 110 && (p & 0xFF) < 110;
}

// The layout's item of `value`.
const StatusDisplay::PageItem& Item(StatusDisplay::PageValue value) {
  for (const StatusDisplay::PageItem& item : StatusDisplay::kPageLayout)
    if (item.value == value) return item;
  return StatusDisplay::kPageLayout[0];
}

// The page's values where the layout puts them relative to the fix text:
// the fix's ink in green, and dark ink at each other value's place, as far
// from the fix's ink as the value's place is from the fix's in the layout.
testing::AssertionResult ValuesInPlace(const Picture& page) {
  int left = page.width, top = page.height, greens = 0;
  for (int y = 0; y < page.height; ++y)
    for (int x = 0; x < page.width; ++x)
      if (IsGreen(page.At(x, y))) {
        left = std::min(left, x);
        top = std::min(top, y);
        ++greens;
      }
  if (greens < 20) return testing::AssertionFailure() << "no fix text in green";
  const StatusDisplay::PageItem& fix = Item(StatusDisplay::kFix);
  for (const StatusDisplay::PageItem& item : StatusDisplay::kPageLayout) {
    if (item.value == StatusDisplay::kFix) continue;
    // The value's first glyph: a few pixels right of its place (clear of
    // its label's end) and the height of a line of small text.
    const int x0 = left + item.valueX - fix.valueX + 2;
    const int y0 = top + item.valueY - fix.valueY - 3;
    int dark = 0;
    for (int y = y0; y < y0 + 12; ++y)
      for (int x = x0; x < x0 + 10; ++x) dark += IsDark(page.At(x, y)) ? 1 : 0;
    if (dark < 3)
      return testing::AssertionFailure()
             << "no value of \"" << handheld::ToUtf8(item.label) << "\" at ("
             << x0 << ", " << y0 << "), the fix's ink at (" << left << ", " << top << ")";
  }
  return testing::AssertionSuccess();
}

TEST(QuelmarPagePlaces, TheStandInsPageHasEveryValueInPlace) {
  int width = 0, height = 0;
  Image pixels;
  ASSERT_TRUE(handheld::testing::ScreenPicture::ReadPng(
      std::string(APP_TESTDATA_DIR) + "/page-3d-fix-valid.png", &width, &height, &pixels));
  for (uint32_t& p : pixels) p &= 0xFFFFFF;
  EXPECT_TRUE(ValuesInPlace({pixels, width, height}));
  // A page without its fix fails.
  for (uint32_t& p : pixels)
    if (IsGreen(p)) p = 0xFFFFFF;
  EXPECT_FALSE(ValuesInPlace({pixels, width, height}));
}

// ---- Wine ----

std::string OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/bin:/bin";
  size_t at = 0;
  while (at <= folders.size()) {
    size_t end = folders.find(':', at);
    if (end == std::string::npos) end = folders.size();
    const std::string candidate = folders.substr(at, end - at) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    at = end + 1;
  }
  return "";
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const char kTitle[] = "GPS COM3:(57600)";
const int kCaptureWidth = 320;
const int kCaptureHeight = 320;

class QuelmarUnderWine : public ::testing::Test {
 protected:
  void SetUp() override {
    wine_ = OnPath("wine");
    if (wine_.empty()) GTEST_SKIP() << "wine is not installed (scripts/install-deps.sh installs it)";
    if (std::string(WINDOWS_DIR).empty() ||
        !std::filesystem::exists(std::string(WINDOWS_DIR) + "/quelmar.exe"))
      GTEST_SKIP() << "no Windows build (mingw-w64 is not installed)";
    ASSERT_FALSE(xvfb_.display().empty()) << "Xvfb did not start";
    char pattern[] = "/tmp/quelmar-wine-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    prefix_ = pattern;
    environment_ = {"WINEPREFIX=" + prefix_, "WINEARCH=win64", "WINEDEBUG=-all",
                    "WINEDLLOVERRIDES=mscoree,mshtml=", "DISPLAY=" + xvfb_.display()};
    // The entry the sleeve's client driver has while it is loaded, and the
    // driver's key: the port search finds "COM3:" by them.
    Reg({"add", "HKLM\\Drivers\\Active\\01", "/v", "Key", "/t", "REG_SZ", "/d",
         "Drivers\\Tessiv\\0100\\0001", "/f"});
    Reg({"add", "HKLM\\Drivers\\Active\\01", "/v", "Name", "/t", "REG_SZ", "/d", "COM3:", "/f"});
    Reg({"add", "HKLM\\Drivers\\Tessiv\\0100\\0001", "/v", "Dll", "/t", "REG_SZ", "/d",
         "SleeveSerial.dll", "/f"});
    sim_ = std::make_unique<testsupport::ChildProcess>(
        RECEIVER_SIM_PATH, std::vector<std::string>{"--seconds", "110", "--verbose", "--scenario",
                                                    Scenario(), "--link",
                                                    prefix_ + "/dosdevices/com3"});
    ASSERT_FALSE(sim_->FirstLine(5000).empty()) << sim_->Errors();
  }

  // The simulator's scenario.
  virtual std::string Scenario() const { return "normal"; }

  void TearDown() override {
    quelmar_.reset();
    sim_.reset();
    if (!prefix_.empty()) {
      testsupport::Run(OnPath("wineserver"), {"-k"}, 10000, environment_);
      std::filesystem::remove_all(prefix_);
    }
  }

  void StartQuelmar() {
    quelmar_ = std::make_unique<testsupport::ChildProcess>(
        wine_, std::vector<std::string>{std::string(WINDOWS_DIR) + "/quelmar.exe"}, environment_);
  }

  testsupport::Outcome Wine(const std::vector<std::string>& arguments, int timeoutMs = 60000) {
    return testsupport::Run(wine_, arguments, timeoutMs, environment_);
  }
  void Reg(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "reg");
    testsupport::Outcome done = Wine(arguments);
    ASSERT_EQ(done.status, 0) << done.out << done.err;
  }
  // The remote control's answer (its output, one line without its LF), or
  // "" with a failure when it failed.
  std::string Remote(const std::vector<std::string>& arguments) {
    std::vector<std::string> line = {std::string(WINDOWS_DIR) + "/quelmar-remote.exe"};
    line.insert(line.end(), arguments.begin(), arguments.end());
    testsupport::Outcome done = Wine(line, 20000);
    EXPECT_EQ(done.status, 0) << arguments[0] << ": " << done.err;
    std::string out = done.out;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  }
  void Command(int id) { Remote({"command", "QUELMAR", std::to_string(id)}); }
  // The main window's title once it reads `expected` (up to 5 seconds), or
  // the last one read.
  std::string TitleSoon(const std::string& expected) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
      const std::string title = Remote({"title", "QUELMAR"});
      if (title == expected || std::chrono::steady_clock::now() >= deadline) return title;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }

  // Captures the window until `test` passes on it (up to `seconds`): the
  // last answer of the test.
  template <typename Test>
  testing::AssertionResult CaptureSoon(int seconds, Test test) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    testing::AssertionResult last = testing::AssertionFailure() << "no capture of the window";
    for (;;) {
      Image pixels;
      if (xvfb_.Capture(kTitle, kCaptureWidth, kCaptureHeight, &pixels) ||
          xvfb_.Capture("Quelmar", kCaptureWidth, kCaptureHeight, &pixels)) {
        last = test(Picture{pixels, kCaptureWidth, kCaptureHeight});
        if (last) return last;
      }
      if (std::chrono::steady_clock::now() >= deadline) return last << "; " << xvfb_.Describe();
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
  }
  testing::AssertionResult PageSoon(int seconds) { return CaptureSoon(seconds, ValuesInPlace); }

  std::string wine_;
  handheld::testing::XvfbServer xvfb_;
  std::string prefix_;
  std::vector<std::string> environment_;
  std::unique_ptr<testsupport::ChildProcess> sim_;
  std::unique_ptr<testsupport::ChildProcess> quelmar_;
};

// Start-up: the version query on the wire and its text, the page filled
// and in place; then every command, posted from outside; Exit ends with 0.
TEST_F(QuelmarUnderWine, RunsOnTheSimulatorAndCarriesOutEveryCommand) {
  StartQuelmar();
  ASSERT_TRUE(PageSoon(40)) << quelmar_->Errors();
  EXPECT_EQ(TitleSoon(kTitle), kTitle);
  // The version query asked the simulator over NMEA, the receiver's
  // version first, then the sleeve's, and nothing else.
  const std::string heard = sim_->Errors();
  const size_t second = heard.find("received $PSRF200,2\n");
  const size_t first = heard.find("received $PSRF200,1\n");
  EXPECT_NE(second, std::string::npos) << heard;
  EXPECT_NE(first, std::string::npos) << heard;
  EXPECT_LT(second, first) << heard;

  // A log of two seconds or so, named in the save dialog, then stopped.
  Command(40004);
  Remote({"save", "Save Sirf Log File", "C:\\session.log"});
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  Command(40005);
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  const std::string logPath = prefix_ + "/drive_c/session.log";
  const std::string log = FileText(logPath);
  EXPECT_NE(log.find("$GPRMC"), std::string::npos) << log;
  EXPECT_EQ(log.rfind("\r\n"), log.size() - 2) << "whole sentences only";
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  EXPECT_EQ(FileText(logPath), log) << "nothing after Stop";

  // Disconnect clears the page: its fix is no longer a valid one.
  Command(40007);
  EXPECT_EQ(TitleSoon("Quelmar"), "Quelmar");
  EXPECT_TRUE(CaptureSoon(5, [](const Picture& page) {
    for (uint32_t p : page.pixels)
      if (IsGreen(p)) return testing::AssertionFailure() << "a fix in green";
    return testing::AssertionSuccess();
  }));
  Command(40006);
  EXPECT_EQ(TitleSoon(kTitle), kTitle);
  EXPECT_TRUE(PageSoon(10));

  // The firmware dialog: its four lines read afresh, the version asked
  // again; its OK ends it.
  Command(40008);
  EXPECT_EQ(Remote({"text", "Firmware Info", "1001"}), "COM3: (57600)");
  EXPECT_EQ(Remote({"text", "Firmware Info", "1002"}),
            "GSW2-2.05.024-C1Prod1.1, Dovrin GPS Sleeve 1.04");
  EXPECT_EQ(Remote({"text", "Firmware Info", "1003"}), "Dovrin (0x0001)");
  EXPECT_EQ(Remote({"text", "Firmware Info", "1004"}), "Dovrin(0x0001)");
  Remote({"press", "Firmware Info", "1"});
  Remote({"gone", "Firmware Info"});

  Command(40002);
  EXPECT_EQ(quelmar_->Wait(15000), 0) << quelmar_->Errors();
}

// A receiver that does not answer the NMEA version request: the query
// moves it to SiRF binary, polls the version and moves it back, over
// Wine's serial port.
class QuelmarUnderWineOnBinary : public QuelmarUnderWine {
 protected:
  std::string Scenario() const override { return "nmea-no-version"; }
};

TEST_F(QuelmarUnderWineOnBinary, ReadsTheVersionOverTheBinaryProtocol) {
  StartQuelmar();
  ASSERT_TRUE(PageSoon(40)) << quelmar_->Errors();
  // On the wire, in this order: the NMEA request, the switch to binary at
  // the session's rate, the version poll (message 132, 0x84 0x00), the
  // switch back to NMEA (message 129).
  const std::string heard = sim_->Errors();
  size_t at = 0;
  for (const char* step : {"received $PSRF200,2\n", "received $PSRF100,0,57600,8,1,0\n",
                           "received message 132 (poll software version): 84 00\n",
                           "received message 129 (switch to NMEA): 81 02"}) {
    at = heard.find(step, at);
    ASSERT_NE(at, std::string::npos) << step << " in\n" << heard;
  }
  Command(40008);
  EXPECT_EQ(Remote({"text", "Firmware Info", "1002"}),
            "GSW2-2.05.024-C1Prod1.1, Dovrin GPS Sleeve 1.04");
  Remote({"press", "Firmware Info", "1"});
  Remote({"gone", "Firmware Info"});
  Command(40002);
  EXPECT_EQ(quelmar_->Wait(15000), 0) << quelmar_->Errors();
}

}  // namespace
