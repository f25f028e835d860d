// link-monitor run as a program: its command line, and what it says when the
// handheld's registry hive or the device it is given cannot be used.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"

namespace {

using testsupport::Outcome;

class LinkMonitorTool : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/link-monitor-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder = pattern;
  }
  void TearDown() override {
    chmod(folder.c_str(), 0700);
    std::filesystem::remove_all(folder);
  }
  Outcome Run(const std::vector<std::string>& arguments, const std::string& device) {
    return testsupport::Run(LINK_MONITOR_PATH, arguments, 10000, {"HANDHELD_DEVICE=" + device});
  }
  std::string Write(const std::string& name, const std::string& content) {
    const std::string path = folder + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "w");
    std::fputs(content.c_str(), file);
    std::fclose(file);
    return path;
  }
  std::string folder;
};

TEST_F(LinkMonitorTool, RefusesASecondsCountItCannotKeepAndHelpsOnStandardOutput) {
  for (const char* seconds : {"abc", "-5", "0", "4294968", "12x"}) {
    Outcome run = Run({"--seconds", seconds}, folder);
    EXPECT_EQ(run.status, 2) << seconds;
    EXPECT_NE(run.err.find("--seconds"), std::string::npos) << run.err;
  }
  Outcome help = Run({"--help"}, folder);
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: link-monitor", 0), 0u) << help.out;
  EXPECT_EQ(help.err, "");
}

TEST_F(LinkMonitorTool, ADeviceThatIsNotATerminalIsNamed) {
  const std::string file = Write("not-a-tty", "");
  Outcome run = Run({"--device", file, "--seconds", "1"}, folder + "/device");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find(file + ": not a terminal"), std::string::npos) << run.err;
}

TEST_F(LinkMonitorTool, ABrokenHiveIsReportedWithItsPathAndReason) {
  struct Case {
    std::string device;  // $HANDHELD_DEVICE
    std::string reason;
  };
  std::vector<Case> cases{{Write("a-file", "x"), "is not a folder"}};
  const std::string corrupt = folder + "/corrupt";
  std::filesystem::create_directory(corrupt);
  Write("corrupt/registry.db", std::string(4096, 'Z'));
  cases.push_back({corrupt, "not a registry database"});
  if (geteuid() != 0) {  // root writes anywhere
    const std::string locked = folder + "/locked";
    std::filesystem::create_directory(locked);
    chmod(locked.c_str(), 0500);
    cases.push_back({locked, "Permission denied"});
  }
  for (const Case& c : cases) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--seconds", "1"}, {"--device", "/dev/null", "--seconds", "1"}}) {
      Outcome run = Run(arguments, c.device);
      EXPECT_EQ(run.status, 1) << c.device;
      EXPECT_NE(run.err.find("cannot use the registry hive " + c.device + "/registry.db"),
                std::string::npos)
          << run.err;
      EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
      EXPECT_EQ(run.err.find("no receiver port"), std::string::npos) << run.err;
    }
  }
}

TEST_F(LinkMonitorTool, SaysWhenTheReceiverFallsSilentAndWhenItHasGone) {
  testsupport::ChildProcess sim(RECEIVER_SIM_PATH, {"--seconds", "60"});
  const std::string port = sim.FirstLine(5000);
  ASSERT_FALSE(port.empty()) << sim.Errors();
  testsupport::ChildProcess monitor(LINK_MONITOR_PATH, {"--device", port, "--seconds", "60"},
                                    {"HANDHELD_DEVICE=" + folder});
  auto waitFor = [](auto text, const std::string& piece, int seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (text().find(piece) == std::string::npos && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return text().find(piece) != std::string::npos;
  };
  auto out = [&] { return monitor.Output(); };
  auto err = [&] { return monitor.Errors(); };
  ASSERT_TRUE(waitFor(out, "UTC ", 15)) << out() << err();
  kill(sim.pid(), SIGSTOP);  // still there, but saying nothing
  EXPECT_TRUE(waitFor(err, "link-monitor: no data from the receiver for 5 s\n", 10)) << err();
  EXPECT_EQ(err().find("has gone"), std::string::npos) << err();
  sim.Stop(SIGKILL);  // its end of the line hangs up
  EXPECT_EQ(monitor.Wait(5000), 1);
  EXPECT_NE(err().find("link-monitor: the receiver has gone"), std::string::npos) << err();
}

}  // namespace
