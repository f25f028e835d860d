// Receiving over a real line: frames written at the far end of a
// pseudo-terminal cross the port and the reader thread, and the wait
// operations pick out acknowledgments and messages among other traffic.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "SirfTestSupport.h"

using namespace sirftest;

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

Bytes BadChecksum(Bytes frame) {
  frame[frame.size() - 3] ^= 0x01;
  return frame;
}

class SirfWait : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(line.peer().ok());
    ASSERT_TRUE(line.Open());
    reader = std::make_unique<BinaryReader>(line.session());
  }
  void TearDown() override {
    if (answerer.joinable()) answerer.join();
    reader.reset();
  }

  // The far end writes `bytes` after `delayMs`, from its own thread.
  void PeerWrites(Bytes bytes, int delayMs = 0) {
    answerer = std::thread([this, bytes, delayMs] {
      if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
      line.peer().Write(bytes);
    });
  }

  // Waits until frames are queued (or two seconds pass), then lets the
  // rest of the burst land.
  bool FramesArrive() {
    auto start = Clock::now();
    while (MsSince(start) < 2000) {
      if (reader->HasFrame()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  ReceiverLine line;
  std::unique_ptr<BinaryReader> reader;
  std::thread answerer;
};

TEST_F(SirfWait, FrameReaderExamplesOverTheLine) {
  Bytes later = SirfFrame({0x06, 'G', 'S', 'W'});
  line.peer().Write(Join({FromHex("00 FF A0 A2 00 02 84 00 00 84 B0 B3"),
                          FromHex("A0 41"),
                          {0xA0},
                          later}));
  ASSERT_TRUE(FramesArrive());
  bool valid = false;
  EXPECT_EQ(Hex(Next(*reader, &valid)), "A0 A2 00 02 84 00 00 84 B0 B3");
  EXPECT_TRUE(valid);
  EXPECT_EQ(Next(*reader, &valid), later);  // begins at the second A0
  EXPECT_TRUE(valid);
  EXPECT_FALSE(reader->HasFrame());
}

TEST_F(SirfWait, AckAmongOtherTrafficEndsTheWait) {
  // Acknowledgments and refusals of other messages, other frames and an
  // acknowledgment with a broken checksum come first; none ends the wait.
  PeerWrites(Join({SirfFrame({0x0B, 0x99}), SirfFrame({0x0C, 0x99}), SirfFrame({0x04, 0x01, 0x02}),
                   BadChecksum(SirfFrame({0x0B, 0x80})), SirfFrame({0x0B, 0x80})}),
             150);
  auto start = Clock::now();
  EXPECT_TRUE(reader->WaitForAck(0x80, 50));
  EXPECT_LT(MsSince(start), 4500);
  EXPECT_FALSE(reader->HasFrame());
}

TEST_F(SirfWait, RefusalOfTheMessageEndsTheWaitWithFalse) {
  // The broken acknowledgment is dropped, so the refusal behind it decides.
  PeerWrites(Join({SirfFrame({0x0B, 0x99}), BadChecksum(SirfFrame({0x0B, 0x80})), SirfFrame({0x0C, 0x80}),
                   SirfFrame({0x0B, 0x80})}),
             150);
  auto start = Clock::now();
  EXPECT_FALSE(reader->WaitForAck(0x80, 50));
  EXPECT_LT(MsSince(start), 4500);  // well before the time-out
  // What came after the refusal is still queued.
  EXPECT_TRUE(reader->HasFrame());
}

TEST_F(SirfWait, WaitWithoutAnAnswerTimesOut) {
  PeerWrites(Join({SirfFrame({0x0B, 0x99}), SirfFrame({0x0C, 0x81})}), 50);
  auto start = Clock::now();
  EXPECT_FALSE(reader->WaitForAck(0x80, 5));
  EXPECT_GE(MsSince(start), 500);
  BYTE buffer[BinaryReader::kSlotBytes];
  WORD count = 0;
  EXPECT_FALSE(reader->WaitForMessage(0x06, buffer, count, 3));
}

TEST_F(SirfWait, ZeroTimeoutReadsNothing) {
  line.peer().Write(SirfFrame({0x0B, 0x80}));
  ASSERT_TRUE(FramesArrive());
  EXPECT_FALSE(reader->WaitForAck(0x80, 0));
  BYTE buffer[BinaryReader::kSlotBytes];
  WORD count = 77;
  EXPECT_FALSE(reader->WaitForMessage(0x0B, buffer, count, 0));
  EXPECT_EQ(count, 77);
  EXPECT_TRUE(reader->HasFrame());
  EXPECT_TRUE(reader->WaitForAck(0x80, 10));
}

TEST_F(SirfWait, WaitForMessageLeavesTheFrameInTheBuffer) {
  Bytes version = SirfFrame({0x06, 'G', 'S', 'W', '2', '.', '3'});
  PeerWrites(Join({SirfFrame({0x04, 0x01}), BadChecksum(SirfFrame({0x06, 'b', 'a', 'd'})), version,
                   SirfFrame({0x02, 0x09})}),
             100);
  BYTE buffer[BinaryReader::kSlotBytes];
  WORD count = 0;
  ASSERT_TRUE(reader->WaitForMessage(0x06, buffer, count, 30));
  EXPECT_EQ(Bytes(buffer, buffer + count), version);
  reader->DispatchFrame(buffer, count);
  EXPECT_TRUE(reader->HasBaseVersion);
  EXPECT_EQ(std::u16string(reader->BaseVersion), u"GSW2.3");
  EXPECT_TRUE(reader->HasFrame());  // the frame behind it waits
}

TEST_F(SirfWait, AcknowledgedOperationRoundTrip) {
  // The far end reads the command and acknowledges it, as a receiver does.
  answerer = std::thread([this] {
    Bytes sent = line.peer().Read(10, 3000);
    line.peer().Write(SirfFrame({0x0C, 0x84}));  // refusal of something else
    line.peer().Write(SirfFrame({0x0B, sent.size() > 4 ? sent[4] : BYTE(0)}));
  });
  EXPECT_TRUE(reader->SetStaticNavigation(0));
}

TEST_F(SirfWait, ReadersTakeTurnsAsTheSink) {
  // Destroying a reader while bytes stream in stops deliveries to it at
  // once; the next reader takes over as the sink.
  std::atomic<bool> stop{false};
  answerer = std::thread([this, &stop] {
    Bytes frame = SirfFrame({0x29, 0x01, 0x02, 0x03});
    while (!stop) {
      line.peer().Write(frame);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  for (int round = 0; round < 5; ++round) {
    bool arrived = FramesArrive();
    EXPECT_TRUE(arrived) << round;
    if (!arrived) break;
    bool valid = false;
    Next(*reader, &valid);
    EXPECT_TRUE(valid);
    reader.reset();
    reader = std::make_unique<BinaryReader>(line.session());
  }
  // The writer reads `stop`, which lives in this scope: join it here.
  stop = true;
  answerer.join();
}

}  // namespace
