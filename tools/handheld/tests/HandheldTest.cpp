// The handheld host run as a person runs it: the typical run on the
// receiver simulator, headless, in a temporary device folder, with commands
// from a second `handheld`; its screen checked against reference pictures,
// its registry read from the hive it shares with this test.
#include <gtest/gtest.h>

#include <pty.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "ReceiverSimHarness.h"
#include "handheld.h"
#include "handheld_package.h"
#include "testing/DriverRegistry.h"
#include "testing/ScreenPicture.h"
#include "testing/TempDevice.h"
#include "testing/XvfbServer.h"

namespace {

using handheld::testing::ActiveRecord;
using handheld::testing::ActiveRecords;
using handheld::testing::ScreenPicture;
using Image = ScreenPicture::Image;

constexpr int kWidth = 240;
constexpr int kHeight = 320;
// The status page's time line, which changes every second; page rows are
// client rows below the top bar (26 pixels).
constexpr int kTimeTop = 26 + 165, kTimeBottom = 26 + 190;
constexpr int kInfoTop = 26 + 195;
// Every row of the screen but the time line's.
const std::vector<ScreenPicture::Rows> kAllButTime = {{0, kTimeTop}, {kTimeBottom, kHeight}};

bool Eventually(const std::function<bool()>& done, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

// What differs between the screenshot at `path` and `reference` in `rows`;
// "" when nothing does.
std::string ShotDifference(const std::string& path, const Image& reference,
                           const std::vector<ScreenPicture::Rows>& rows) {
  Image shown;
  if (!ScreenPicture::ReadPng(path, &shown)) return "cannot read " + path;
  return ScreenPicture::Difference(shown, reference, rows);
}

Image Reference(const char* name) {
  const std::string path = std::string(HANDHELD_TESTDATA_DIR) + "/" + name + ".png";
  Image image;
  EXPECT_TRUE(ScreenPicture::ReadPng(path, &image)) << path;
  return image;
}

bool Listed(const std::u16string& key, const std::u16string& name) {
  for (const ActiveRecord& record : ActiveRecords())
    if (record.key == key && record.name == name) return true;
  return false;
}

bool AnyClient() {
  for (const ActiveRecord& record : ActiveRecords())
    if (record.key.rfind(u"Drivers\\Tessiv\\", 0) == 0) return true;
  return false;
}

bool KeyExists(const char16_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, 0, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

int PidAfter(const std::string& text, const std::string& before) {
  std::smatch match;
  if (!std::regex_search(text, match, std::regex(before + "[^\\n]*pid ([0-9]+)"))) return -1;
  return std::stoi(match[1]);
}

bool Alive(int pid) {
  // A child of the host that it has reaped is gone; a zombie is as good as gone.
  const std::string stat = testsupport::Slurp("/proc/" + std::to_string(pid) + "/stat");
  return !stat.empty() && stat.find(") Z") == std::string::npos;
}

class Handheld : public ::testing::Test {
 protected:
  // The typical run with these options, until it says it runs.
  void StartRun(std::vector<std::string> options) {
    options.insert(options.begin(), {"--device-folder", device_.path(), "--headless",
                                     "--screenshot", screen_});
    run_ = std::make_unique<testsupport::ChildProcess>(HANDHELD_PATH, options);
  }
  bool Running() {
    return Eventually([&] { return run_->Output().find("Running;") != std::string::npos; }, 60);
  }
  // The typical run, running; its viewer's and simulator's process ids.
  void RunWithChildren(int* viewer, int* simulator) {
    StartRun({});
    ASSERT_TRUE(Running()) << run_->Output() << run_->Errors();
    *viewer = PidAfter(run_->Output(), "Viewer quelmar started");
    *simulator = PidAfter(run_->Output(), "Receiver simulator");
    ASSERT_GT(*viewer, 0);
    ASSERT_GT(*simulator, 0);
  }
  testsupport::Outcome Command(const std::vector<std::string>& words) {
    std::vector<std::string> args{"--device-folder", device_.path()};
    args.insert(args.end(), words.begin(), words.end());
    return testsupport::Run(HANDHELD_PATH, args, 30000);
  }
  // Waits for a screenshot whose rows match `reference` but for the time line.
  bool ScreenShows(const Image& reference, int seconds) {
    return Eventually([&] { return ShotDifference(screen_, reference, kAllButTime).empty(); },
                      seconds);
  }

  handheld::testing::TempDevice device_;
  const std::string screen_ = device_.path() + "/screen.png";  // removed with the folder
  std::unique_ptr<testsupport::ChildProcess> run_;
};

// Install, insertion, the client's port, the page filled from the
// simulator; then the sleeve taken off, the viewer ended from its menu, and
// the package uninstalled without a trace.
TEST_F(Handheld, TypicalRunOnTheSimulator) {
  StartRun({});
  ASSERT_TRUE(Running()) << run_->Output() << run_->Errors();
  EXPECT_TRUE(Listed(u"Drivers\\BuiltIn\\Tessiv", u"OPT1:"));
  EXPECT_TRUE(Listed(u"Drivers\\Tessiv\\0100\\0001", u"COM3:"));
  EXPECT_TRUE(ScreenShows(Reference("typical-run"), 60)) << run_->Output();

  const testsupport::Outcome removed = Command({"remove"});
  EXPECT_EQ(removed.status, 0) << removed.err;
  EXPECT_NE(removed.out.find("Client driver COM3: unloaded"), std::string::npos) << removed.out;
  EXPECT_FALSE(AnyClient());
  EXPECT_TRUE(Listed(u"Drivers\\BuiltIn\\Tessiv", u"OPT1:"));

  const testsupport::Outcome posted = Command({"post", "QUELMAR", "WM_COMMAND", "40002"});
  EXPECT_EQ(posted.status, 0) << posted.err;
  EXPECT_EQ(run_->Wait(20000), 0) << run_->Output() << run_->Errors();
  EXPECT_NE(run_->Output().find("The viewer ended with exit code 0"), std::string::npos);
  EXPECT_TRUE(ActiveRecords().empty());

  const testsupport::Outcome uninstalled = Command({"uninstall"});
  EXPECT_EQ(uninstalled.status, 0) << uninstalled.out << uninstalled.err;
  EXPECT_FALSE(KeyExists(u"Drivers\\BuiltIn\\Tessiv"));
  EXPECT_FALSE(KeyExists(u"Drivers\\Tessiv"));
  EXPECT_FALSE(KeyExists(u"SOFTWARE\\Apps\\GpsSleeve"));
  EXPECT_FALSE(std::filesystem::exists(handheld::HostPath(u"\\Windows\\Tessiv.dll")));
  EXPECT_FALSE(std::filesystem::exists(handheld::HostPath(u"\\Windows\\SleeveSerial.dll")));
  const testsupport::Outcome again = Command({"uninstall"});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("no package is installed"), std::string::npos) << again.err;
}

// `install CAB` takes the cabinet named (here relative to the caller's
// folder): one cut short is refused with the reason and nothing installed;
// the other sleeve's installs.
TEST_F(Handheld, InstallTakesTheCabinetNamed) {
  const std::string cut = device_.path() + "/Cut.CAB";
  std::ifstream whole(handheld::DefaultCabinet(), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(whole)), std::istreambuf_iterator<char>());
  std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  const testsupport::Outcome refused =
      Command({"install", std::filesystem::relative(cut).string()});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("cannot read the cabinet /"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("/Cut.CAB: it is damaged or cut short"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("nothing was changed"), std::string::npos) << refused.err;
  const std::string second =
      (std::filesystem::path(handheld::DefaultCabinet()).parent_path() / "SecondSleeve.CAB").string();
  const testsupport::Outcome installed = Command({"install", second});
  EXPECT_EQ(installed.status, 0) << installed.out << installed.err;
  EXPECT_NE(installed.out.find("SecondSleeve installed"), std::string::npos) << installed.out;
  const testsupport::Outcome status = Command({"status"});
  EXPECT_NE(status.out.find("Installed packages: SecondSleeve"), std::string::npos) << status.out;
}

// The second sleeve kind, whose package brings its own client driver: the
// page names it as the active driver. Without a sleeve the viewer finds no
// port, says so and ends with code 1, which the run reports and ends with.
TEST_F(Handheld, TheSecondSleeveKindAndNoSleeve) {
  StartRun({"--sleeve", "second"});
  ASSERT_TRUE(Running()) << run_->Output() << run_->Errors();
  EXPECT_TRUE(Listed(u"Drivers\\Tessiv\\0100\\0010", u"COM3:"));
  // "Installed Drivers: Dovrin(0x0001), Zulvo(0x0010)", "Active Driver: Zulvo (0x0010)".
  const Image secondSleeve = Reference("second-sleeve");
  EXPECT_TRUE(Eventually([&] {
    return ShotDifference(screen_, secondSleeve, {{kInfoTop, kHeight}}).empty();
  }, 60)) << run_->Output();
  const testsupport::Outcome shutdown = Command({"shutdown"});
  EXPECT_EQ(shutdown.status, 0) << shutdown.out << shutdown.err;
  EXPECT_EQ(run_->Wait(10000), 0) << run_->Output() << run_->Errors();

  StartRun({"--no-sleeve"});
  EXPECT_EQ(run_->Wait(30000), 1) << run_->Output() << run_->Errors();
  EXPECT_NE(run_->Output().find("The viewer ended with exit code 1"), std::string::npos);
  EXPECT_NE(run_->Errors().find("Sleeve Not Attached"), std::string::npos) << run_->Errors();
}

// Under an X server the viewer shows in a window of its own, the screen
// scaled by two: the window shows the live status page, and a click through
// the server's pointer on the caption's ok button in the top bar (above the
// viewer's window, which leaves it uncovered) ends the viewer with code 1,
// and the run with it.
TEST_F(Handheld, TheViewerInAnX11Window) {
  constexpr int kScale = 2;
  handheld::testing::XvfbServer server;
  if (server.display().empty()) GTEST_SKIP() << "Xvfb cannot start here (is it installed?)";
  run_ = std::make_unique<testsupport::ChildProcess>(
      HANDHELD_PATH, std::vector<std::string>{"--device-folder", device_.path()},
      std::vector<std::string>{"DISPLAY=" + server.display(), "HANDHELD_SCALE=2"});
  ASSERT_TRUE(Running()) << run_->Output() << run_->Errors();
  EXPECT_NE(run_->Output().find("in a window on display " + server.display()), std::string::npos);
  const Image reference = Reference("typical-run");
  EXPECT_TRUE(Eventually([&] {
    Image window{kWidth * kScale, kHeight * kScale, {}};
    return server.Capture("quelmar", window.width, window.height, &window.pixels) &&
           ScreenPicture::Difference(window, reference, kAllButTime, kScale).empty();
  }, 60)) << server.Describe() << "\n" << run_->Output() << run_->Errors();
  // The ok button's last window pixel: the screen's (235, 21).
  ASSERT_TRUE(server.Click("quelmar", 236 * kScale - 1, 22 * kScale - 1))
      << server.Describe() << "\n" << run_->Output() << run_->Errors();
  EXPECT_EQ(run_->Wait(15000), 1) << run_->Output() << run_->Errors();
  EXPECT_NE(run_->Output().find("The viewer ended with exit code 1"), std::string::npos);
}

// The viewer or the simulator killed: the host goes on and says so; shutdown
// leaves no process and no pseudo-terminal behind.
TEST_F(Handheld, KilledChildrenLeaveTheHostRunningAndShutdownEndsEverything) {
  int viewer = 0, simulator = 0;
  ASSERT_NO_FATAL_FAILURE(RunWithChildren(&viewer, &simulator));

  struct Kill {
    int pid;
    const char* reported;
  };
  for (const Kill& k : {Kill{viewer, "Viewer ended: killed by signal 9"},
                        Kill{simulator, "Receiver simulator ended: killed by signal 9"}}) {
    ASSERT_EQ(kill(k.pid, SIGKILL), 0);
    EXPECT_TRUE(Eventually([&] { return run_->Output().find(k.reported) != std::string::npos; }, 10))
        << run_->Output();
    const testsupport::Outcome status = Command({"status"});
    EXPECT_EQ(status.status, 0) << status.err;
    EXPECT_NE(status.out.find("Loaded drivers: OPT1:, COM3:"), std::string::npos) << status.out;
  }
  EXPECT_NE(Command({"status"}).out.find("Viewer: not running (ended: killed by signal 9"),
            std::string::npos);

  // A new simulator, then the end of everything.
  const testsupport::Outcome simulated = Command({"receiver", "--simulate"});
  ASSERT_EQ(simulated.status, 0) << simulated.err;
  const int second = PidAfter(simulated.out, "Receiver simulator");
  std::smatch pty;
  ASSERT_TRUE(std::regex_search(simulated.out, pty, std::regex("on (/dev/pts/[0-9]+)")));
  struct stat before {};
  ASSERT_EQ(stat(pty[1].str().c_str(), &before), 0);
  const testsupport::Outcome shutdown = Command({"shutdown"});
  EXPECT_EQ(shutdown.status, 0) << shutdown.err;
  EXPECT_NE(shutdown.out.find("Driver OPT1: (Drivers\\BuiltIn\\Tessiv) deinitialised"),
            std::string::npos) << shutdown.out;
  EXPECT_EQ(run_->Wait(10000), 0) << run_->Output() << run_->Errors();
  EXPECT_FALSE(Alive(second));
  // Gone, or made anew for another program (other tests run beside this one).
  struct stat after {};
  EXPECT_TRUE(stat(pty[1].str().c_str(), &after) != 0 ||
              after.st_ctim.tv_sec != before.st_ctim.tv_sec ||
              after.st_ctim.tv_nsec != before.st_ctim.tv_nsec)
      << pty[1] << " is still there";
  EXPECT_TRUE(ActiveRecords().empty());
  EXPECT_EQ(Command({"status"}).out.find("No handheld host runs"), 0u);
}

// A receiver at its own line rate on --receiver: found (or taken as given)
// and switched to 57600 before the viewer starts, the simulator's page
// shown, and at the end the receiver back at its first rate and protocol,
// unless --keep-rate.
struct RateCase {
  const char* name;
  std::vector<std::string> sim;      // the simulator's arguments
  std::vector<std::string> options;  // the handheld's, besides --receiver
  std::string says;                  // before the viewer starts
  std::string ends;                  // at the end
  speed_t last;                      // where the receiver is heard at the end
  bool binary;
};

void PrintTo(const RateCase& c, std::ostream* out) { *out << c.name; }

const RateCase kRateCases[] = {
    {"Nmea4800", {"--baud", "4800"}, {}, "receiver found at 4800 baud (NMEA); switched to 57600",
     "receiver switched back to 4800 baud (NMEA)", B4800, false},
    {"Nmea9600", {"--baud", "9600"}, {}, "receiver found at 9600 baud (NMEA); switched to 57600",
     "receiver switched back to 9600 baud (NMEA)", B9600, false},
    {"Binary38400", {"--baud", "38400", "--start", "binary"}, {},
     "receiver found at 38400 baud (SiRF binary); switched to 57600 baud (NMEA)",
     "receiver switched back to 38400 baud (SiRF binary)", B38400, true},
    {"Given4800", {"--baud", "4800"}, {"--receiver-baud", "4800"},
     "receiver taken to be at 4800 baud (NMEA), as given; switched to 57600",
     "receiver switched back to 4800 baud (NMEA)", B4800, false},
    {"KeepRate", {"--baud", "4800"}, {"--keep-rate"},
     "receiver found at 4800 baud (NMEA); switched to 57600",
     "receiver left at 57600 baud (NMEA) (--keep-rate); it was found at 4800 baud (NMEA)", B57600,
     false},
};

class HandheldRate : public Handheld, public ::testing::WithParamInterface<RateCase> {};

TEST_P(HandheldRate, FindsTheRateShowsThePageAndGivesItBack) {
  const RateCase& c = GetParam();
  std::vector<std::string> simArgs{"--seconds", "300"};
  simArgs.insert(simArgs.end(), c.sim.begin(), c.sim.end());
  simtest::SimProcess sim;
  ASSERT_TRUE(sim.Launch(simArgs));
  std::vector<std::string> options{"--receiver", sim.path(), "--seconds", "10"};
  options.insert(options.end(), c.options.begin(), c.options.end());
  StartRun(options);
  EXPECT_EQ(run_->Wait(120000), 0) << run_->Output() << run_->Errors();
  const std::string out = run_->Output();
  const size_t found = out.find(c.says + "\n");
  EXPECT_LT(found, out.find("Viewer quelmar started")) << out;
  EXPECT_EQ(out.find("Looking for the receiver's line rate") == std::string::npos,
            !c.options.empty() && c.options[0] == "--receiver-baud") << out;
  EXPECT_LT(out.find("Viewer ended"), out.find(c.ends + "\n")) << out;
  EXPECT_EQ(ShotDifference(screen_, Reference("typical-run"), kAllButTime), "") << screen_;
  EXPECT_TRUE(simtest::HeardAt(sim.path(), c.last, c.binary));
}

INSTANTIATE_TEST_SUITE_P(Rates, HandheldRate, ::testing::ValuesIn(kRateCases),
                         [](const ::testing::TestParamInfo<RateCase>& info) { return info.param.name; });

// A device that answers at no rate: named with the rates tried, and the
// viewer started all the same.
TEST_F(Handheld, SilentReceiverIsNamedAndTheRunGoesOn) {
  int master = -1;
  int slave = -1;
  char name[256] = {};
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  StartRun({"--receiver", name, "--seconds", "2"});
  run_->Wait(120000);
  const std::string out = run_->Output();
  EXPECT_LT(out.find(std::string("no receiver heard on ") + name +
                     " at 57600, 4800, 9600, 19200, 38400 or 115200 baud"),
            out.find("Viewer quelmar started")) << out;
  EXPECT_NE(out.find("Running;"), std::string::npos) << out;
  close(master);
  close(slave);
}

// A client of the viewer's or the host's control socket that connects and
// sends `text`, then holds the connection open.
class HeldClient {
 public:
  HeldClient(const std::string& socketPath, const std::string& text) {
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    held_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
  }
  ~HeldClient() { close(fd_); }
  bool held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

int Mode(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}

// Half a line held on the viewer's socket stalls neither the host's
// commands nor its Ctrl-C; a post with numbers past 32 bits is refused.
TEST_F(Handheld, AClientHoldingTheViewersChannelStallsNothing) {
  StartRun({});
  ASSERT_TRUE(Running()) << run_->Output() << run_->Errors();
  const int viewer = PidAfter(run_->Output(), "Viewer quelmar started");
  ASSERT_GT(viewer, 0);
  // The viewer's channel open and its window thread past the version query,
  // which keeps it from answering for up to 25 s.
  ASSERT_TRUE(Eventually([&] { return run_->Output().find("Version query done") != std::string::npos; }, 60))
      << run_->Output();
  HeldClient half(device_.path() + "/control/" + std::to_string(viewer), "tit");
  ASSERT_TRUE(half.held());
  std::vector<std::unique_ptr<HeldClient>> idle;
  for (int i = 0; i < 10; ++i)
    idle.push_back(std::make_unique<HeldClient>(device_.path() + "/control/host", ""));

  // The host asks the viewer for its title: answered, not waited out.
  const testsupport::Outcome status = testsupport::Run(
      HANDHELD_PATH, {"--device-folder", device_.path(), "status"}, 8000);
  EXPECT_EQ(status.status, 0) << status.err;
  EXPECT_NE(status.out.find("Viewer: running"), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("title \"GPS"), std::string::npos) << status.out;

  for (const char* number : {"4294967296", "99999999999999999999", "-2147483649"}) {
    const testsupport::Outcome posted = Command({"post", "QUELMAR", "WM_COMMAND", "1", number});
    EXPECT_EQ(posted.status, 1) << number;
    EXPECT_NE(posted.err.find("out of range"), std::string::npos) << number << ": " << posted.err;
  }

  ASSERT_EQ(kill(run_->pid(), SIGINT), 0);
  EXPECT_EQ(run_->Wait(20000), 0) << run_->Output() << run_->Errors();
  EXPECT_NE(run_->Output().find("Viewer ended: exit code 0"), std::string::npos) << run_->Output();
}

// The host killed outright takes its viewer and simulator with it, and a
// status afterwards lists nothing as loaded.
TEST_F(Handheld, ChildrenEndWithTheirHost) {
  int viewer = 0, simulator = 0;
  ASSERT_NO_FATAL_FAILURE(RunWithChildren(&viewer, &simulator));
  ASSERT_EQ(kill(run_->pid(), SIGKILL), 0);
  run_->Wait(5000);
  EXPECT_TRUE(Eventually([&] { return !Alive(viewer) && !Alive(simulator); }, 10))
      << "viewer " << Alive(viewer) << ", simulator " << Alive(simulator);

  const testsupport::Outcome status = Command({"status"});
  EXPECT_EQ(status.status, 0) << status.err;
  EXPECT_NE(status.out.find("Loaded drivers: none"), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("left by a host that has ended (OPT1:, COM3:)"), std::string::npos)
      << status.out;
}

// The device folder removed under a running host: the host ends the viewer,
// deinitialises its drivers and ends; the commands after it say what is
// wrong and make no new hive.
TEST_F(Handheld, TheDeviceFolderRemovedUnderTheHost) {
  StartRun({});
  ASSERT_TRUE(Running()) << run_->Output() << run_->Errors();
  // The viewer up and done with the registry: a program that starts on a
  // folder that has gone makes it anew.
  ASSERT_TRUE(Eventually([&] { return run_->Output().find("Viewer window up") != std::string::npos; }, 30))
      << run_->Output();
  EXPECT_TRUE(Eventually([&] {
    std::error_code ignored;
    std::filesystem::remove_all(device_.path(), ignored);
    return !std::filesystem::exists(device_.path());
  }, 10));
  EXPECT_EQ(run_->Wait(20000), 1) << run_->Output() << run_->Errors();
  const std::string said = run_->Output();
  EXPECT_NE(said.find("was removed or replaced under the running host"), std::string::npos) << said;
  EXPECT_NE(said.find("Driver OPT1: (Drivers\\BuiltIn\\Tessiv) deinitialised"), std::string::npos)
      << said;
  EXPECT_NE(said.find("Viewer ended: "), std::string::npos) << said;
  EXPECT_EQ(said.find("did not end by itself"), std::string::npos) << said;

  for (const char* command : {"status", "shutdown"}) {
    const testsupport::Outcome run = Command({command});
    EXPECT_EQ(run.status, 1) << command;
    EXPECT_NE(run.err.find("does not exist"), std::string::npos) << command << ": " << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(device_.path()));
}

// Under umask 000 the device folder, control/, the host's socket and the
// hive are still the user's alone.
TEST(HandheldModes, PrivateWhateverTheUmask) {
  handheld::testing::TempDevice scratch;
  const std::string folder = scratch.path() + "/fresh";
  const mode_t saved = umask(0);
  testsupport::ChildProcess host(HANDHELD_PATH, {"--device-folder", folder, "host"});
  umask(saved);
  ASSERT_TRUE(Eventually([&] { return host.Output().find("Handheld host running") != std::string::npos; }, 30))
      << host.Output() << host.Errors();
  EXPECT_EQ(Mode(folder), 0700);
  EXPECT_EQ(Mode(folder + "/control"), 0700);
  EXPECT_EQ(Mode(folder + "/control/host"), 0600);
  EXPECT_EQ(Mode(folder + "/registry.db"), 0600);
  for (const char* suffix : {"-wal", "-shm"}) {
    if (std::filesystem::exists(folder + "/registry.db" + suffix)) {
      EXPECT_EQ(Mode(folder + "/registry.db" + suffix), 0600) << suffix;
    }
  }
  EXPECT_EQ(testsupport::Run(HANDHELD_PATH, {"--device-folder", folder, "shutdown"}).status, 0);
  EXPECT_EQ(host.Wait(10000), 0);
}

// Wrong command lines, and device folders that cannot serve, refused at
// once with the reason: nothing boots.
TEST(HandheldCommandLine, RefusedAtOnceWithTheReason) {
  handheld::testing::TempDevice scratch;
  const std::string base = scratch.path();
  scratch.MakeBrokenHives();
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string said;  // on standard error
  };
  const std::string fresh = base + "/fresh";
  const std::vector<Case> cases{
      {{"--device-folder", "", "status"}, 2, "--device-folder \"\" names no folder"},
      {{"--device-folder", fresh, "frobnicate"}, 2, "unknown command frobnicate"},
      {{"status", "--device-folder", base + "/garbage"}, 1,
       "cannot use the registry hive in " + base + "/garbage: file is not a database"},
      {{"--device-folder", base + "/folder", "status"}, 1,
       "cannot use the registry hive in " + base + "/folder: Is a directory"},
      {{"--device-folder", "/dev/null/x", "status"}, 1, "/dev/null/x: Not a directory"},
      {{"--device-folder", fresh, "status"}, 1, fresh + " does not exist"},
      {{"--device-folder", fresh, "--headless", "--receiver", "/dev/null"}, 1,
       "/dev/null is not a terminal"},
      {{"--device-folder", fresh, "--headless", "--receiver", "/dev/ptmx", "--receiver-baud", "12345"},
       2, "--receiver-baud 12345: not a receiver line rate"},
      {{"--device-folder", fresh, "--headless", "--screenshot", "/nonexistent/dir/x.png"}, 1,
       "cannot write the screenshot /nonexistent/dir/x.png: /nonexistent/dir: No such file"},
  };
  for (const Case& c : cases) {
    const testsupport::Outcome run = testsupport::Run(HANDHELD_PATH, c.args, 10000);
    std::string line;
    for (const std::string& a : c.args) line += " " + a;
    EXPECT_EQ(run.status, c.status) << line << "\n" << run.out << run.err;
    EXPECT_NE(run.err.find(c.said), std::string::npos) << line << "\n" << run.err;
    EXPECT_EQ(run.out.find("Handheld booted"), std::string::npos) << line << "\n" << run.out;
    EXPECT_EQ(run.out.find("Installed packages"), std::string::npos) << line << "\n" << run.out;
  }
  EXPECT_FALSE(std::filesystem::exists(fresh));
}

// A hive on a full disk (a small tmpfs filled up) is said to be unusable.
TEST(HandheldCommandLine, StatusOnAFullDiskSaysSo) {
  handheld::testing::TempDevice scratch;
  const std::string disk = scratch.path() + "/disk";
  std::filesystem::create_directories(disk);
  if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=2m") != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno)
                 << "); a full disk needs one";
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{disk};
  const std::string folder = disk + "/device";
  EXPECT_EQ(testsupport::Run(HANDHELD_PATH, {"--device-folder", folder, "status"}).status, 1);
  {
    testsupport::ChildProcess host(HANDHELD_PATH, {"--device-folder", folder, "host"});
    EXPECT_TRUE(Eventually([&] { return host.Output().find("Handheld host running") != std::string::npos; }, 30))
        << host.Output() << host.Errors();
    EXPECT_EQ(testsupport::Run(HANDHELD_PATH, {"--device-folder", folder, "shutdown"}).status, 0);
    host.Wait(10000);
  }
  if (FILE* filler = std::fopen((disk + "/filler").c_str(), "w")) {
    const std::string block(65536, 'f');
    while (std::fwrite(block.data(), 1, block.size(), filler) == block.size()) {
    }
    std::fclose(filler);
  }
  const testsupport::Outcome status =
      testsupport::Run(HANDHELD_PATH, {"--device-folder", folder, "status"});
  EXPECT_EQ(status.status, 1) << status.out;
  EXPECT_NE(status.err.find("cannot use the registry hive in " + folder + ": "), std::string::npos)
      << status.err;
  EXPECT_EQ(status.out.find("Installed packages"), std::string::npos) << status.out;
}

}  // namespace
