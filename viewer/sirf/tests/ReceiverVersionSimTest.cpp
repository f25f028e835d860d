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

#include "FindReceiverPort.h"
#include "NmeaReader.h"
#include "ReceiverVersionQuery.h"
#include "SerialSession.h"
#include "SimulatedReceiver.h"
#include "app/ViewerState.h"
#include "handheld.h"
#include "testing/TempDevice.h"

using receiver_test::InOrder;
using receiver_test::Occurrences;
using receiver_test::SimulatedReceiver;

namespace {

const UINT kErrorStyle = MB_OK | MB_TOPMOST | MB_SETFOREGROUND;
const char16_t kCommsError[] = u"Failed to get NMEA data\r\nSleeve Comms Error\r\nContact Dovrin Support.";

// What the simulator reports for each command the query sends.
const char kHeardAsk2[] = "received $PSRF200,2\n";
const char kHeardAsk1[] = "received $PSRF200,1\n";
const char kHeardToBinary[] = "received $PSRF100,0,57600,8,1,0\n";
const char kHeardPoll[] = "received message 132 (";
const char kHeardBackToNmea[] = "received message 129 (";

const char kBase[] = "GSW2-2.05.024-C1Prod1.1";
const char kMaker[] = "Dovrin GPS Sleeve 1.04";

struct ShownBox {
  HWND owner;
  std::u16string text;
  std::u16string caption;
  UINT type;
  // Which readers existed while the box was up: a timer tick may run then.
  bool hadCurrentReader;
  bool hadBinaryReader;
};

class ReceiverVersionSim : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef RECEIVER_SIM_PATH
    GTEST_SKIP() << "built without the receiver simulator";
#endif
    previous_ = handheld::SetMessageBoxPresenter([this](const handheld::MessageBoxRequest& request) {
      boxes.push_back({request.owner, request.text, request.caption, request.type,
                       ViewerState::currentReader != nullptr, ViewerState::binaryReader != nullptr});
      return IDOK;
    });
  }

  void TearDown() override {
    ViewerState::DeleteSession();
    sim.reset();
    handheld::SetMessageBoxPresenter(previous_);
  }

  // Starts the simulator and opens the viewer's session on it as the main
  // window does at start-up.
  void Start(std::vector<std::string> arguments) {
#ifdef RECEIVER_SIM_PATH
    arguments.insert(arguments.end(), {"--base-version", kBase, "--maker-version", kMaker});
    sim = std::make_unique<SimulatedReceiver>(RECEIVER_SIM_PATH, arguments);
    ASSERT_TRUE(sim->ok());
    device_.AddSerialPort(u"COM3:", sim->path());
    WCHAR port[25];
    FindReceiverPort(port, sizeof port);
    ASSERT_EQ(std::u16string(port), u"COM3:");
    ViewerState::session = new SerialSession(port, 57600);
    ASSERT_TRUE(ViewerState::CreateCurrentReader());
    ASSERT_TRUE(ViewerState::session->Reopen());
#endif
  }

  std::u16string Query() {
    WCHAR text[kReceiverVersionChars];
    text[0] = u'?';
    ReadReceiverVersion(text);
    return text;
  }

  std::string Heard() {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return sim->Report();
  }

  // One box was shown, and while it was up only the reader named existed.
  void ExpectOneBox(const std::u16string& text, bool withSentenceReader) {
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, text);
    EXPECT_EQ(boxes[0].caption, u"Error");
    EXPECT_EQ(boxes[0].type, kErrorStyle);
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(boxes[0].hadCurrentReader, withSentenceReader);
    EXPECT_EQ(boxes[0].hadBinaryReader, !withSentenceReader);
  }

  // The viewer ends with a sentence reader and no binary reader; when the
  // receiver speaks NMEA again, the reader hears it.
  void ExpectSentenceReaderHearing(bool nmeaExpected) {
    ASSERT_NE(ViewerState::currentReader, nullptr);
    EXPECT_EQ(ViewerState::binaryReader, nullptr);
    if (!nmeaExpected) return;
    bool heard = false;
    for (int i = 0; i < 60 && !heard; ++i) {
      heard = ViewerState::currentReader->HasSentence();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(heard);
  }

  std::unique_ptr<SimulatedReceiver> sim;
  std::vector<ShownBox> boxes;

 private:
  handheld::testing::TempDevice device_;
  handheld::MessageBoxPresenter previous_;
};

TEST_F(ReceiverVersionSim, TwoNmeaVersionSentences) {
  Start({"--scenario", "normal", "--nmea-version2", "GSW2-2.05.024", "--nmea-version1", "Dovrin 1.04"});
  NmeaReader* before = ViewerState::currentReader;

  EXPECT_EQ(Query(), u"GSW2-2.05.024, Dovrin 1.04");
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(ViewerState::currentReader, before);
  EXPECT_EQ(ViewerState::binaryReader, nullptr);
  const std::string heard = Heard();
  EXPECT_TRUE(InOrder(heard, {kHeardAsk2, kHeardAsk1})) << heard;
  EXPECT_EQ(Occurrences(heard, "received"), 2u) << heard;
}

TEST_F(ReceiverVersionSim, OneNmeaVersionSentence) {
  Start({"--scenario", "one-version", "--nmea-version2", "GSW2-2.05.024"});
  NmeaReader* before = ViewerState::currentReader;

  EXPECT_EQ(Query(), u"GSW2-2.05.024");
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(ViewerState::currentReader, before);
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
  ExpectSentenceReaderHearing(true);
  const std::string heard = Heard();
  EXPECT_TRUE(InOrder(heard, {kHeardAsk2, kHeardToBinary, kHeardPoll, kHeardBackToNmea})) << heard;
  EXPECT_EQ(heard.find(kHeardAsk1), std::string::npos) << heard;
}

TEST_F(ReceiverVersionSim, BinaryWithTheBaseVersionOnly) {
  Start({"--scenario", "base-only"});

  EXPECT_EQ(Query(), u"GSW2-2.05.024-C1Prod1.1");
  EXPECT_TRUE(boxes.empty());
  ExpectSentenceReaderHearing(true);
  EXPECT_TRUE(InOrder(Heard(), {kHeardToBinary, kHeardPoll, kHeardBackToNmea}));
}

TEST_F(ReceiverVersionSim, BinaryWithTheMakersVersionOnly) {
  Start({"--scenario", "maker-only"});

  EXPECT_EQ(Query(), u"Dovrin GPS Sleeve 1.04");
  EXPECT_TRUE(boxes.empty());
  ExpectSentenceReaderHearing(true);
  EXPECT_TRUE(InOrder(Heard(), {kHeardToBinary, kHeardPoll, kHeardBackToNmea}));
}

TEST_F(ReceiverVersionSim, BinaryWithoutAVersionString) {
  Start({"--scenario", "binary-no-version"});

  EXPECT_EQ(Query(), u"Failed to get SW Version");
  EXPECT_TRUE(boxes.empty());
  ExpectSentenceReaderHearing(true);
  EXPECT_TRUE(InOrder(Heard(), {kHeardToBinary, kHeardPoll, kHeardBackToNmea}));
}

TEST_F(ReceiverVersionSim, NoBinaryFrameAfterTheSwitch) {
  Start({"--scenario", "binary-mute"});

  EXPECT_EQ(Query(), u"");
  ExpectOneBox(u"Failed to go into Sirf Binary", false);
  // The switch back goes out all the same, and NMEA returns.
  ExpectSentenceReaderHearing(true);
  const std::string heard = Heard();
  EXPECT_TRUE(InOrder(heard, {kHeardToBinary, kHeardBackToNmea})) << heard;
  EXPECT_EQ(heard.find(kHeardPoll), std::string::npos) << heard;
}

TEST_F(ReceiverVersionSim, NoNmeaAfterTheSwitchBack) {
  Start({"--scenario", "no-restore"});

  EXPECT_EQ(Query(), u"GSW2-2.05.024-C1Prod1.1, Dovrin GPS Sleeve 1.04");
  ExpectOneBox(u"Failed to restore NMEA, Run this program again", true);
  ExpectSentenceReaderHearing(false);
  EXPECT_TRUE(InOrder(Heard(), {kHeardToBinary, kHeardPoll, kHeardBackToNmea}));
}

TEST_F(ReceiverVersionSim, ReceiverAlreadyInBinary) {
  Start({"--scenario", "binary-start"});

  EXPECT_EQ(Query(), u"GSW2-2.05.024-C1Prod1.1, Dovrin GPS Sleeve 1.04");
  EXPECT_TRUE(boxes.empty());
  ExpectSentenceReaderHearing(true);
  const std::string heard = Heard();
  EXPECT_TRUE(InOrder(heard, {kHeardPoll, kHeardBackToNmea})) << heard;
  EXPECT_EQ(heard.find("received $"), std::string::npos) << heard;
}

TEST_F(ReceiverVersionSim, SilentReceiver) {
  Start({"--scenario", "silent"});

  EXPECT_EQ(Query(), u"");
  ExpectOneBox(kCommsError, false);
  ExpectSentenceReaderHearing(false);
  EXPECT_EQ(Heard().find("received"), std::string::npos);
}

}  // namespace
