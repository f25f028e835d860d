// The screen as a person and a script see it: a picture drawn with the
// drawing calls must come out pixel for pixel as the reference image, in the
// PNG written at exit when headless, and in the X11 window (read back from
// the X server) and its PNG at scales 1 and 2 under an Xvfb server that the
// test starts itself. Each drawing runs in a child process of its own,
// because a process makes its screen once, from its environment.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "handheld.h"
#include "testing/ScreenPicture.h"
#include "testing/TempDevice.h"
#include "testing/XvfbServer.h"

namespace {

using handheld::testing::ScreenPicture;
using handheld::testing::TempDevice;
using handheld::testing::XvfbServer;

constexpr int kWidth = 240;
constexpr int kHeight = 320;

using Image = ScreenPicture::Image;

Image Reference() {
  Image image;
  EXPECT_TRUE(ScreenPicture::ReadPng(ScreenPicture::ReferencePath(), &image))
      << ScreenPicture::ReferencePath();
  return image;
}

// A child process that draws the picture with the given environment, tells
// the parent through `ready` once the screen shows it, waits for a byte on
// `proceed` and exits (writing $HANDHELD_SCREENSHOT).
pid_t StartDrawing(const std::vector<std::pair<const char*, const char*>>& environment,
                   int* ready, int* proceed) {
  int toParent[2], toChild[2];
  if (pipe(toParent) != 0 || pipe(toChild) != 0) return -1;
  pid_t child = fork();
  if (child == 0) {
    close(toParent[0]);
    close(toChild[1]);
    unsetenv("HANDHELD_HEADLESS");
    for (const auto& [name, value] : environment) setenv(name, value, 1);
    char ok = ScreenPicture::Draw() && handheld::WaitScreenShown(10000) ? 'y' : 'n';
    (void)!write(toParent[1], &ok, 1);
    char go;
    (void)!read(toChild[0], &go, 1);
    std::exit(ok == 'y' ? 0 : 1);
  }
  close(toParent[1]);
  close(toChild[0]);
  *ready = toParent[0];
  *proceed = toChild[1];
  return child;
}

// Ends the drawing child; true when it drew and wrote its PNG.
bool FinishDrawing(pid_t child, int ready, int proceed) {
  (void)!write(proceed, "x", 1);
  close(proceed);
  close(ready);
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool AwaitReady(int ready) {
  pollfd fd{ready, POLLIN, 0};
  char ok = 'n';
  return poll(&fd, 1, 30000) == 1 && read(ready, &ok, 1) == 1 && ok == 'y';
}

TEST(Screen, HeadlessPictureMatchesReferenceInPngWrittenAtExit) {
  TempDevice device;
  const std::string png = device.path() + "/screen.png";
  int ready, proceed;
  pid_t child = StartDrawing({{"HANDHELD_HEADLESS", "1"}, {"HANDHELD_SCREENSHOT", png.c_str()}},
                             &ready, &proceed);
  ASSERT_GT(child, 0);
  EXPECT_TRUE(AwaitReady(ready));
  ASSERT_TRUE(FinishDrawing(child, ready, proceed));
  const std::string difference = ScreenPicture::FileDifference(png, ScreenPicture::ReferencePath());
  EXPECT_EQ(difference, "");
  if (!difference.empty()) {  // kept for a look
    std::string kept = testing::TempDir() + "screen-picture-actual.png";
    std::rename(png.c_str(), kept.c_str());
    ADD_FAILURE() << "the picture drawn is in " << kept;
  }
}

class ScreenOnX11 : public testing::TestWithParam<int> {};

TEST_P(ScreenOnX11, WindowShowsPictureScaled) {
  const int scale = GetParam();
  XvfbServer server;
  if (server.display().empty()) GTEST_SKIP() << "Xvfb cannot start here (is it installed?)";
  TempDevice device;
  const std::string png = device.path() + "/screen.png";
  const std::string scaleText = std::to_string(scale);
  int ready, proceed;
  pid_t child = StartDrawing({{"DISPLAY", server.display().c_str()},
                              {"HANDHELD_SCALE", scaleText.c_str()},
                              {"HANDHELD_SCREENSHOT", png.c_str()}},
                             &ready, &proceed);
  ASSERT_GT(child, 0);
  const bool drawn = AwaitReady(ready);
  Image shown;
  if (drawn) {
    shown.width = kWidth * scale;
    shown.height = kHeight * scale;
    EXPECT_TRUE(server.Capture(program_invocation_short_name, shown.width, shown.height,
                               &shown.pixels))
        << "no window titled " << program_invocation_short_name;
  }
  ASSERT_TRUE(FinishDrawing(child, ready, proceed));
  ASSERT_TRUE(drawn) << "the window did not show the picture";
  EXPECT_EQ(ScreenPicture::Difference(shown, Reference(), {}, scale), "");
  Image written;
  ASSERT_TRUE(ScreenPicture::ReadPng(png, &written));
  EXPECT_EQ(ScreenPicture::Difference(written, Reference()), "");
}

INSTANTIATE_TEST_SUITE_P(Scales, ScreenOnX11, testing::Values(1, 2));

}  // namespace
