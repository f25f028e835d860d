// The sending side of the binary link: every message operation writes its
// frame byte for byte, checked at the far end of a pseudo-terminal by the
// receiver simulator's own frame decoder.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "SirfInput.h"
#include "SirfTestSupport.h"

using namespace sirftest;

namespace {

// The payload of the one frame in `sent`, as the simulator's decoder takes
// it (header, length, checksum and end markers checked there); empty, with
// a failure, when `sent` is not exactly one good frame.
Bytes SimulatorPayload(const Bytes& sent) {
  SirfInput decoder;
  std::vector<uint8_t> payload;
  size_t frames = 0;
  for (size_t i = 0; i < sent.size(); ++i) {
    SirfInput::Result result = decoder.OnByte(sent[i], payload);
    EXPECT_NE(result, SirfInput::Result::BadFrame) << "at byte " << i;
    if (result == SirfInput::Result::Frame) {
      ++frames;
      EXPECT_EQ(i + 1, sent.size()) << "bytes after the frame";
    }
  }
  EXPECT_EQ(frames, 1u);
  return frames == 1 ? Bytes(payload.begin(), payload.end()) : Bytes();
}

class SirfBuilder : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(line.peer().ok());
    ASSERT_TRUE(line.Open());
    reader = std::make_unique<BinaryReader>(line.session());
  }
  void TearDown() override { reader.reset(); }

  // Everything the port wrote: `count` bytes, then whatever follows until
  // the line goes quiet.
  Bytes Sent(size_t count) {
    Bytes got = line.peer().Read(count, 3000);
    for (uint8_t b : line.peer().ReadFor(200, 200)) got.push_back(b);
    return got;
  }

  // Reads one frame at the far end and answers it with an acknowledgment
  // (message 11) or a negative one (12) for its id, while `operation` runs
  // here. Returns the frame; `result` gets the operation's answer.
  Bytes SentAndAnswered(const std::function<bool()>& operation, bool* result, BYTE answer = 11) {
    Bytes frame;
    std::thread peer([&] {
      frame = line.peer().Read(4, 3000);
      if (frame.size() < 4) return;
      size_t rest = ((frame[2] << 8) | frame[3]) + 4;
      for (uint8_t b : line.peer().Read(rest, 3000)) frame.push_back(b);
      if (frame.size() > 4) line.peer().Write(SirfFrame({answer, frame[4]}));
    });
    *result = operation();
    peer.join();
    return frame;
  }

  ReceiverLine line;
  std::unique_ptr<BinaryReader> reader;
};

TEST_F(SirfBuilder, PollSoftwareVersionWritesTenBytes) {
  EXPECT_TRUE(reader->PollSoftwareVersion());
  EXPECT_EQ(Hex(Sent(10)), "A0 A2 00 02 84 00 00 84 B0 B3");
}

TEST_F(SirfBuilder, SwitchToNmeaWritesTheSentenceRatesAndBaud) {
  EXPECT_TRUE(reader->SwitchToNmea(57600));
  EXPECT_EQ(Hex(Sent(32)),
            "A0 A2 00 18 81 02 02 01 00 01 04 01 04 01 02 01 00 01 00 01 00 01 00 01 00 01 E1 00 "
            "01 7A B0 B3");
  // Only the low 16 bits of the rate are sent.
  EXPECT_TRUE(reader->SwitchToNmea(0x1E100));
  EXPECT_EQ(Hex(Sent(32)),
            "A0 A2 00 18 81 02 02 01 00 01 04 01 04 01 02 01 00 01 00 01 00 01 00 01 00 01 E1 00 "
            "01 7A B0 B3");
  EXPECT_TRUE(reader->SwitchToNmea(4800));
  Bytes sent = Sent(32);
  ASSERT_EQ(sent.size(), 32u);
  EXPECT_EQ(Hex(Bytes(sent.begin() + 26, sent.end())), "12 C0 01 6B B0 B3");
}

TEST_F(SirfBuilder, FlashUpdateWritesAOneBytePayload) {
  EXPECT_TRUE(reader->FlashUpdate());
  EXPECT_EQ(Hex(Sent(9)), "A0 A2 00 01 94 00 94 B0 B3");
}

TEST_F(SirfBuilder, PollsAndSettingsWithoutAcknowledgment) {
  struct Case {
    const char* name;
    std::function<bool(BinaryReader&)> send;
    const char* payload;
  } cases[] = {
      {"PollInitParams", [](BinaryReader& r) { return r.PollInitParams(); }, "A8 80"},
      {"PollModeControl", [](BinaryReader& r) { return r.PollModeControl(); }, "A8 88"},
      {"PollNavParams", [](BinaryReader& r) { return r.PollNavParams(); }, "98 00"},
      {"PollEphemeris", [](BinaryReader& r) { return r.PollEphemeris(); }, "93 00 00"},
      {"PollAlmanac", [](BinaryReader& r) { return r.PollAlmanac(); }, "92 00"},
      {"SendMessage181", [](BinaryReader& r) { return r.SendMessage181(0x5A); }, "B5 5A"},
      {"TricklePresetA", [](BinaryReader& r) { return r.TricklePresetA(); }, "97 00 03 E8 00 00 03 C8"},
      {"TricklePresetB", [](BinaryReader& r) { return r.TricklePresetB(); }, "97 00 00 96 00 00 01 2C"},
      {"SetDgpsSourceOne", [](BinaryReader& r) { return r.SetDgpsSourceOne(); }, "85 01 00 00 00 00 00"},
      {"SetDgpsSourceNone", [](BinaryReader& r) { return r.SetDgpsSourceNone(); }, "85 00 00 00 00 00 00"},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(c.send(*reader)) << c.name;
    const Bytes payload = FromHex(c.payload);
    EXPECT_EQ(Hex(SimulatorPayload(Sent(payload.size() + 8))), Hex(payload)) << c.name;
  }
}

TEST_F(SirfBuilder, AlmanacAndEphemerisCarryTheirDataUnchanged) {
  Bytes almanac(896);
  for (size_t i = 0; i < almanac.size(); ++i) almanac[i] = static_cast<uint8_t>(i * 13 + 1);
  EXPECT_TRUE(reader->SetAlmanac(almanac.data()));
  Bytes payload = {0x82};
  for (uint8_t b : almanac) payload.push_back(b);
  EXPECT_EQ(SimulatorPayload(Sent(905)), payload);

  Bytes ephemeris(90);
  for (size_t i = 0; i < ephemeris.size(); ++i) ephemeris[i] = static_cast<uint8_t>(255 - i);
  EXPECT_TRUE(reader->SetEphemeris(ephemeris.data()));
  payload = {0x95};
  for (uint8_t b : ephemeris) payload.push_back(b);
  EXPECT_EQ(SimulatorPayload(Sent(99)), payload);
}

TEST_F(SirfBuilder, ResetFormsWaitForTheirAcknowledgment) {
  struct Case {
    BinaryReader::ResetForm form;
    BYTE configuration;
  } cases[] = {{BinaryReader::ResetClearHistory, 0x04},
               {BinaryReader::ResetFactory, 0x08},
               {BinaryReader::ResetClearEphemeris, 0x02},
               {BinaryReader::ResetDataValid, 0x01}};
  for (const Case& c : cases) {
    bool result = false;
    Bytes sent = SentAndAnswered([&] { return reader->ResetReceiver(c.form); }, &result);
    Bytes payload(25, 0);
    payload[0] = 0x80;
    payload[24] = c.configuration;
    EXPECT_EQ(Hex(SimulatorPayload(sent)), Hex(payload)) << int(c.form);
    EXPECT_TRUE(result) << int(c.form);
  }
  // A negative acknowledgment makes the operation answer false.
  bool result = true;
  SentAndAnswered([&] { return reader->ResetReceiver(BinaryReader::ResetFactory); }, &result, 12);
  EXPECT_FALSE(result);
  // An unknown form sends nothing.
  EXPECT_FALSE(reader->ResetReceiver(static_cast<BinaryReader::ResetForm>(4)));
  EXPECT_TRUE(Sent(0).empty());
}

TEST_F(SirfBuilder, RecordsGoOutBigEndianFieldByField) {
  InitParamsRecord init{};
  init.messageId = 0x55;  // not sent: the payload's id is always 0x80
  init.x = 4432220;
  init.y = -185584;
  init.z = 4734527;
  init.clockDrift = 90000;
  init.timeOfWeek = 9939444;
  init.week = 1460;
  init.channelCount = 12;
  init.resetConfiguration = 0x04;
  bool result = false;
  Bytes sent = SentAndAnswered([&] { return reader->InitDataSource(init); }, &result);
  EXPECT_TRUE(result);
  EXPECT_EQ(Hex(SimulatorPayload(sent)),
            "80 00 43 A1 5C FF FD 2B 10 00 48 3E 3F 00 01 5F 90 00 97 A9 F4 05 B4 0C 04");

  ModeControlRecord mode{1, 2, 3, 4, 5, -100, 6, 7, 8, 9, 10, 11};
  sent = SentAndAnswered([&] { return reader->SetModeControl(mode); }, &result);
  EXPECT_TRUE(result);
  EXPECT_EQ(Hex(SimulatorPayload(sent)), "88 01 02 03 04 05 FF 9C 06 07 08 09 0A 0B");
}

TEST_F(SirfBuilder, AcknowledgedSettings) {
  bool result = false;
  Bytes sent = SentAndAnswered([&] { return reader->SetTricklePower(0x12345, 0x01020304); }, &result);
  EXPECT_TRUE(result);
  EXPECT_EQ(Hex(SimulatorPayload(sent)), "97 00 00 23 45 01 02 03 04");

  sent = SentAndAnswered([&] { return reader->SetMessageRate(4, 5); }, &result);
  EXPECT_TRUE(result);
  EXPECT_EQ(Hex(SimulatorPayload(sent)), "A6 00 04 05 00 00 00 00");

  sent = SentAndAnswered([&] { return reader->SetStaticNavigation(1); }, &result);
  EXPECT_TRUE(result);
  EXPECT_EQ(Hex(SimulatorPayload(sent)), "8F 01");
}

TEST_F(SirfBuilder, PayloadsBeyondTheTransmitBufferAreRefusedWhole) {
  Bytes payload(993, 0x11);
  EXPECT_FALSE(reader->SendFrame(payload.data(), 993));
  EXPECT_FALSE(reader->SendFrame(payload.data(), 0xFFFF));
  EXPECT_TRUE(Sent(0).empty());
  // The largest payload that fits goes out whole.
  payload.resize(992);
  EXPECT_TRUE(reader->SendFrame(payload.data(), 992));
  Bytes sent = Sent(1000);
  EXPECT_EQ(sent.size(), 1000u);
  EXPECT_EQ(SimulatorPayload(sent), payload);
}

TEST(SirfSendHelpers, ChecksumKeepsFifteenBits) {
  // 128 payload bytes of 0xFF sum to 32640; one more 0x80 makes 32768.
  Bytes frame(4 + 129 + 4, 0);
  for (int i = 0; i < 128; ++i) frame[4 + i] = 0xFF;
  frame[4 + 128] = 0x7F;
  EXPECT_EQ(BinaryReader::FrameChecksum(frame.data(), 129), 32767);
  frame[4 + 128] = 0x80;
  EXPECT_EQ(BinaryReader::FrameChecksum(frame.data(), 129), 0);
  frame[4 + 128] = 0x81;
  EXPECT_EQ(BinaryReader::FrameChecksum(frame.data(), 129), 1);
  // Only the payload counts: markers and length bytes do not.
  EXPECT_EQ(BinaryReader::FrameChecksum(FromHex("A0 A2 00 02 84 00 00 84 B0 B3").data(), 2), 0x84);
  // A payload of 1000 bytes of 0xFF: 255000 keeps 255000 mod 32768.
  Bytes big(4 + 1000, 0xFF);
  EXPECT_EQ(BinaryReader::FrameChecksum(big.data(), 1000), 255000 % 32768);
}

TEST(SirfSendHelpers, FormatHexWritesTwoUpperCaseDigitsPerByte) {
  WCHAR text[16];
  const BYTE bytes[] = {0x0A, 0xFF, 0x00, 0xB3};
  BinaryReader::FormatHex(bytes, 2, text);
  EXPECT_EQ(std::u16string(text), u"0AFF");
  BinaryReader::FormatHex(bytes, 4, text);
  EXPECT_EQ(std::u16string(text), u"0AFF00B3");
  text[0] = u'x';
  BinaryReader::FormatHex(bytes, 0, text);
  EXPECT_EQ(std::u16string(text), u"");
}

}  // namespace
