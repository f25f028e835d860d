// quelmar run as a program on a simulated handheld in a temporary device
// folder, driven from outside as a person or a remote-control tool would:
// how it ends without a receiver, and a whole session on the receiver
// simulator, seen through screenshots compared with the reference pictures
// of the status page (MainWindowTest), row by row.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "ActiveEntries.h"
#include "ChildProcess.h"
#include "NmeaReader.h"
#include "handheld.h"
#include "testing/ScreenPicture.h"
#include "testing/TempDevice.h"

namespace {

struct NoReceiverCase {
  const char* what;
  const char16_t* portName;  // listed for the GPS sleeve's driver; null: nothing listed
};

TEST(QuelmarProgram, WithoutAReceiverPortItSaysSleeveNotAttachedAndEndsWithCode1) {
  const NoReceiverCase kCases[] = {
      {"no driver listed", nullptr},
      {"the sleeve's driver names COM1:", u"COM1:"},
  };
  for (const NoReceiverCase& c : kCases) {
    SCOPED_TRACE(c.what);
    handheld::testing::TempDevice device;
    if (c.portName != nullptr)
      testsupport::AddActive(u"01", u"Drivers\\Tessiv\\0100\\0001", nullptr, c.portName);
    testsupport::Outcome run = testsupport::Run(
        QUELMAR_PATH, {}, 10000, {"HANDHELD_DEVICE=" + device.path(), "HANDHELD_HEADLESS=1"});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("Error"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Sleeve Not Attached"), std::string::npos) << run.err;
  }
}

// ---- a session on the simulator ----

// The screen's rows: the window's client area begins below the top bar,
// so page rows are client rows + kTopBar.
constexpr int kTopBar = 26;
using handheld::testing::ScreenPicture;
using Image = ScreenPicture::Image;
using Rows = ScreenPicture::Rows;
constexpr Rows kPositionRows = {kTopBar + 112, kTopBar + 160};
constexpr Rows kTimeRows = {kTopBar + 165, kTopBar + 190};
constexpr Rows kInfoRows = {kTopBar + 195, 320};
constexpr Rows kInstalledRows = {kTopBar + 195, kTopBar + 225};

Image Reference(const char* name) {
  const std::string path = std::string(APP_TESTDATA_DIR) + "/" + name + ".png";
  Image image;
  EXPECT_TRUE(ScreenPicture::ReadPng(path, &image)) << path;
  return image;
}

bool SameRows(const Image& a, const Image& b, Rows rows) {
  return ScreenPicture::Difference(a, b, {rows}).empty();
}

// Every row but the time's.
bool SameButTime(const Image& a, const Image& b) {
  return ScreenPicture::Difference(a, b, {{0, kTimeRows.top}, {kTimeRows.bottom, 320}}).empty();
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A log holds whole sentences only, each accepted by the sentence reader's
// own check; answers how many.
testing::AssertionResult WholeSentences(const std::string& log) {
  if (log.empty()) return testing::AssertionFailure() << "empty log";
  size_t at = 0;
  int count = 0;
  while (at < log.size()) {
    const size_t end = log.find("\r\n", at);
    if (end == std::string::npos || log[at] != '$')
      return testing::AssertionFailure() << "torn at byte " << at << ": " << log.substr(at, 80);
    const std::string sentence = log.substr(at, end + 2 - at);
    if (sentence.size() >= NmeaReader::kMaxSentence || !NmeaReader::ChecksumValid(sentence.c_str()))
      return testing::AssertionFailure() << "not accepted: " << sentence;
    ++count;
    at = end + 2;
  }
  return testing::AssertionSuccess() << count << " sentences";
}

class QuelmarSession : public ::testing::Test {
 protected:
  void SetUp() override {
    port = sim.FirstLine(5000);
    ASSERT_FALSE(port.empty()) << sim.Errors();
    device.AddSerialPort(u"COM3:", port);
    std::filesystem::create_directories(handheld::HostPath(u"\\My Documents"));
  }

  void Start(const std::string& answers) {
    quelmar = std::make_unique<testsupport::ChildProcess>(
        QUELMAR_PATH, std::vector<std::string>{},
        std::vector<std::string>{"HANDHELD_DEVICE=" + device.path(), "HANDHELD_HEADLESS=1",
                                 "HANDHELD_ANSWERS=" + answers});
  }

  testsupport::Outcome Post(const std::vector<std::string>& arguments) {
    return testsupport::Run(POST_MESSAGE_PATH, arguments, 10000,
                            {"HANDHELD_DEVICE=" + device.path()});
  }
  void Command(int id) {
    testsupport::Outcome posted = Post({"QUELMAR", "WM_COMMAND", std::to_string(id)});
    EXPECT_EQ(posted.status, 0) << posted.err;
  }
  std::string Title() {
    testsupport::Outcome asked = Post({"--title", "QUELMAR"});
    EXPECT_EQ(asked.status, 0) << asked.err;
    return asked.out;
  }
  Image Screen() {
    const std::string path = device.path() + "/screen.png";
    std::filesystem::remove(path);
    Image shown;
    if (Post({"--screenshot", path}).status == 0) ScreenPicture::ReadPng(path, &shown);
    return shown;
  }
  // Takes screenshots until one passes `test` (up to `seconds`).
  template <typename Test>
  bool ScreenSoon(int seconds, Test test) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
      Image shown = Screen();
      if (!shown.pixels.empty() && test(shown)) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  }

  testsupport::ChildProcess sim{RECEIVER_SIM_PATH, {"--seconds", "120"}};
  std::string port;
  handheld::testing::TempDevice device;
  std::unique_ptr<testsupport::ChildProcess> quelmar;
  const Image before = Reference("page-before-any-sentence");
  const Image disconnected = Reference("page-after-disconnect");
  // The page drawn, with the information lines of the reference, and
  // positions on it.
  const std::function<bool(const Image&)> Filled = [this](const Image& s) {
    return SameRows(s, before, kInfoRows) && !SameRows(s, before, kPositionRows);
  };
};

// Start-up fills the page from the simulator, with the three information
// lines; then the commands, posted from outside. The title is asked
// through the remote control too.
TEST_F(QuelmarSession, FillsThePageAndCarriesOutEveryCommand) {
  Start("save:\\My Documents\\session.log");
  // The page shows the installed and the active driver and the version the
  // simulator gave, as in the reference, and fills with positions.
  ASSERT_TRUE(ScreenSoon(30, Filled)) << quelmar->Errors();
  EXPECT_EQ(Title(), "GPS COM3:(57600)\n");

  // A log of two seconds or so, then stopped.
  Command(40004);
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  Command(40005);
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  const std::string logPath = handheld::HostPath(u"\\My Documents\\session.log");
  const std::string log = FileText(logPath);
  EXPECT_TRUE(WholeSentences(log));
  EXPECT_NE(log.find("$GPRMC"), std::string::npos);
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  EXPECT_EQ(FileText(logPath), log) << "nothing after Stop";

  // Disconnect: the page cleared (the time line keeps the last time
  // received).
  Command(40007);
  EXPECT_TRUE(ScreenSoon(5, [&](const Image& s) { return SameButTime(s, disconnected); }));
  EXPECT_EQ(Title(), "Quelmar\n");

  // Reconnect: the page fills again.
  Command(40006);
  EXPECT_TRUE(ScreenSoon(10, Filled));

  // The firmware dialog comes up over the page and goes with its OK.
  Command(40008);
  EXPECT_TRUE(ScreenSoon(15, [&](const Image& s) { return !SameRows(s, before, kInstalledRows); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(Post({"--answer", "IDOK"}).status, 0);
  EXPECT_TRUE(ScreenSoon(10, [&](const Image& s) { return SameRows(s, before, kInstalledRows); }));

  Command(40002);
  EXPECT_EQ(quelmar->Wait(10000), 0) << quelmar->Errors();
}

// The caption's OK button ends the program at once with code 1, the log
// still open: every sentence polled is in it already, whole.
TEST_F(QuelmarSession, TheCaptionOkEndsAtOnceWithCode1AndTheLogIsWhole) {
  Start("save:\\My Documents\\abrupt.log");
  ASSERT_TRUE(ScreenSoon(30, Filled)) << quelmar->Errors();
  Command(40004);
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  Command(1);
  EXPECT_EQ(quelmar->Wait(10000), 1) << quelmar->Errors();
  const std::string log = FileText(handheld::HostPath(u"\\My Documents\\abrupt.log"));
  EXPECT_TRUE(WholeSentences(log));
  EXPECT_NE(log.find("$GPRMC"), std::string::npos);
}

}  // namespace
