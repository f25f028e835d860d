// The host's control channel on a real socket in a temporary device folder:
// clients that hold a line half sent or never send one stall nobody, answers
// and commands well past a page pass whole, and a client tells "nobody
// listens" apart from every other failure.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "handheld.h"
#include "testing/TempDevice.h"

namespace {

using handheld::HostExchange;

std::string HostSocket() { return handheld::DeviceFolder() + "/control/host"; }

// A client of its own, built on the socket calls alone: each read gives up
// after `readTimeoutSeconds`.
class RawClient {
 public:
  explicit RawClient(int readTimeoutSeconds = 3) {
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, HostSocket().c_str(), sizeof address.sun_path - 1);
    timeval limit{readTimeoutSeconds, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawClient() { close(fd_); }
  bool connected() const { return connected_; }
  bool Send(const std::string& text) {
    return send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
  }
  // Everything until the host closes; "(timed out)" when a read waits too long.
  std::string ReadAll() {
    std::string all;
    char buffer[4096];
    for (;;) {
      const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
      if (n < 0) return "(timed out)";
      if (n == 0) return all;
      all.append(buffer, static_cast<size_t>(n));
    }
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

class ControlChannel : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    device_ = new handheld::testing::TempDevice;
    std::string reason;
    ASSERT_TRUE(handheld::ServeHostCommands(
        [](const std::string& line) -> std::string {
          if (line.rfind("big ", 0) == 0) return "ok\n" + std::string(std::stoul(line.substr(4)), 'x');
          if (line.rfind("echo ", 0) == 0) return "ok\n" + std::to_string(line.size());
          return line == "status" ? "ok\nall well" : "error unknown command " + line;
        },
        &reason))
        << reason;
  }
  static void TearDownTestSuite() {
    handheld::StopServingHostCommands();
    delete device_;
    device_ = nullptr;
  }
  static handheld::testing::TempDevice* device_;
};

handheld::testing::TempDevice* ControlChannel::device_ = nullptr;

TEST_F(ControlChannel, HalfALineAndIdleClientsStallNobody) {
  RawClient half(10);
  ASSERT_TRUE(half.connected());
  ASSERT_TRUE(half.Send("sta"));  // and nothing more
  std::vector<std::unique_ptr<RawClient>> idle;
  for (int i = 0; i < 10; ++i) idle.push_back(std::make_unique<RawClient>());

  RawClient second;
  ASSERT_TRUE(second.connected());
  ASSERT_TRUE(second.Send("status\n"));
  EXPECT_EQ(second.ReadAll(), "ok\nall well\n");
  std::string answer;
  EXPECT_EQ(handheld::SendHostCommand("status", &answer), HostExchange::kAnswered);
  EXPECT_EQ(answer, "ok\nall well");

  // The half line is dropped once its time is up; its client gets no answer.
  EXPECT_EQ(half.ReadAll(), "");
}

TEST_F(ControlChannel, LongAnswersAndCommandsPassWholeOrAreRefusedClearly) {
  std::string answer;
  EXPECT_EQ(handheld::SendHostCommand("big 300000", &answer), HostExchange::kAnswered);
  EXPECT_EQ(answer, "ok\n" + std::string(300000, 'x'));

  const std::string command = "echo " + std::string(10000, 'y');
  EXPECT_EQ(handheld::SendHostCommand(command, &answer), HostExchange::kAnswered);
  EXPECT_EQ(answer, "ok\n" + std::to_string(command.size()));

  // Past what the channel takes: refused by the client, and by the host
  // from a client that sends it anyway.
  const std::string tooLong = "echo " + std::string(70000, 'z');
  EXPECT_EQ(handheld::SendHostCommand(tooLong, &answer), HostExchange::kFailed);
  EXPECT_NE(answer.find("longer than"), std::string::npos) << answer;
  RawClient raw;
  ASSERT_TRUE(raw.Send(tooLong + "\n"));
  EXPECT_EQ(raw.ReadAll().rfind("error the command is longer than", 0), 0u);

  EXPECT_EQ(handheld::SendHostCommand("big 17000000", &answer), HostExchange::kFailed);
  EXPECT_NE(answer.find("longer than"), std::string::npos) << answer;
}

// The socket is bound under a hidden name and moved into place once it
// listens: a client that lists the folder meanwhile finds nothing it could
// take for a program that has ended. Nothing but the socket is left.
TEST_F(ControlChannel, TheFolderHoldsTheListeningSocketAlone) {
  std::vector<std::string> names;
  if (DIR* dir = opendir((handheld::DeviceFolder() + "/control").c_str())) {
    while (dirent* entry = readdir(dir))
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
        names.push_back(entry->d_name);
    closedir(dir);
  }
  EXPECT_EQ(names, std::vector<std::string>{"host"});
  struct stat info {};
  ASSERT_EQ(stat(HostSocket().c_str(), &info), 0);
  EXPECT_TRUE(S_ISSOCK(info.st_mode));
  EXPECT_TRUE(RawClient().connected());
}

TEST_F(ControlChannel, NoHostOnlyWhenNothingListens) {
  const std::string saved = handheld::DeviceFolder();
  handheld::testing::TempDevice other;
  std::string answer;
  EXPECT_EQ(handheld::SendHostCommand("status", &answer), HostExchange::kNoHost);
  // A socket left by a host that has ended: nobody listens on it.
  ASSERT_EQ(mkdir((other.path() + "/control").c_str(), 0700), 0);
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, HostSocket().c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(fd);
  EXPECT_EQ(handheld::SendHostCommand("status", &answer), HostExchange::kNoHost);
  handheld::SetDeviceFolder(saved);
}

}  // namespace
