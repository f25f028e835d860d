// receiver-version run as a program on the receiver simulator: the version
// on standard output, message boxes on standard error, the exit code.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "SimulatedReceiver.h"

using receiver_test::InOrder;
using receiver_test::SimulatedReceiver;

namespace {

struct Outcome {
  int exitCode = -1;
  std::string out;
  std::string err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

Outcome RunTool(const std::vector<std::string>& arguments) {
  char pattern[] = "/tmp/receiver-version-test-XXXXXX";
  Outcome outcome;
  if (mkdtemp(pattern) == nullptr) return outcome;
  const std::string dir = pattern;
  std::string command = Quoted(RECEIVER_VERSION_PATH);
  for (const std::string& a : arguments) command += " " + Quoted(a);
  command += " >" + dir + "/out 2>" + dir + "/err";
  int status = std::system(command.c_str());
  if (status != -1 && WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
  outcome.out = Slurp(dir + "/out");
  outcome.err = Slurp(dir + "/err");
  std::remove((dir + "/out").c_str());
  std::remove((dir + "/err").c_str());
  rmdir(dir.c_str());
  return outcome;
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
  EXPECT_EQ(run.exitCode, 0);
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
  EXPECT_EQ(run.exitCode, 0);
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
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("Unable to open the port COM3:"), std::string::npos) << run.err;
}

TEST(ReceiverVersionTool, WithoutADeviceItShowsUsage) {
  Outcome run = RunTool({});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("Usage: receiver-version DEVICE"), std::string::npos) << run.err;
}

}  // namespace
