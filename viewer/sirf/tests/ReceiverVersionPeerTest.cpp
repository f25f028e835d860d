// The version query against a receiver the test scripts byte by byte on a
// pseudo-terminal: what goes out on the wire, which reader is attached when,
// the message boxes and the text each path leaves.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "NmeaReader.h"
#include "ReceiverVersionQuery.h"
#include "ScriptedReceiver.h"
#include "VersionQueryBench.h"
#include "handheld.h"

using receiver_test::kAskVersion1;
using receiver_test::kAskVersion2;
using receiver_test::kBackToNmea;
using receiver_test::kPollVersion;
using receiver_test::kToBinary;
using receiver_test::ScriptedReceiver;

namespace {

class ReceiverVersionPeer : public receiver_test::VersionQueryBench {
 protected:
  void TearDown() override {
    VersionQueryBench::TearDown();
    receiver.reset();
  }

  // Starts the receiver and connects the viewer to it.
  void Start(const ScriptedReceiver::Script& script) {
    receiver = std::make_unique<ScriptedReceiver>(script);
    ASSERT_TRUE(receiver->ok());
    Connect(receiver->path());
  }

  // Everything the viewer wrote, once the receiver has had time to see it.
  std::string Wire() {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return receiver->Received();
  }

  std::unique_ptr<ScriptedReceiver> receiver;
};

TEST_F(ReceiverVersionPeer, TwoVersionSentencesKeepTheReaderAndNeverSwitch) {
  ScriptedReceiver::Script script;
  script.answer2 = "GSW2-2.05.024";
  script.answer1 = "Dovrin GPS 1.30";
  Start(script);
  NmeaReader* before = readers.currentReader;

  EXPECT_EQ(Query(), u"GSW2-2.05.024, Dovrin GPS 1.30");
  EXPECT_EQ(Wire(), kAskVersion2 + kAskVersion1);
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(readers.currentReader, before);
  EXPECT_EQ(readers.currentReader->Swv().count, 2);
  EXPECT_EQ(readers.binaryReader, nullptr);
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
  ReadReceiverVersion(readers, text, kReceiverVersionChars);

  const std::u16string expected = handheld::FromUtf8(first + ", " + second);
  EXPECT_EQ(std::u16string(text), expected);
  EXPECT_EQ(expected.size(), kReceiverVersionChars - 1);
  for (DWORD i = kReceiverVersionChars; i < kReceiverVersionChars + 8; ++i) EXPECT_EQ(text[i], u'#');
}

TEST_F(ReceiverVersionPeer, TwoLongestBinaryVersionsAreCutToTheBuffer) {
  const std::string base(49, 'b');
  const std::string maker = "Dovrin" + std::string(43, 'm');
  ScriptedReceiver::Script script;
  script.start = ScriptedReceiver::Mode::Binary;
  script.baseVersion = base;
  script.makerVersion = maker;
  Start(script);

  WCHAR text[kReceiverVersionChars + 8];
  for (WCHAR& c : text) c = u'#';
  ReadReceiverVersion(readers, text, kReceiverVersionChars);

  const std::u16string expected = handheld::FromUtf8(base + ", " + maker.substr(0, 48));
  EXPECT_EQ(std::u16string(text), expected);
  EXPECT_EQ(expected.size(), kReceiverVersionChars - 1);
  for (DWORD i = kReceiverVersionChars; i < kReceiverVersionChars + 8; ++i) EXPECT_EQ(text[i], u'#');
  EXPECT_EQ(Wire(), kPollVersion + kBackToNmea);
}

TEST_F(ReceiverVersionPeer, VersionDecodedBeforeTheQueryIsTakenAtOnce) {
  // The receiver never answers PSRF200,2, but the reader has already seen a
  // version sentence: the first sentence read after the request settles it.
  ScriptedReceiver::Script script;
  script.answer1 = "LATE-2.0";
  Start(script);
  receiver->Inject(receiver_test::NmeaSentence("PXVRSWV,0,EARLY-1.0"));

  NmeaReader* reader = readers.currentReader;
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
  // A fresh sentence reader, hearing the receiver's NMEA again.
  ExpectFreshSentenceReader();
  EXPECT_EQ(Wire(), kAskVersion2 + kToBinary + kPollVersion + kBackToNmea);
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(receiver->CurrentMode(), ScriptedReceiver::Mode::Nmea);
  EXPECT_TRUE(ReaderHearsNmea());
  // The unanswered request costs its full 5 s; the binary poll ends as soon
  // as the second text is in, not after its own 5 s.
  EXPECT_GE(queryMs, 5000u);
  EXPECT_LT(queryMs, 9000u);
}

TEST_F(ReceiverVersionPeer, ReceiverThatStaysInNmeaIsStillToldToSwitchBack) {
  ScriptedReceiver::Script script;
  script.obeysSwitchToBinary = false;
  Start(script);

  EXPECT_EQ(Query(), u"");
  ExpectFreshSentenceReader();
  EXPECT_EQ(Wire(), kAskVersion2 + kToBinary + kBackToNmea);
  // The box is up while the binary reader is attached, with no sentence
  // reader for a timer tick to use, after 5 s for the version and 5 s for
  // a frame.
  ExpectOneBox(receiver_test::kNotIntoBinary, false);
  EXPECT_GE(boxes[0].afterMs, 10000u);
  EXPECT_TRUE(ReaderHearsNmea());
}

TEST_F(ReceiverVersionPeer, ReceiverAlreadyInBinaryIsAskedThereAndSentBackToNmea) {
  ScriptedReceiver::Script script;
  script.start = ScriptedReceiver::Mode::Binary;
  script.baseVersion = "GSW2-2.05.024";
  script.makerVersion = "Dovrin-SLV 3.4";
  Start(script);

  EXPECT_EQ(Query(), u"GSW2-2.05.024, Dovrin-SLV 3.4");
  ExpectFreshSentenceReader();
  // No NMEA command: the receiver never showed NMEA.
  EXPECT_EQ(Wire(), kPollVersion + kBackToNmea);
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(receiver->CurrentMode(), ScriptedReceiver::Mode::Nmea);
  EXPECT_TRUE(ReaderHearsNmea());
}

TEST_F(ReceiverVersionPeer, WithoutASentenceReaderTheQueryDoesNothing) {
  // After Disconnect there is no sentence reader; the firmware dialog may
  // still run the query, which must not bring a reader back.
  ScriptedReceiver::Script script;
  script.answer2 = "GSW2";
  Start(script);
  readers.session->Close();
  readers.DeleteCurrentReader();

  EXPECT_EQ(Query(), u"");
  EXPECT_LT(queryMs, 5000u);
  EXPECT_EQ(Wire(), "");
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(readers.currentReader, nullptr);
  EXPECT_EQ(readers.binaryReader, nullptr);
  EXPECT_TRUE(receiver_test::SinkIsTheOneReader(readers));
}

TEST_F(ReceiverVersionPeer, BinaryLegWithoutRoomForTextStillSwitchesBack) {
  ScriptedReceiver::Script script;
  script.start = ScriptedReceiver::Mode::Binary;
  Start(script);
  ASSERT_TRUE(readers.CreateBinaryReader());

  ReadVersionOverBinary(readers, nullptr, 0);
  EXPECT_EQ(Wire(), kBackToNmea);
  EXPECT_TRUE(boxes.empty());
}

}  // namespace
