// The handheld as `cmake --install` leaves it: the build installed into a
// temporary prefix, then the typical run from PREFIX/bin/handheld in a
// private mount namespace where the build and source folders are empty, so
// anything the installed programs took from there (the platform library,
// the modules, the package files, the viewer and the simulator) would fail.
// The run's screen must show the status page of the build's own run.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "testing/ScreenPicture.h"
#include "testing/TempDevice.h"

namespace {

namespace fs = std::filesystem;

// The screen shot at `path` shows the reference page but for the time line
// (client rows 165 to 190 below the 26-pixel top bar), which changes every
// second.
bool ShowsTheTypicalRun(const std::string& path) {
  constexpr int kTimeTop = 26 + 165, kTimeBottom = 26 + 190;
  using handheld::testing::ScreenPicture;
  ScreenPicture::Image shown, reference;
  return ScreenPicture::ReadPng(path, &shown) &&
         ScreenPicture::ReadPng(std::string(HANDHELD_TESTDATA_DIR) + "/typical-run.png", &reference) &&
         ScreenPicture::Difference(shown, reference, {{0, kTimeTop}, {kTimeBottom, reference.height}})
             .empty();
}

// A shell line that hides the build and source folders beneath empty ones,
// then becomes `program` with `args`; run by unshare in a mount namespace.
std::vector<std::string> Hidden(const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> line{"--mount", "--map-root-user", "/bin/sh", "-c",
                                "mount -t tmpfs none \"$1\" && mount -t tmpfs none \"$2\" && "
                                "shift 2 && exec \"$@\"",
                                "sh", INSTALL_BUILD_DIR, INSTALL_SOURCE_DIR, program};
  line.insert(line.end(), args.begin(), args.end());
  return line;
}

TEST(InstalledPrefix, TheTypicalRunNeedsNothingOfTheBuildOrTheSources) {
  handheld::testing::TempDevice scratch;  // a private folder, removed at the end
  const std::string prefix = scratch.path() + "/prefix", device = scratch.path() + "/device";
  const std::string screen = scratch.path() + "/screen.png";
  ASSERT_TRUE(fs::create_directory(device));
  if (testsupport::Run("/usr/bin/unshare", Hidden("/bin/true", {})).status != 0)
    GTEST_SKIP() << "no private mount namespace here (unshare --mount --map-root-user)";

  const testsupport::Outcome installed =
      testsupport::Run(CMAKE_COMMAND, {"--install", INSTALL_BUILD_DIR, "--prefix", prefix}, 60000);
  ASSERT_EQ(installed.status, 0) << installed.out << installed.err;
  // Every program comes with its manual page.
  for (const fs::directory_entry& program : fs::directory_iterator(prefix + "/bin"))
    EXPECT_TRUE(fs::exists(prefix + "/share/man/man1/" + program.path().filename().string() +
                           ".1.gz"))
        << program.path();

  const std::string handheld = prefix + "/bin/handheld";
  testsupport::ChildProcess run(
      "/usr/bin/unshare",
      Hidden(handheld, {"--device-folder", device, "--headless", "--screenshot", screen,
                        "--seconds", "120"}),
      {"HANDHELD_MODULES=", "HANDHELD_TRACE="});
  // The screen is written every 3 seconds while the run goes on.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  bool shown = false;
  while (!(shown = ShowsTheTypicalRun(screen)) && run.Wait(0) < 0 &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(shown) << run.Output() << run.Errors();
  const testsupport::Outcome shutdown =
      testsupport::Run(handheld, {"--device-folder", device, "shutdown"});
  EXPECT_EQ(shutdown.status, 0) << shutdown.out << shutdown.err;
  EXPECT_EQ(run.Wait(20000), 0) << run.Output() << run.Errors();
  EXPECT_NE(run.Output().find("Client driver loaded from Drivers\\Tessiv\\0100\\0001 as COM3:"),
            std::string::npos)
      << run.Output();
  EXPECT_EQ(run.Errors(), "");
}

}  // namespace
