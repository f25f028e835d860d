// The main window in this process, on a receiver on a pseudo-terminal whose
// every sentence the test decides: which ticks of the poll repaint, seen on
// the screen; the log file's content through Start, Stop and a second
// Start, and across a version query over binary; the ticks that Disconnect
// stops; and Reconnect after a start-up whose port did not open, or to the
// port listed now.
#include <gtest/gtest.h>
#include <unistd.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "FirmwareDialogPerson.h"
#include "LogFile.h"
#include "MainWindow.h"
#include "NmeaReader.h"
#include "ScriptedReceiver.h"
#include "SerialSession.h"
#include "ViewerState.h"
#include "handheld.h"
#include "testing/ScreenPicture.h"
#include "testing/TempDevice.h"

namespace {

using receiver_test::NmeaSentence;
using testsupport::DialogSeen;
using receiver_test::ScriptedReceiver;

// Each changes something the page shows, so a repaint would be seen.
const std::string kGsvTwo = NmeaSentence("GPGSV,1,1,03,05,45,120,40,12,30,200,35,17,10,300,00");
const std::string kGsvFour =
    NmeaSentence("GPGSV,1,1,04,05,45,120,41,12,30,200,36,17,10,300,22,21,50,010,44");
const std::string kGsvOne = NmeaSentence("GPGSV,1,1,01,05,45,120,29");
const std::string kGsa = NmeaSentence("GPGSA,A,3,05,17,,,,,,,,,,,2.0,1.0,1.7");
const std::string kGsa2d = NmeaSentence("GPGSA,A,2,05,12,21,,,,,,,,,,2.0,1.0,1.7");
const std::string kRmc =
    NmeaSentence("GPRMC,123519.000,A,4807.0380,N,01131.0000,E,0.13,309.62,120598,,,A");
const std::string kRmcMoved =
    NmeaSentence("GPRMC,123520.000,A,4807.0399,N,01131.0011,E,0.13,309.62,120598,,,A");
const std::string kBadChecksum = "$GPRMC,123521.000,V,,,,,,,120598,,,N*00\r\n";

std::vector<uint32_t> ScreenPixels(const std::string& path) {
  EXPECT_TRUE(handheld::WriteScreenshot(path));
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  EXPECT_TRUE(handheld::testing::ScreenPicture::ReadPng(path, &width, &height, &pixels));
  return pixels;
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class MainWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("HANDHELD_HEADLESS", "1", 1); }

  // Starts the program's window on the scripted receiver listed as COM3:.
  void StartOn(const std::string& hostDevice) {
    List(u"COM3:", hostDevice);
    ASSERT_TRUE(MainWindow::Startup(GetModuleHandle(nullptr), SW_SHOW));
  }
  // Lists `hostDevice` as the receiver's port `portName` in place of the
  // port listed before, as when one sleeve is taken off and another slid on.
  void List(const std::u16string& portName, const std::string& hostDevice,
            const std::u16string& driverKey = u"Drivers\\Tessiv\\0100\\0001") {
    if (!listed.empty()) {
      ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, (u"Drivers\\Active\\" + listed).c_str()),
                ERROR_SUCCESS);
    }
    listed = handheld::RegisterSerialPort(portName, driverKey, hostDevice);
    ASSERT_FALSE(listed.empty());
  }
  void TearDown() override {
    if (IsWindow(MainWindow::window))
      SendMessage(MainWindow::window, WM_COMMAND, MainWindow::kExit, 0);
    // The quit message that the window's end posted, and whatever else is
    // left, would otherwise end the next window's boxes and dialogs.
    MSG message;
    while (PeekMessage(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  // Has the receiver send `bytes`, then runs poll ticks until `arrived`
  // says the last of them was decoded; the screen is compared after each
  // tick with what it showed before the first.
  struct Ticks {
    int count = 0;
    bool repainted = false;
  };
  Ticks SendAndPoll(const std::string& bytes, const std::function<bool()>& arrived,
                    ScriptedReceiver* from = nullptr) {
    const std::vector<uint32_t> before = ScreenPixels(device.path() + "/before.png");
    (from != nullptr ? from : receiver.get())->Inject(bytes);
    Ticks ticks;
    for (int waited = 0; waited < 5000 && !arrived(); waited += 20) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      SendMessage(MainWindow::window, WM_TIMER, MainWindow::kPollTimer, 0);
      ++ticks.count;
      ticks.repainted = ticks.repainted || ScreenPixels(device.path() + "/after.png") != before;
    }
    EXPECT_TRUE(arrived());
    return ticks;
  }

  handheld::testing::TempDevice device;
  std::u16string listed;  // the receiver's entry under Drivers\Active
  std::unique_ptr<ScriptedReceiver> receiver;
};

// Whether the window's poll timer comes due within `ms`; the tick is taken
// from the queue, not handled.
bool TickWithin(int ms) {
  MSG message;
  for (int waited = 0;; waited += 20) {
    if (PeekMessage(&message, MainWindow::window, WM_TIMER, WM_TIMER, PM_REMOVE)) return true;
    if (waited >= ms) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}
// Two and a half periods: a running timer ticks twice in this time.
constexpr int kNoTickMs = MainWindow::kPollMs * 5 / 2;
// A running timer's next tick, with room for a loaded machine.
constexpr int kTickMs = 3000;

// A receiver that answers the version requests and otherwise sends only
// what the test injects, each beat a text sentence that no record takes.
const std::string kBeat = NmeaSentence("PSRFTXT,QUIET");
ScriptedReceiver::Script QuietReceiver() {
  ScriptedReceiver::Script script;
  // As the receiver simulator answers: PSRF200,2 is asked first.
  script.answer2 = "GSW2-2.05.024-C1Prod1.1";
  script.answer1 = "Dovrin GPS Sleeve 1.04";
  script.beatMs = 100;
  script.beatSentence = kBeat;
  return script;
}

TEST_F(MainWindowTest, ATickRepaintsForANewPositionOrForBothSatelliteTables) {
  receiver = std::make_unique<ScriptedReceiver>(QuietReceiver());
  StartOn(receiver->path());
  const DisplaySnapshot& page = MainWindow::snapshot;
  // The very first tick repaints, whatever came.
  SendMessage(MainWindow::window, WM_TIMER, MainWindow::kPollTimer, 0);

  struct Step {
    const char* what;
    std::string bytes;
    std::function<WORD()> counter;  // changes once the last sentence is decoded
    bool repaint;
  };
  const Step kSteps[] = {
      {"satellites in view alone", kGsvTwo, [&] { return page.gsv.count; }, false},
      {"then the satellites used: both changed since the last repaint", kGsa,
       [&] { return page.gsa.count; }, true},
      {"satellites in view alone again", kGsvFour, [&] { return page.gsv.count; }, false},
      {"a position", kRmc, [&] { return page.rmc.count; }, true},
      {"satellites in view and used in one go", kGsvOne + kGsa2d, [&] { return page.gsa.count; },
       true},
      {"a position that fails its checksum, then a good one", kBadChecksum + kRmcMoved,
       [&] { return page.rmc.count; }, true},
  };
  for (const Step& step : kSteps) {
    SCOPED_TRACE(step.what);
    const WORD before = step.counter();
    Ticks ticks = SendAndPoll(step.bytes, [&] { return step.counter() != before; });
    EXPECT_EQ(ticks.repainted, step.repaint) << ticks.count << " ticks";
  }
}

std::u16string Title() {
  WCHAR title[64];
  GetWindowText(MainWindow::window, title, 64);
  return title;
}

// Command 40008 on the window, with a person who reads the dialog and
// closes it with `closeWith`.
DialogSeen ShowFirmwareDialog(WPARAM closeWith) {
  return testsupport::WatchFirmwareDialog(
      [] { SendMessage(MainWindow::window, WM_COMMAND, MainWindow::kFirmwareInfo, 0); }, closeWith);
}

// ---- the status page on the screen, pixel for pixel ----

const std::string kGsvEight =
    NmeaSentence("GPGSV,2,1,08,02,72,045,47,04,55,130,44,07,38,200,41,09,21,310,38") +
    NmeaSentence("GPGSV,2,2,08,13,15,075,33,17,09,260,30,20,60,160,45,24,05,020,00");
const std::string kGsa3dSeven = NmeaSentence("GPGSA,A,3,02,04,07,09,13,17,20,,,,,,1.8,1.0,1.5");
const std::string kGsaNoFix = NmeaSentence("GPGSA,A,1,,,,,,,,,,,,,,,");
const std::string kRmcVoid = NmeaSentence("GPRMC,000012.000,V,,,,,,,010106,,,N");
const std::string kGgaHour25 = NmeaSentence("GPGGA,253000.000,,,,,0,00,,,M,,M,,");
const std::string kRmcSouthWest =
    NmeaSentence("GPRMC,081836.000,A,3751.6500,S,14507.3600,W,0.00,0.00,130998,,,A");
const std::string kGga =
    NmeaSentence("GPGGA,123519.000,4807.0380,N,01131.0000,E,1,07,1.0,545.4,M,46.9,M,,");

struct PictureCase {
  const char* name;  // viewer/app/tests/data/<name>.png
  std::string sentences;
  bool positionLast;  // the last sentence is a position: poll until it is decoded
  bool disconnect;    // then Disconnect
};

const PictureCase kPictures[] = {
    {"page-before-any-sentence", "", false, false},
    {"page-three-satellites", kGsvTwo + kGsa, false, false},
    {"page-3d-fix-valid", kGsvEight + kGsa3dSeven + kGga + kRmc, true, false},
    {"page-acquiring-void", kGsaNoFix + kRmcVoid, true, false},
    {"page-hour-25", kGgaHour25 + kRmcSouthWest, true, false},
    {"page-after-disconnect", kGsvEight + kGsa3dSeven + kGga + kRmc, true, true},
};

std::string ReferencePath(const char* name) {
  return std::string(APP_TESTDATA_DIR) + "/" + name + ".png";
}

// Each picture on a window of its own, started afresh on a receiver that
// has sent nothing that the page shows.
TEST_F(MainWindowTest, StatusPagesMatchTheirReferencePictures) {
  for (const PictureCase& picture : kPictures) {
    SCOPED_TRACE(picture.name);
    TearDown();
    receiver = std::make_unique<ScriptedReceiver>(QuietReceiver());
    StartOn(receiver->path());
    const DisplaySnapshot& page = MainWindow::snapshot;
    SendMessage(MainWindow::window, WM_TIMER, MainWindow::kPollTimer, 0);
    if (!picture.sentences.empty()) {
      const WORD rmc = page.rmc.count, gsa = page.gsa.count;
      SendAndPoll(picture.sentences, [&] {
        return picture.positionLast ? page.rmc.count != rmc : page.gsa.count != gsa;
      });
    }
    if (picture.disconnect)
      SendMessage(MainWindow::window, WM_COMMAND, MainWindow::kDisconnect, 0);
    // The command bar paints itself from the message loop.
    MSG message;
    while (PeekMessage(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&message);
    EXPECT_EQ(handheld::testing::ScreenPicture::ScreenDifference(ReferencePath(picture.name)), "");
  }
}

// The port does not open at start-up (its device is not there yet), so the
// start-up's reader stays without a receiver. Reconnect must put the new
// reader in its place as the session's sink, so the page fills; Disconnect
// then clears the page, leaves no reader and names no port.
TEST_F(MainWindowTest, ReconnectAfterAFailedStartReplacesTheReaderAndDisconnectClearsThePage) {
  receiver = std::make_unique<ScriptedReceiver>(QuietReceiver());
  const std::string link = device.path() + "/gps-link";
  StartOn(link);  // nothing there: the session says so in a box and the program goes on
  EXPECT_EQ(Title(), u"GPS COM3:(57600)");
  const NmeaReader* first = ViewerState::currentReader;
  ASSERT_NE(first, nullptr);
  ASSERT_FALSE(ViewerState::session->IsOpen());

  ASSERT_EQ(symlink(receiver->path().c_str(), link.c_str()), 0);
  SendMessage(MainWindow::window, WM_COMMAND, MainWindow::kReconnect, 0);
  ASSERT_TRUE(ViewerState::session->IsOpen());
  EXPECT_EQ(Title(), u"GPS COM3:(57600)");
  const DisplaySnapshot& page = MainWindow::snapshot;
  SendAndPoll(kGsvTwo + kGsa + kRmc, [&] { return page.rmc.status == 'A'; });
  EXPECT_EQ(page.gsa.fixMode, '3');
  EXPECT_EQ(page.gsv.inView, 3);

  // Reconnect while connected changes nothing.
  const NmeaReader* current = ViewerState::currentReader;
  SendMessage(MainWindow::window, WM_COMMAND, MainWindow::kReconnect, 0);
  EXPECT_EQ(ViewerState::currentReader, current);

  SendMessage(MainWindow::window, WM_COMMAND, MainWindow::kDisconnect, 0);
  EXPECT_EQ(Title(), u"Quelmar");
  EXPECT_EQ(ViewerState::currentReader, nullptr);
  EXPECT_FALSE(ViewerState::session->IsOpen());
  EXPECT_EQ(page.rmc.count, 0);
  EXPECT_EQ(page.rmc.status, 0);
  EXPECT_EQ(page.gsa.fixMode, 0);
  EXPECT_EQ(page.gsv.inView, 0);
  // A tick without a reader drains nothing and still draws.
  SendMessage(MainWindow::window, WM_TIMER, MainWindow::kPollTimer, 0);
}

// Disconnect stops the poll: no tick comes until the firmware dialog or
// Reconnect starts it again. After the dialog the ticks find no reader;
// Reconnect looks for the port afresh, so it finds the receiver listed now
// (the same port, or another one), names it in the title and reads it.
TEST_F(MainWindowTest, AfterDisconnectNoTickComesUntilTheDialogOrReconnectWhichFindsThePortAgain) {
  receiver = std::make_unique<ScriptedReceiver>(QuietReceiver());
  ScriptedReceiver other(QuietReceiver());
  StartOn(receiver->path());
  EXPECT_TRUE(TickWithin(kTickMs)) << "connected";
  auto disconnect = [](const char* when) {
    SendMessage(MainWindow::window, WM_COMMAND, MainWindow::kDisconnect, 0);
    EXPECT_FALSE(TickWithin(kNoTickMs)) << when;
  };
  disconnect("after Disconnect");

  const DialogSeen seen = ShowFirmwareDialog(IDCANCEL);
  EXPECT_TRUE(seen.closed);
  EXPECT_EQ(seen.port, u"COM3: (57600)");
  EXPECT_TRUE(TickWithin(kTickMs)) << "after the dialog";
  EXPECT_EQ(ViewerState::currentReader, nullptr);
  EXPECT_EQ(Title(), u"Quelmar");
  SendMessage(MainWindow::window, WM_TIMER, MainWindow::kPollTimer, 0);  // drains nothing
  disconnect("after Disconnect once more");

  struct Case {
    const char* what;
    const char16_t* port;
    ScriptedReceiver* peer;
    const char16_t* driverKey;
    const char16_t* title;
  };
  const Case kCases[] = {
      {"the same port", u"COM3:", receiver.get(), u"Drivers\\Tessiv\\0100\\0001",
       u"GPS COM3:(57600)"},
      {"another port", u"COM5:", &other, u"Drivers\\Tessiv\\0100\\0010", u"GPS COM5:(57600)"},
  };
  const DisplaySnapshot& page = MainWindow::snapshot;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    List(c.port, c.peer->path(), c.driverKey);
    SendMessage(MainWindow::window, WM_COMMAND, MainWindow::kReconnect, 0);
    EXPECT_EQ(Title(), c.title);
    ASSERT_TRUE(ViewerState::session->IsOpen());
    EXPECT_EQ(std::u16string(ViewerState::session->PortName()), c.port);
    EXPECT_TRUE(TickWithin(kTickMs));
    const WORD before = page.rmc.count;
    SendAndPoll(kGsvTwo + kGsa + kRmc, [&] { return page.rmc.count != before; }, c.peer);
    EXPECT_EQ(page.rmc.status, 'A');
    disconnect("after Disconnect");
  }
}

// The firmware dialog over the window: its four lines, its place, and its
// OK closing it.
TEST_F(MainWindowTest, FirmwareDialogShowsItsFourLinesCentredOverTheWindow) {
  receiver = std::make_unique<ScriptedReceiver>(QuietReceiver());
  StartOn(receiver->path());
  const DialogSeen seen = ShowFirmwareDialog(IDOK);
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.port, u"COM3: (57600)");
  // The reader decoded both version sentences at start-up, so the query
  // takes the last of them as its first text before asking again.
  EXPECT_EQ(seen.version, u"Dovrin GPS Sleeve 1.04, GSW2-2.05.024-C1Prod1.1");
  EXPECT_EQ(seen.loaded, u"Dovrin (0x0001)");
  EXPECT_EQ(seen.installed, u"Dovrin(0x0001)");
  RECT client{};
  GetClientRect(MainWindow::window, &client);
  const int width = seen.box.right - seen.box.left;
  const int height = seen.box.bottom - seen.box.top;
  EXPECT_EQ(seen.box.left, (client.right - width) / 2);
  EXPECT_EQ(seen.box.top, (client.bottom - height) / 2);
  EXPECT_TRUE(seen.closed);
}

// The complete sentences of a log, in order; what is not one (a torn or
// foreign byte) comes back as it is, so it shows in a comparison.
std::vector<std::string> SentencesOf(const std::string& log) {
  std::vector<std::string> sentences;
  size_t at = 0;
  while (at < log.size()) {
    size_t end = log.find("\r\n", at);
    end = end == std::string::npos ? log.size() : end + 2;
    sentences.push_back(log.substr(at, end - at));
    at = end;
  }
  return sentences;
}

// The sentences other than the receiver's steady beat.
std::vector<std::string> WithoutBeat(const std::vector<std::string>& sentences) {
  std::vector<std::string> kept;
  for (const std::string& s : sentences)
    if (s != kBeat) kept.push_back(s);
  return kept;
}

// Whether this process still holds a descriptor on the host file.
bool HeldOpen(const std::string& hostPath) {
  const std::string wanted = std::filesystem::canonical(hostPath).string();
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(entry.path(), error).string() == wanted) return true;
  }
  return false;
}

// The log holds every accepted sentence byte for byte and nothing else,
// and each is on disk when the tick that took it returns; a second Start
// closes the first log, whose content stays whole; Stop ends logging; a
// cancelled save dialog changes nothing, with a log open or none.
TEST_F(MainWindowTest, TheLogTakesEveryAcceptedSentenceAndASecondStartClosesTheFirst) {
  receiver = std::make_unique<ScriptedReceiver>(QuietReceiver());
  StartOn(receiver->path());
  std::filesystem::create_directories(handheld::HostPath(u"\\My Documents"));
  const std::string first = handheld::HostPath(u"\\My Documents\\first.log");
  const std::string second = handheld::HostPath(u"\\My Documents\\second.log");
  auto startLog = [](const char* answer) {
    handheld::SetScriptedAnswers(answer);
    SendMessage(MainWindow::window, WM_COMMAND, MainWindow::kStartLog, 0);
  };
  const DisplaySnapshot& page = MainWindow::snapshot;
  auto rmcCount = [&] { return page.rmc.count; };
  auto poll = [&](const std::string& bytes) {
    const WORD before = rmcCount();
    SendAndPoll(bytes, [&] { return rmcCount() != before; });
  };

  // Cancelled with no log open: none is opened, no file made, nothing said,
  // and Stop has nothing to close.
  handheld::ClearMessageBoxRecords();
  startLog("IDCANCEL");
  EXPECT_FALSE(LogFile::IsOpen());
  poll(kRmc);
  SendMessage(MainWindow::window, WM_COMMAND, MainWindow::kStopLog, 0);
  EXPECT_FALSE(LogFile::IsOpen());
  EXPECT_TRUE(std::filesystem::is_empty(handheld::HostPath(u"\\My Documents")));
  EXPECT_FALSE(std::filesystem::exists(handheld::HostPath(u"\\Quelmar.log")));
  EXPECT_TRUE(handheld::MessageBoxRecords().empty());

  startLog("save:\\My Documents\\first.log");
  ASSERT_TRUE(std::filesystem::exists(first));
  poll(kGsvTwo + kGsa + kBadChecksum + kRmc);
  // Read at once: the tick that decoded the position has returned.
  std::vector<std::string> logged = SentencesOf(FileText(first));
  ASSERT_FALSE(logged.empty());
  EXPECT_EQ(logged.front().front(), '$') << "the log begins with a sentence";
  EXPECT_EQ(WithoutBeat(logged), (std::vector<std::string>{kGsvTwo, kGsa, kRmc}));

  startLog("save:\\My Documents\\second.log");
  EXPECT_FALSE(HeldOpen(first));
  const std::string firstLog = FileText(first);
  poll(kGsvFour + kRmcMoved);
  EXPECT_EQ(FileText(first), firstLog);
  EXPECT_EQ(WithoutBeat(SentencesOf(FileText(second))), (std::vector<std::string>{kGsvFour, kRmcMoved}));

  startLog("IDCANCEL");  // the dialog is cancelled: still logging to the second file
  poll(kRmc);
  EXPECT_EQ(WithoutBeat(SentencesOf(FileText(second))),
            (std::vector<std::string>{kGsvFour, kRmcMoved, kRmc}));
  EXPECT_TRUE(HeldOpen(second));

  SendMessage(MainWindow::window, WM_COMMAND, MainWindow::kStopLog, 0);
  EXPECT_FALSE(HeldOpen(second));
  const std::string secondLog = FileText(second);
  poll(kRmcMoved);
  EXPECT_EQ(FileText(second), secondLog);
  for (const std::string& sentence : SentencesOf(secondLog))
    EXPECT_TRUE(NmeaReader::ChecksumValid(sentence.c_str())) << sentence;
}

// The firmware dialog asks a receiver that does not answer the version
// sentences over binary while a log is open: the log holds the sentences
// polled before and after, and none of the frames.
TEST_F(MainWindowTest, ALogOpenWhileTheDialogAsksOverBinaryHoldsNoBinaryBytes) {
  receiver = std::make_unique<ScriptedReceiver>(QuietReceiver());
  ScriptedReceiver::Script binaryOnly = QuietReceiver();
  binaryOnly.answer2 = binaryOnly.answer1 = "";
  binaryOnly.baseVersion = "GSW2-2.05.024-C1Prod1.1";
  binaryOnly.makerVersion = "Dovrin GPS Sleeve 1.04";
  ScriptedReceiver silentInNmea(binaryOnly);
  // Start-up asks the receiver that answers; the other one is reached by
  // Reconnect, which asks nothing.
  StartOn(receiver->path());
  SendMessage(MainWindow::window, WM_COMMAND, MainWindow::kDisconnect, 0);
  List(u"COM3:", silentInNmea.path());
  SendMessage(MainWindow::window, WM_COMMAND, MainWindow::kReconnect, 0);
  ASSERT_TRUE(ViewerState::session->IsOpen());

  std::filesystem::create_directories(handheld::HostPath(u"\\My Documents"));
  handheld::SetScriptedAnswers("save:\\My Documents\\binary.log");
  SendMessage(MainWindow::window, WM_COMMAND, MainWindow::kStartLog, 0);
  ASSERT_TRUE(LogFile::IsOpen());
  const DisplaySnapshot& page = MainWindow::snapshot;
  // Polls until the position of `time` is on the page (the reader that the
  // query leaves behind starts with empty records, so a count may change
  // before the position arrives).
  auto poll = [&](const std::string& bytes, const char* time) {
    SendAndPoll(bytes, [&] { return std::string(page.rmc.utcTime) == time; }, &silentInNmea);
  };
  poll(kGsvTwo + kGsa + kRmc, "123519.000");

  const DialogSeen seen = ShowFirmwareDialog(IDOK);
  EXPECT_EQ(seen.version, u"GSW2-2.05.024-C1Prod1.1, Dovrin GPS Sleeve 1.04");
  EXPECT_NE(silentInNmea.Received().find(receiver_test::kToBinary), std::string::npos);
  EXPECT_EQ(silentInNmea.CurrentMode(), ScriptedReceiver::Mode::Nmea);

  poll(kRmcMoved, "123520.000");
  SendMessage(MainWindow::window, WM_COMMAND, MainWindow::kStopLog, 0);
  const std::string log = FileText(handheld::HostPath(u"\\My Documents\\binary.log"));
  EXPECT_EQ(WithoutBeat(SentencesOf(log)), (std::vector<std::string>{kGsvTwo, kGsa, kRmc, kRmcMoved}));
}

}  // namespace
