// The version query end to end against the receiver simulator on a
// pseudo-terminal, one receiver behaviour per test: the text left, the
// message boxes, the commands the receiver heard and the reader the viewer
// ends with.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "NmeaReader.h"
#include "SimulatedReceiver.h"
#include "VersionQueryBench.h"

using receiver_test::InOrder;
using receiver_test::kCommsError;
using receiver_test::kNotIntoBinary;
using receiver_test::kNotRestored;
using receiver_test::Occurrences;
using receiver_test::SimulatedReceiver;

namespace {

// What the simulator reports for each command the query sends. It reports a
// sentence this way only when its checksum holds, and a message only when
// its frame does.
const char kHeardAsk2[] = "received $PSRF200,2\n";
const char kHeardAsk1[] = "received $PSRF200,1\n";
const char kHeardToBinary[] = "received $PSRF100,0,57600,8,1,0\n";
const char kHeardPoll[] = "received message 132 (poll software version): 84 00\n";
const char kHeardBackToNmea[] =
    "received message 129 (switch to NMEA): "
    "81 02 02 01 00 01 04 01 04 01 02 01 00 01 00 01 00 01 00 01 00 01 E1 00\n";

const char kBase[] = "GSW2-2.05.024-C1Prod1.1";
const char kMaker[] = "Dovrin GPS Sleeve 1.04";

class ReceiverVersionSim : public receiver_test::VersionQueryBench {
 protected:
  void SetUp() override {
#ifndef RECEIVER_SIM_PATH
    GTEST_SKIP() << "built without the receiver simulator";
#endif
    VersionQueryBench::SetUp();
  }

  void TearDown() override {
    VersionQueryBench::TearDown();
    sim.reset();
  }

  // Starts the simulator and connects the viewer to it.
  void Start(std::vector<std::string> arguments) {
#ifdef RECEIVER_SIM_PATH
    arguments.insert(arguments.end(), {"--base-version", kBase, "--maker-version", kMaker});
    sim = std::make_unique<SimulatedReceiver>(RECEIVER_SIM_PATH, arguments);
    ASSERT_TRUE(sim->ok());
    Connect(sim->path());
#endif
  }

  // What the simulator heard; nothing it heard was malformed.
  std::string Heard() {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string report = sim->Report();
    EXPECT_EQ(report.find("ignored"), std::string::npos) << report;
    return report;
  }

  // The viewer ends with a fresh sentence reader; when the receiver speaks
  // NMEA again, the reader hears it.
  void ExpectFreshReaderHearing(bool nmeaExpected) {
    ExpectFreshSentenceReader();
    if (nmeaExpected) {
      EXPECT_TRUE(ReaderHearsNmea());
    }
  }

  std::unique_ptr<SimulatedReceiver> sim;
};

TEST_F(ReceiverVersionSim, TwoNmeaVersionSentences) {
  Start({"--scenario", "normal", "--nmea-version2", "GSW2-2.05.024", "--nmea-version1", "Dovrin 1.04"});
  NmeaReader* before = readers.currentReader;

  EXPECT_EQ(Query(), u"GSW2-2.05.024, Dovrin 1.04");
  // Each answer ends its wait at once.
  EXPECT_LT(queryMs, 5000u);
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(readers.currentReader, before);
  EXPECT_EQ(readers.binaryReader, nullptr);
  EXPECT_TRUE(receiver_test::SinkIsTheOneReader(readers));
  const std::string heard = Heard();
  EXPECT_TRUE(InOrder(heard, {kHeardAsk2, kHeardAsk1})) << heard;
  EXPECT_EQ(Occurrences(heard, "received"), 2u) << heard;
}

TEST_F(ReceiverVersionSim, OneNmeaVersionSentence) {
  Start({"--scenario", "one-version", "--nmea-version2", "GSW2-2.05.024"});
  NmeaReader* before = readers.currentReader;

  EXPECT_EQ(Query(), u"GSW2-2.05.024");
  // The second answer is waited for 5 s.
  EXPECT_GE(queryMs, 5000u);
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(readers.currentReader, before);
  EXPECT_EQ(readers.binaryReader, nullptr);
  EXPECT_TRUE(receiver_test::SinkIsTheOneReader(readers));
  const std::string heard = Heard();
  EXPECT_TRUE(InOrder(heard, {kHeardAsk2, kHeardAsk1})) << heard;
  EXPECT_EQ(heard.find("PSRF100"), std::string::npos) << heard;
}

TEST_F(ReceiverVersionSim, NoisyLineStillGivesBothNmeaVersions) {
  Start({"--scenario", "noise", "--nmea-version2", "GSW2-2.05.024", "--nmea-version1", "Dovrin 1.04"});

  EXPECT_EQ(Query(), u"GSW2-2.05.024, Dovrin 1.04");
  EXPECT_TRUE(boxes.empty());
}

TEST_F(ReceiverVersionSim, BinaryWithBothVersions) {
  Start({"--scenario", "nmea-no-version"});

  EXPECT_EQ(Query(), u"GSW2-2.05.024-C1Prod1.1, Dovrin GPS Sleeve 1.04");
  EXPECT_TRUE(boxes.empty());
  ExpectFreshReaderHearing(true);
  const std::string heard = Heard();
  EXPECT_TRUE(InOrder(heard, {kHeardAsk2, kHeardToBinary, kHeardPoll, kHeardBackToNmea})) << heard;
  EXPECT_EQ(heard.find(kHeardAsk1), std::string::npos) << heard;
}

TEST_F(ReceiverVersionSim, BinaryWithTheBaseVersionOnly) {
  Start({"--scenario", "base-only"});

  EXPECT_EQ(Query(), u"GSW2-2.05.024-C1Prod1.1");
  // 5 s for a version sentence, then the whole 5 s for the missing text.
  EXPECT_GE(queryMs, 10000u);
  EXPECT_TRUE(boxes.empty());
  ExpectFreshReaderHearing(true);
  EXPECT_TRUE(InOrder(Heard(), {kHeardToBinary, kHeardPoll, kHeardBackToNmea}));
}

TEST_F(ReceiverVersionSim, BinaryWithTheMakersVersionOnly) {
  Start({"--scenario", "maker-only"});

  EXPECT_EQ(Query(), u"Dovrin GPS Sleeve 1.04");
  // 5 s for a version sentence, then the whole 5 s for the missing text.
  EXPECT_GE(queryMs, 10000u);
  EXPECT_TRUE(boxes.empty());
  ExpectFreshReaderHearing(true);
  EXPECT_TRUE(InOrder(Heard(), {kHeardToBinary, kHeardPoll, kHeardBackToNmea}));
}

TEST_F(ReceiverVersionSim, BinaryWithoutAVersionString) {
  Start({"--scenario", "binary-no-version"});

  EXPECT_EQ(Query(), u"Failed to get SW Version");
  // 5 s for a version sentence, then the whole 5 s for the missing text.
  EXPECT_GE(queryMs, 10000u);
  EXPECT_TRUE(boxes.empty());
  ExpectFreshReaderHearing(true);
  EXPECT_TRUE(InOrder(Heard(), {kHeardToBinary, kHeardPoll, kHeardBackToNmea}));
}

TEST_F(ReceiverVersionSim, NoBinaryFrameAfterTheSwitch) {
  Start({"--scenario", "binary-mute"});

  EXPECT_EQ(Query(), u"");
  ExpectOneBox(kNotIntoBinary, false);
  // 5 s for a version sentence, then 5 s for a frame.
  EXPECT_GE(boxes[0].afterMs, 10000u);
  // The switch back goes out all the same, and NMEA returns.
  ExpectFreshReaderHearing(true);
  const std::string heard = Heard();
  EXPECT_TRUE(InOrder(heard, {kHeardToBinary, kHeardBackToNmea})) << heard;
  EXPECT_EQ(heard.find(kHeardPoll), std::string::npos) << heard;
}

TEST_F(ReceiverVersionSim, NoNmeaAfterTheSwitchBack) {
  Start({"--scenario", "no-restore"});

  EXPECT_EQ(Query(), u"GSW2-2.05.024-C1Prod1.1, Dovrin GPS Sleeve 1.04");
  ExpectOneBox(kNotRestored, true);
  // 5 s for a version sentence, then 5 s for NMEA to come back.
  EXPECT_GE(boxes[0].afterMs, 10000u);
  ExpectFreshReaderHearing(false);
  EXPECT_TRUE(InOrder(Heard(), {kHeardToBinary, kHeardPoll, kHeardBackToNmea}));
}

TEST_F(ReceiverVersionSim, ReceiverAlreadyInBinary) {
  Start({"--scenario", "binary-start"});

  EXPECT_EQ(Query(), u"GSW2-2.05.024-C1Prod1.1, Dovrin GPS Sleeve 1.04");
  EXPECT_TRUE(boxes.empty());
  ExpectFreshReaderHearing(true);
  const std::string heard = Heard();
  EXPECT_TRUE(InOrder(heard, {kHeardPoll, kHeardBackToNmea})) << heard;
  EXPECT_EQ(heard.find("received $"), std::string::npos) << heard;
}

TEST_F(ReceiverVersionSim, SilentReceiver) {
  Start({"--scenario", "silent"});

  EXPECT_EQ(Query(), u"");
  ExpectOneBox(kCommsError, false);
  // 5 s for NMEA, then 5 s for a frame.
  EXPECT_GE(boxes[0].afterMs, 10000u);
  ExpectFreshReaderHearing(false);
  EXPECT_EQ(Heard().find("received"), std::string::npos);
}

}  // namespace
