// post-message end to end: a program with windows runs in its own process
// on a temporary device; the tool reaches its window procedure, taps its
// button, answers its box and writes its screen.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "testing/ScreenPicture.h"
#include "testing/TempDevice.h"

namespace {

// The program, its standard output read line by line.
class Program {
 public:
  explicit Program(const std::string& device) {
    int out[2];
    EXPECT_EQ(pipe(out), 0);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      setenv("HANDHELD_DEVICE", device.c_str(), 1);
      setenv("HANDHELD_HEADLESS", "1", 1);
      execl(REMOTE_WINDOW_PROGRAM_PATH, REMOTE_WINDOW_PROGRAM_PATH, static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    output_ = fdopen(out[0], "r");
  }
  ~Program() {
    if (pid_ > 0 && !waited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (output_) fclose(output_);
  }
  std::string Line() {
    char line[256];
    if (!fgets(line, sizeof line, output_)) return "(end)";
    std::string text(line);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    waited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  int pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  FILE* output_ = nullptr;
  bool waited_ = false;
};

struct ToolRun {
  int status;
  std::string errors;
};

ToolRun PostMessage(const std::string& device, const std::string& args) {
  const std::string errors = device + "/post-message.err";
  const std::string command = "HANDHELD_DEVICE='" + device + "' " POST_MESSAGE_PATH " " + args +
                              " 2>'" + errors + "'";
  const int status = std::system(command.c_str());
  ToolRun run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, {}};
  if (FILE* f = std::fopen(errors.c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, f)) run.errors += buffer;
    std::fclose(f);
  }
  return run;
}

TEST(PostMessage, ReachesTheWindowTapsItsButtonAnswersItsBoxAndWritesTheScreen) {
  handheld::testing::TempDevice device;
  Program program(device.path());
  ASSERT_EQ(program.Line(), "ready");

  // A command to the window by its class name.
  EXPECT_EQ(PostMessage(device.path(), "POSTTEST WM_COMMAND 40004").status, 0);
  EXPECT_EQ(program.Line(), "command 40004");

  // A tap in the middle of the push button (client (20, 20), 100 x 30,
  // below the 26-pixel top bar) clicks it.
  EXPECT_EQ(PostMessage(device.path(), "--tap 70 61").status, 0);
  EXPECT_EQ(program.Line(), "command 300");

  // The top bar's ok button.
  EXPECT_EQ(PostMessage(device.path(), "--tap 220 12").status, 0);
  EXPECT_EQ(program.Line(), "command 1");

  // A box on the screen, answered from outside once it is there.
  EXPECT_EQ(PostMessage(device.path(), "POSTTEST WM_COMMAND 40005").status, 0);
  EXPECT_EQ(program.Line(), "command 40005");
  ToolRun answered{1, {}};
  for (int i = 0; i < 100 && answered.status != 0; ++i) {
    answered = PostMessage(device.path(), "--answer IDCANCEL");
    if (answered.status != 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(answered.status, 0) << answered.errors;
  EXPECT_EQ(program.Line(), "box 2");

  const std::string shot = device.path() + "/shot.png";
  EXPECT_EQ(PostMessage(device.path(), "--screenshot '" + shot + "'").status, 0);
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  EXPECT_TRUE(handheld::testing::ScreenPicture::ReadPng(shot, &width, &height, &pixels));
  EXPECT_EQ(width, 240);
  EXPECT_EQ(height, 320);

  // No such window, no box: a clear error and a failing status.
  ToolRun missing = PostMessage(device.path(), "NOSUCHCLASS WM_COMMAND 1");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.errors.find("no window of class NOSUCHCLASS"), std::string::npos)
      << missing.errors;
  ToolRun noBox = PostMessage(device.path(), "--answer IDOK");
  EXPECT_EQ(noBox.status, 1);
  EXPECT_NE(noBox.errors.find("no message box or dialog"), std::string::npos) << noBox.errors;
  EXPECT_EQ(PostMessage(device.path(), "--frobnicate").status, 2);

  ToolRun ended = PostMessage(device.path(), "POSTTEST WM_COMMAND 40002");
  EXPECT_EQ(ended.status, 0) << ended.errors;
  EXPECT_EQ(program.Line(), "command 40002");
  EXPECT_EQ(program.Wait(), 0);
  // With the program gone, nobody answers.
  ToolRun gone = PostMessage(device.path(), "POSTTEST WM_COMMAND 40004");
  EXPECT_EQ(gone.status, 1);
  EXPECT_NE(gone.errors.find("no program with windows"), std::string::npos) << gone.errors;
}

}  // namespace
