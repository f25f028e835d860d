// Command sentences and received sentences over a real serial line: the
// session's port is a pseudo-terminal whose far end plays the receiver.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "NmeaReader.h"
#include "NmeaTestFeed.h"
#include "SerialSession.h"
#include "testing/PtyPeer.h"
#include "testing/TempDevice.h"

using handheld::testing::PtyPeer;
using handheld::testing::TempDevice;
using nmea_test::NmeaSentence;

namespace {

std::string AsText(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

class NmeaCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer.ok());
    device.AddSerialPort(u"COM3:", peer.slavePath());
    ASSERT_TRUE(session.Reopen());
  }

  // Waits up to `timeoutMs` for a sentence from the reader.
  bool WaitForSentence(int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!reader.HasSentence()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

  TempDevice device;
  PtyPeer peer;
  SerialSession session{u"COM3:", 57600};
  NmeaReader reader{&session};
};

TEST_F(NmeaCommand, VersionQueryCommandsReachTheReceiverByteForByte) {
  EXPECT_TRUE(reader.SendSwitchToBinary(57600));
  const std::string binary = "$PSRF100,0,57600,8,1,0*37\r\n";
  ASSERT_EQ(27u, binary.size());
  EXPECT_EQ(binary, AsText(peer.Read(binary.size(), 3000)));

  EXPECT_TRUE(reader.SendVersionRequest(2));
  EXPECT_EQ("$PSRF200,2*3B\r\n", AsText(peer.Read(15, 3000)));
  EXPECT_TRUE(reader.SendVersionRequest(1));
  EXPECT_EQ("$PSRF200,1*38\r\n", AsText(peer.Read(15, 3000)));
}

TEST_F(NmeaCommand, EveryCommandFramesItsBody) {
  EXPECT_TRUE(reader.SendPsrf202());
  EXPECT_TRUE(reader.SendRateControl(static_cast<BYTE>(300 % 256), 1));
  EXPECT_TRUE(reader.SendNavInit4());
  EXPECT_TRUE(reader.SendNavInit2());
  EXPECT_TRUE(reader.SendNavInit8());
  NavInitTexts texts = {"4807.038", "01131.000", "345600", "1300"};
  EXPECT_TRUE(reader.SendNavInitPosition(texts));
  const std::string expected = NmeaSentence("PSRF202") + NmeaSentence("PSRF103,44,0,1,1") +
                               NmeaSentence("PSRF104,0,0,0,0,0,0,12,4") + NmeaSentence("PSRF104,0,0,0,0,0,0,12,2") +
                               NmeaSentence("PSRF104,0,0,0,0,0,0,12,8") +
                               NmeaSentence("PSRF104,4807.038,01131.000,0,0,345600,1300,12,1");
  EXPECT_EQ(expected, AsText(peer.Read(expected.size(), 3000)));
}

TEST_F(NmeaCommand, ChecksumsBelowSixteenKeepTheirLeadingZeroAndOverlongBodiesAreNotSent) {
  // "AA" XORs to 0: written as two digits, "00".
  EXPECT_EQ(0, NmeaReader::SentenceChecksum("AA"));
  EXPECT_TRUE(reader.SendSentence("AA"));
  EXPECT_EQ("$AA*00\r\n", AsText(peer.Read(8, 3000)));

  EXPECT_TRUE(reader.SendSentence(std::string(NmeaReader::kMaxCommandBody, 'B').c_str()));
  EXPECT_EQ(NmeaReader::kMaxCommandBody + 6u, peer.Read(NmeaReader::kMaxCommandBody + 6u, 3000).size());
  EXPECT_FALSE(reader.SendSentence(std::string(NmeaReader::kMaxCommandBody + 1, 'B').c_str()));
  EXPECT_TRUE(peer.ReadFor(300).empty());
}

TEST_F(NmeaCommand, WithThePortClosedCommandsStillSucceedAndNothingIsSent) {
  ASSERT_TRUE(session.Close());
  EXPECT_TRUE(reader.SendSwitchToBinary(57600));
  EXPECT_TRUE(reader.SendVersionRequest(2));
  EXPECT_TRUE(peer.ReadFor(300).empty());
}

TEST_F(NmeaCommand, SentencesFromTheReceiverAreFramedAndDecoded) {
  ASSERT_TRUE(peer.Write("noise" + NmeaSentence("PXVRSWV,2,GSW3.2.2_3.1.00.12") +
                         "$GPRMC,030131.0,A,2638.1728,N,08011.3893,W,0.00,219.6,010413,,*20\r\n"));
  char buffer[NmeaReader::kSentenceBufferSize];
  WORD length = 0;
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(WaitForSentence());
    ASSERT_TRUE(reader.ReadSentence(buffer, length)) << buffer;
    reader.DecodeSentence(buffer);
  }
  EXPECT_EQ(1, reader.Swv().count);
  EXPECT_STREQ("GSW3.2.2_3.1.00.12", reader.Swv().version);
  EXPECT_EQ('W', reader.Rmc().lonHemisphere);
}

TEST_F(NmeaCommand, DestroyedReaderIsDetachedAndReattachRestoresTheSink) {
  // A second reader takes over the sink; the first gets nothing more.
  auto* other = new NmeaReader(&session);
  ASSERT_TRUE(peer.Write(NmeaSentence("PXVRCOF,5")));
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!other->HasSentence() && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(other->HasSentence());
  EXPECT_FALSE(reader.HasSentence());
  delete other;  // detaches while bytes may arrive

  reader.Reattach();
  ASSERT_TRUE(peer.Write(NmeaSentence("PXVRCOF,6")));
  ASSERT_TRUE(WaitForSentence());
  char buffer[NmeaReader::kSentenceBufferSize];
  WORD length = 0;
  ASSERT_TRUE(reader.ReadSentence(buffer, length));
  EXPECT_EQ(NmeaSentence("PXVRCOF,6"), std::string(buffer));
}

}  // namespace
