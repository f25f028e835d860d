// receiver-version run as a program on the receiver simulator: the version
// on standard output, message boxes on standard error, the exit code.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "SimulatedReceiver.h"

using receiver_test::InOrder;
using receiver_test::SimulatedReceiver;

namespace {

using testsupport::Outcome;

Outcome RunTool(const std::vector<std::string>& arguments) {
  return testsupport::Run(RECEIVER_VERSION_PATH, arguments);
}

#ifdef RECEIVER_SIM_PATH
std::unique_ptr<SimulatedReceiver> StartSim(const std::vector<std::string>& arguments) {
  return std::make_unique<SimulatedReceiver>(RECEIVER_SIM_PATH, arguments);
}
#endif

TEST(ReceiverVersionTool, PrintsBothNmeaVersions) {
#ifndef RECEIVER_SIM_PATH
  GTEST_SKIP() << "built without the receiver simulator";
#else
  auto sim = StartSim({"--scenario", "normal", "--nmea-version2", "GSW2-2.05.024", "--nmea-version1",
                       "Dovrin GPS Sleeve 1.04"});
  ASSERT_TRUE(sim->ok());
  Outcome run = RunTool({sim->path()});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "GSW2-2.05.024, Dovrin GPS Sleeve 1.04\n");
  EXPECT_EQ(run.err.find("Error"), std::string::npos) << run.err;
#endif
}

TEST(ReceiverVersionTool, PrintsTheBinaryVersionsAndLeavesTheReceiverInNmea) {
#ifndef RECEIVER_SIM_PATH
  GTEST_SKIP() << "built without the receiver simulator";
#else
  auto sim = StartSim({"--scenario", "nmea-no-version", "--base-version", "GSW2-2.05.024-Base",
                       "--maker-version", "Dovrin Sleeve 3.4"});
  ASSERT_TRUE(sim->ok());
  Outcome run = RunTool({sim->path()});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "GSW2-2.05.024-Base, Dovrin Sleeve 3.4\n");
  EXPECT_EQ(run.err.find("Error"), std::string::npos) << run.err;
  const std::string heard = sim->Report();
  EXPECT_TRUE(InOrder(heard, {"received $PSRF100,0,57600,8,1,0\n", "received message 132 (",
                              "received message 129 ("}))
      << heard;
#endif
}

TEST(ReceiverVersionTool, MissingDeviceFailsWithTheSessionsMessage) {
  Outcome run = RunTool({"/nonexistent/tty-for-receiver-version"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("Unable to open the port COM3:"), std::string::npos) << run.err;
}

TEST(ReceiverVersionTool, InterruptedItRemovesItsDeviceFolder) {
  // A receiver that never answers keeps the tool busy with its query.
  int master = -1;
  int slave = -1;
  char name[256] = {};
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  char pattern[] = "/tmp/receiver-version-tmp-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path temp = pattern;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    testsupport::ChildProcess tool(RECEIVER_VERSION_PATH, {name}, {"TMPDIR=" + temp.string()});
    bool started = false;  // its folder holds the hive: the query runs
    for (int i = 0; i < 500 && !started; ++i) {
      usleep(10000);
      for (const auto& entry : std::filesystem::directory_iterator(temp))
        started = started || std::filesystem::exists(entry.path() / "registry.db");
    }
    ASSERT_TRUE(started) << tool.Errors();
    EXPECT_EQ(tool.Stop(signal), 128 + signal);
    EXPECT_TRUE(std::filesystem::is_empty(temp)) << "after signal " << signal;
  }
  std::filesystem::remove_all(temp);
  close(master);
  close(slave);
}

TEST(ReceiverVersionTool, ADeviceThatIsNotATerminalIsNamedAndHelpGoesToStandardOutput) {
  const std::string file = ::testing::TempDir() + "not-a-tty-" + std::to_string(getpid());
  std::fclose(std::fopen(file.c_str(), "w"));
  Outcome run = RunTool({file});
  std::remove(file.c_str());
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find(file + ": not a terminal"), std::string::npos) << run.err;
  Outcome help = RunTool({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: receiver-version DEVICE", 0), 0u) << help.out;
}

TEST(ReceiverVersionTool, WithoutADeviceItShowsUsage) {
  Outcome run = RunTool({});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("Usage: receiver-version DEVICE"), std::string::npos) << run.err;
}

}  // namespace
