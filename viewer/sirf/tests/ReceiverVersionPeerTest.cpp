// The version query against a receiver the test scripts byte by byte on a
// pseudo-terminal: what goes out on the wire, which reader is attached when,
// the message boxes and the text each path leaves.
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
#include "ScriptedReceiver.h"
#include "SerialSession.h"
#include "app/ViewerState.h"
#include "handheld.h"
#include "testing/TempDevice.h"

using receiver_test::kAskVersion1;
using receiver_test::kAskVersion2;
using receiver_test::kBackToNmea;
using receiver_test::kPollVersion;
using receiver_test::kToBinary;
using receiver_test::ScriptedReceiver;

namespace {

const UINT kErrorStyle = MB_OK | MB_TOPMOST | MB_SETFOREGROUND;

struct ShownBox {
  HWND owner;
  std::u16string text;
  std::u16string caption;
  UINT type;
  bool hadCurrentReader;
  bool hadBinaryReader;
};

class ReceiverVersionPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = handheld::SetMessageBoxPresenter([this](const handheld::MessageBoxRequest& request) {
      boxes.push_back({request.owner, request.text, request.caption, request.type,
                       ViewerState::currentReader != nullptr, ViewerState::binaryReader != nullptr});
      return IDOK;
    });
  }

  void TearDown() override {
    ViewerState::DeleteSession();
    receiver.reset();
    handheld::SetMessageBoxPresenter(previous_);
  }

  // Starts the receiver and connects the viewer to it the way the main
  // window does at start-up.
  void Start(const ScriptedReceiver::Script& script) {
    receiver = std::make_unique<ScriptedReceiver>(script);
    ASSERT_TRUE(receiver->ok());
    device_.AddSerialPort(u"COM3:", receiver->path());
    WCHAR port[25];
    FindReceiverPort(port, sizeof port);
    ASSERT_EQ(std::u16string(port), u"COM3:");
    ViewerState::session = new SerialSession(port, 57600);
    ASSERT_TRUE(ViewerState::CreateCurrentReader());
    ASSERT_TRUE(ViewerState::session->Reopen());
  }

  std::u16string Query() {
    WCHAR text[kReceiverVersionChars];
    text[0] = u'?';
    ReadReceiverVersion(text);
    return text;
  }

  // Everything the viewer wrote, once the receiver has had time to see it.
  std::string Wire() {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return receiver->Received();
  }

  // Waits for the reader's first sentence after a swap.
  static bool ReaderHearsNmea() {
    for (int i = 0; i < 50; ++i) {
      if (ViewerState::currentReader != nullptr && ViewerState::currentReader->HasSentence()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  std::unique_ptr<ScriptedReceiver> receiver;
  std::vector<ShownBox> boxes;

 private:
  handheld::testing::TempDevice device_;
  handheld::MessageBoxPresenter previous_;
};

TEST_F(ReceiverVersionPeer, TwoVersionSentencesKeepTheReaderAndNeverSwitch) {
  ScriptedReceiver::Script script;
  script.answer2 = "GSW2-2.05.024";
  script.answer1 = "Dovrin GPS 1.30";
  Start(script);
  NmeaReader* before = ViewerState::currentReader;

  EXPECT_EQ(Query(), u"GSW2-2.05.024, Dovrin GPS 1.30");
  EXPECT_EQ(Wire(), kAskVersion2 + kAskVersion1);
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(ViewerState::currentReader, before);
  EXPECT_EQ(ViewerState::currentReader->Swv().count, 2);
  EXPECT_EQ(ViewerState::binaryReader, nullptr);
}

TEST_F(ReceiverVersionPeer, TwoLongestVersionsAreCutToTheBuffer) {
  const std::string first(49, 'a');
  const std::string second(48, 'b');
  ScriptedReceiver::Script script;
  script.answer2 = first;
  script.answer1 = second + "c";
  Start(script);

  // Room for 100 characters, then a guard the query must not touch.
  WCHAR text[kReceiverVersionChars + 8];
  for (WCHAR& c : text) c = u'#';
  ReadReceiverVersion(text, kReceiverVersionChars);

  const std::u16string expected = handheld::FromUtf8(first + ", " + second);
  EXPECT_EQ(std::u16string(text), expected);
  EXPECT_EQ(expected.size(), kReceiverVersionChars - 1);
  for (DWORD i = kReceiverVersionChars; i < kReceiverVersionChars + 8; ++i) EXPECT_EQ(text[i], u'#');
}

TEST_F(ReceiverVersionPeer, VersionDecodedBeforeTheQueryIsTakenAtOnce) {
  // The receiver never answers PSRF200,2, but the reader has already seen a
  // version sentence: the first sentence read after the request settles it.
  ScriptedReceiver::Script script;
  script.answer1 = "LATE-2.0";
  Start(script);
  receiver->Inject(receiver_test::Sentence("PXVRSWV,0,EARLY-1.0"));

  NmeaReader* reader = ViewerState::currentReader;
  char sentence[NmeaReader::kSentenceBufferSize];
  WORD length = 0;
  for (int i = 0; i < 100 && reader->Swv().count == 0; ++i) {
    if (reader->ReadSentence(sentence, length))
      reader->DecodeSentence(sentence);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(reader->Swv().count, 1);

  EXPECT_EQ(Query(), u"EARLY-1.0, LATE-2.0");
  EXPECT_EQ(Wire(), kAskVersion2 + kAskVersion1);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(ReceiverVersionPeer, NoVersionSentenceFallsBackToBinaryAndBack) {
  ScriptedReceiver::Script script;
  script.baseVersion = "GSW2-2.05.024-C1Prod1.1";
  script.makerVersion = "Dovrin-SLV 3.4";
  Start(script);

  EXPECT_EQ(Query(), u"GSW2-2.05.024-C1Prod1.1, Dovrin-SLV 3.4");
  EXPECT_EQ(Wire(), kAskVersion2 + kToBinary + kPollVersion + kBackToNmea);
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(receiver->CurrentMode(), ScriptedReceiver::Mode::Nmea);
  // A fresh sentence reader, hearing the receiver's NMEA again.
  ASSERT_NE(ViewerState::currentReader, nullptr);
  EXPECT_EQ(ViewerState::currentReader->Swv().count, 0);
  EXPECT_EQ(ViewerState::binaryReader, nullptr);
  EXPECT_TRUE(ReaderHearsNmea());
}

TEST_F(ReceiverVersionPeer, ReceiverThatStaysInNmeaIsStillToldToSwitchBack) {
  ScriptedReceiver::Script script;
  script.obeysSwitchToBinary = false;
  Start(script);

  EXPECT_EQ(Query(), u"");
  EXPECT_EQ(Wire(), kAskVersion2 + kToBinary + kBackToNmea);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, u"Failed to go into Sirf Binary");
  EXPECT_EQ(boxes[0].caption, u"Error");
  EXPECT_EQ(boxes[0].type, kErrorStyle);
  EXPECT_EQ(boxes[0].owner, nullptr);
  // The box is up while the binary reader is attached, with no sentence
  // reader for a timer tick to use.
  EXPECT_FALSE(boxes[0].hadCurrentReader);
  EXPECT_TRUE(boxes[0].hadBinaryReader);
  ASSERT_NE(ViewerState::currentReader, nullptr);
  EXPECT_EQ(ViewerState::binaryReader, nullptr);
}

TEST_F(ReceiverVersionPeer, ReceiverAlreadyInBinaryIsAskedThereAndSentBackToNmea) {
  ScriptedReceiver::Script script;
  script.start = ScriptedReceiver::Mode::Binary;
  script.baseVersion = "GSW2-2.05.024";
  script.makerVersion = "Dovrin-SLV 3.4";
  Start(script);

  EXPECT_EQ(Query(), u"GSW2-2.05.024, Dovrin-SLV 3.4");
  // No NMEA command: the receiver never showed NMEA.
  EXPECT_EQ(Wire(), kPollVersion + kBackToNmea);
  EXPECT_TRUE(boxes.empty());
  ASSERT_NE(ViewerState::currentReader, nullptr);
  EXPECT_EQ(ViewerState::binaryReader, nullptr);
  EXPECT_EQ(receiver->CurrentMode(), ScriptedReceiver::Mode::Nmea);
  EXPECT_TRUE(ReaderHearsNmea());
}

TEST_F(ReceiverVersionPeer, WithoutASentenceReaderTheQueryDoesNothing) {
  // After Disconnect there is no sentence reader; the firmware dialog may
  // still run the query, which must not bring a reader back.
  ScriptedReceiver::Script script;
  script.answer2 = "GSW2";
  Start(script);
  ViewerState::session->Close();
  ViewerState::DeleteCurrentReader();

  EXPECT_EQ(Query(), u"");
  EXPECT_EQ(Wire(), "");
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(ViewerState::currentReader, nullptr);
  EXPECT_EQ(ViewerState::binaryReader, nullptr);
}

}  // namespace
