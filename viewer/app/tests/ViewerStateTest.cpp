// The viewer's session and readers: one reader at a time, always the one
// the session feeds, and swaps that stay safe while the receiver sends.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "BinaryReader.h"
#include "NmeaReader.h"
#include "SerialSession.h"
#include "ViewerState.h"
#include "WireFrames.h"
#include "testing/PtyPeer.h"
#include "testing/TempDevice.h"

namespace {

// Message 9 with a checksum that holds.
const std::string kFrame("\xA0\xA2\x00\x03\x09\x01\x02\x00\x0C\xB0\xB3", 11);
const std::string kGga = testsupport::NmeaSentence("GPGGA,123519.000,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,");

template <typename Test>
bool Within(int ms, Test test) {
  for (int waited = 0; waited < ms; waited += 10) {
    if (test()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return test();
}

class ViewerStateTest : public ::testing::Test {
 protected:
  void TearDown() override { ViewerState::DeleteSession(); }

  void OpenSession() {
    ASSERT_TRUE(peer.ok());
    device.AddSerialPort(u"COM3:", peer.slavePath());
    ViewerState::session = new SerialSession(u"COM3:", 57600);
    ASSERT_TRUE(ViewerState::session->Reopen());
  }

  handheld::testing::TempDevice device;
  handheld::testing::PtyPeer peer;
};

TEST_F(ViewerStateTest, WithoutASessionNoReaderIsMade) {
  EXPECT_FALSE(ViewerState::CreateCurrentReader());
  EXPECT_FALSE(ViewerState::CreateBinaryReader());
  EXPECT_EQ(ViewerState::session, nullptr);
  EXPECT_EQ(ViewerState::currentReader, nullptr);
  EXPECT_EQ(ViewerState::binaryReader, nullptr);
  // Deleting what is not there is harmless.
  ViewerState::DeleteCurrentReader();
  ViewerState::DeleteBinaryReader();
  ViewerState::DeleteSession();
}

TEST_F(ViewerStateTest, OnlyTheReaderInItsMemberIsFedBytes) {
  OpenSession();

  ASSERT_TRUE(ViewerState::CreateCurrentReader());
  EXPECT_EQ(ViewerState::binaryReader, nullptr);
  peer.Write(kGga);
  EXPECT_TRUE(Within(2000, [] { return ViewerState::currentReader->HasSentence(); }));

  ASSERT_TRUE(ViewerState::CreateBinaryReader());
  EXPECT_EQ(ViewerState::currentReader, nullptr);
  ASSERT_NE(ViewerState::binaryReader, nullptr);
  peer.Write(kGga + kFrame);
  EXPECT_TRUE(Within(2000, [] { return ViewerState::binaryReader->HasFrame(); }));
  BYTE frame[BinaryReader::kSlotBytes];
  WORD count = 0;
  EXPECT_TRUE(ViewerState::binaryReader->ReadFrame(frame, count));
  EXPECT_EQ(count, kFrame.size());
  EXPECT_FALSE(ViewerState::binaryReader->HasFrame());

  // Back to NMEA: a fresh reader with empty records, fed from now on.
  ASSERT_TRUE(ViewerState::CreateCurrentReader());
  EXPECT_EQ(ViewerState::binaryReader, nullptr);
  EXPECT_FALSE(ViewerState::currentReader->HasSentence());
  peer.Write(kFrame + kGga);
  EXPECT_TRUE(Within(2000, [] { return ViewerState::currentReader->HasSentence(); }));
  char sentence[NmeaReader::kSentenceBufferSize];
  WORD length = 0;
  EXPECT_TRUE(ViewerState::currentReader->ReadSentence(sentence, length));
  EXPECT_EQ(std::string(sentence, length), kGga);
}

TEST_F(ViewerStateTest, ANewSentenceReaderReplacesTheOldOneAsSink) {
  // Reconnect while a reader still exists: the old one goes first, so its
  // destructor cannot detach the new one.
  OpenSession();
  ASSERT_TRUE(ViewerState::CreateCurrentReader());
  ASSERT_TRUE(ViewerState::CreateCurrentReader());
  peer.Write(kGga);
  EXPECT_TRUE(Within(2000, [] { return ViewerState::currentReader->HasSentence(); }));
}

TEST_F(ViewerStateTest, SwapsAndTeardownWhileTheReceiverKeepsSending) {
  OpenSession();
  ASSERT_TRUE(ViewerState::CreateCurrentReader());

  std::atomic<bool> stop{false};
  // Sends without ever blocking: once the session is gone nobody reads.
  fcntl(peer.masterFd(), F_SETFL, fcntl(peer.masterFd(), F_GETFL) | O_NONBLOCK);
  std::thread receiver([&] {
    const std::string burst = kGga + kFrame + kGga + kFrame;
    while (!stop) {
      ssize_t written = write(peer.masterFd(), burst.data(), burst.size());
      (void)written;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });

  char sentence[NmeaReader::kSentenceBufferSize];
  BYTE frame[BinaryReader::kSlotBytes];
  WORD length = 0;
  int sentences = 0;
  int frames = 0;
  for (int round = 0; round < 150; ++round) {
    ASSERT_TRUE(ViewerState::CreateBinaryReader());
    ASSERT_EQ(ViewerState::currentReader, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    while (ViewerState::binaryReader->ReadFrame(frame, length)) ++frames;

    ASSERT_TRUE(ViewerState::CreateCurrentReader());
    ASSERT_EQ(ViewerState::binaryReader, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    while (ViewerState::currentReader->ReadSentence(sentence, length)) ++sentences;
  }
  // The session goes while bytes are still arriving.
  ViewerState::DeleteSession();
  EXPECT_EQ(ViewerState::session, nullptr);
  EXPECT_EQ(ViewerState::currentReader, nullptr);
  EXPECT_EQ(ViewerState::binaryReader, nullptr);
  stop = true;
  receiver.join();
  EXPECT_GT(sentences, 0);
  EXPECT_GT(frames, 0);
}

}  // namespace
