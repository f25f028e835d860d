// receiver-rate against the receiver simulator started at other rates: the
// hunt finds it, switches it to NMEA at 57600, and --restore gives it back;
// each result is checked by listening on the line independently.
#include <gtest/gtest.h>
#include <pty.h>

#include "ReceiverSimHarness.h"

using namespace simtest;

namespace {

struct Case {
  const char* name;
  std::vector<std::string> sim;    // the simulator's arguments
  std::vector<std::string> given;  // receiver-rate's, after the device
  speed_t first;
  bool binary;
  std::string says;
  std::string restore;
  std::string restored;
};

const Case kCases[] = {
    {"Nmea4800", {"--baud", "4800"}, {}, B4800, false,
     "receiver found at 4800 baud (NMEA); switched to 57600\n", "4800,nmea",
     "receiver switched back to 4800 baud (NMEA)\n"},
    {"Nmea9600", {"--baud", "9600"}, {}, B9600, false,
     "receiver found at 9600 baud (NMEA); switched to 57600\n", "9600,nmea",
     "receiver switched back to 9600 baud (NMEA)\n"},
    {"Binary38400", {"--baud", "38400", "--start", "binary"}, {}, B38400, true,
     "receiver found at 38400 baud (SiRF binary); switched to 57600 baud (NMEA)\n", "38400,binary",
     "receiver switched back to 38400 baud (SiRF binary)\n"},
    // No hunt: the receiver is taken to be where it is said to be.
    {"Given4800", {"--baud", "4800"}, {"--receiver-baud", "4800"}, B4800, false,
     "receiver taken to be at 4800 baud (NMEA), as given; switched to 57600\n", "4800,nmea",
     "receiver switched back to 4800 baud (NMEA)\n"},
};

// Test names carry the case's name; so does its printed form.
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class ReceiverRateTool : public testing::TestWithParam<Case> {};

TEST_P(ReceiverRateTool, FindsSwitchesAndGivesBack) {
  const Case& c = GetParam();
  SimProcess sim;
  ASSERT_TRUE(sim.Launch(Args(c.sim)));
  std::vector<std::string> args{sim.path()};
  args.insert(args.end(), c.given.begin(), c.given.end());
  testsupport::Outcome run = testsupport::Run(RECEIVER_RATE_PATH, args, 60000);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, c.says);
  EXPECT_TRUE(HeardAt(sim.path(), B57600, false));

  run = testsupport::Run(RECEIVER_RATE_PATH, {sim.path(), "--restore", c.restore}, 60000);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, c.restored);
  EXPECT_TRUE(HeardAt(sim.path(), c.first, c.binary));
}

INSTANTIATE_TEST_SUITE_P(Rates, ReceiverRateTool, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

// A device nobody answers on is named with the rates tried; a receiver said
// to be at 57600 is not even looked at.
TEST(ReceiverRateTool, SilentDeviceIsNamedAndTheViewersRateTouchesNothing) {
  int master = -1;
  int slave = -1;
  char name[256] = {};
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  testsupport::Outcome run = testsupport::Run(RECEIVER_RATE_PATH, {name}, 60000);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, std::string("receiver-rate: no receiver heard on ") + name +
                         " at 57600, 4800, 9600, 19200, 38400 or 115200 baud (neither NMEA "
                         "sentences nor SiRF binary frames)\n");
  close(master);
  close(slave);

  run = testsupport::Run(RECEIVER_RATE_PATH, {"/nonexistent/tty", "--receiver-baud", "57600"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "receiver taken to be at 57600 baud (NMEA), as given: left as it is\n");
}

}  // namespace
