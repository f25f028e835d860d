// post-message end to end: a program with windows runs in its own process
// on a temporary device; the tool reaches its window procedure, taps its
// button, answers its box and writes its screen.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// `runner` (such as "timeout 8 ") runs the tool.
ToolRun PostMessage(const std::string& device, const std::string& args,
                    const std::string& runner = "") {
  const std::string errors = device + "/post-message.err";
  const std::string command = "HANDHELD_DEVICE='" + device + "' " + runner + POST_MESSAGE_PATH " " +
                              args + " 2>'" + errors + "'";
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
  // Asked for, the usage goes to standard output with status 0.
  ToolRun help = PostMessage(device.path(), "--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.errors, "");

  ToolRun ended = PostMessage(device.path(), "POSTTEST WM_COMMAND 40002");
  EXPECT_EQ(ended.status, 0) << ended.errors;
  EXPECT_EQ(program.Line(), "command 40002");
  EXPECT_EQ(program.Wait(), 0);
  // With the program gone, nobody answers.
  ToolRun gone = PostMessage(device.path(), "POSTTEST WM_COMMAND 40004");
  EXPECT_EQ(gone.status, 1);
  EXPECT_NE(gone.errors.find("no program with windows"), std::string::npos) << gone.errors;
}

// Half a command held open on the program's socket keeps no other client
// waiting (each gives up after 8 s here); numbers past 32 bits are refused,
// by the tool and by the program.
TEST(PostMessage, AHalfSentCommandStallsNobodyAndNumbersPast32BitsAreRefused) {
  handheld::testing::TempDevice device;
  Program program(device.path());
  ASSERT_EQ(program.Line(), "ready");
  const std::string socketPath = device.path() + "/control/" + std::to_string(program.pid());
  auto connectTo = [&] {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return fd;
  };
  const int half = connectTo();
  ASSERT_EQ(send(half, "tit", 3, MSG_NOSIGNAL), 3);

  const ToolRun title = PostMessage(device.path(), "--title POSTTEST", "timeout 8 ");
  EXPECT_EQ(title.status, 0) << title.errors;

  for (const char* numbers : {"4294967296", "1 99999999999999999999", "1 2 -2147483649"}) {
    const ToolRun refused = PostMessage(device.path(), std::string("POSTTEST WM_COMMAND ") + numbers);
    EXPECT_EQ(refused.status, 2) << numbers;
  }
  const int raw = connectTo();
  const std::string line = "post POSTTEST 273 1 4294967296\n";
  ASSERT_EQ(send(raw, line.data(), line.size(), MSG_NOSIGNAL), static_cast<ssize_t>(line.size()));
  char answer[256] = {};
  timeval limit{8, 0};
  setsockopt(raw, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  EXPECT_GT(recv(raw, answer, sizeof answer - 1, MSG_WAITALL), 0);
  EXPECT_EQ(std::string(answer).rfind("error post: a number is out of range", 0), 0u) << answer;
  close(raw);
  close(half);
}

}  // namespace
