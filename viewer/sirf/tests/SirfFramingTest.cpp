// The receive side of the binary link: framing, the 50-slot queue, read-out
// and the checksum test. Bytes go straight to OnByte on a session that is
// never opened.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "SirfTestSupport.h"

using namespace sirftest;

namespace {

class SirfFraming : public ::testing::Test {
 protected:
  SerialSession session{u"COM9:", 57600};
  BinaryReader reader{&session};
};

Bytes Numbered(int n) { return SirfFrame({0x20, static_cast<uint8_t>(n), static_cast<uint8_t>(n * 7)}); }

TEST_F(SirfFraming, LeadingNoiseIsDiscardedAndTheFrameStartsAtA0) {
  Feed(reader, FromHex("00 FF A0 A2 00 02 84 00 00 84 B0 B3"));
  ASSERT_TRUE(reader.HasFrame());
  bool valid = false;
  EXPECT_EQ(Hex(Next(reader, &valid)), "A0 A2 00 02 84 00 00 84 B0 B3");
  EXPECT_TRUE(valid);
  EXPECT_FALSE(reader.HasFrame());
}

TEST_F(SirfFraming, RepeatedStartByteBeginsTheFrameAtTheLastA0) {
  Bytes frame = SirfFrame({0x84, 0x00});
  Feed(reader, Join({{0xA0}, frame}));
  bool valid = false;
  EXPECT_EQ(Next(reader, &valid), frame);
  EXPECT_TRUE(valid);

  Feed(reader, Join({{0xA0, 0xA0, 0xA0}, frame}));
  EXPECT_EQ(Next(reader, &valid), frame);
  EXPECT_TRUE(valid);
  EXPECT_FALSE(reader.HasFrame());
}

TEST_F(SirfFraming, StartFollowedByAnotherByteKeepsNothing) {
  // A0 41 returns to hunting, so the A2 that follows starts nothing and the
  // payload bytes and end markers are noise.
  Feed(reader, FromHex("A0 41 A2 00 02 84 00 00 84 B0 B3"));
  EXPECT_FALSE(reader.HasFrame());
  // Nothing of the broken start is left in the slot: the next frame comes
  // out exactly.
  Bytes frame = SirfFrame({0x06, 'x'});
  Feed(reader, frame);
  EXPECT_EQ(Next(reader), frame);
}

TEST_F(SirfFraming, EndMarkersInsideThePayloadEndTheFrameEarly) {
  Bytes payload = {0x06, 0x11, 0xB0, 0xB3, 0x22, 0x33};
  Bytes whole = SirfFrame(payload);
  Bytes good = SirfFrame({0x84, 0x00});
  Feed(reader, Join({whole, good}));
  bool valid = true;
  EXPECT_EQ(Hex(Next(reader, &valid)), "A0 A2 00 06 06 11 B0 B3");
  EXPECT_FALSE(valid);  // cut short: its length field claims more than arrived
  // The rest of the payload is discarded while hunting, and the next frame
  // is intact.
  EXPECT_EQ(Next(reader, &valid), good);
  EXPECT_TRUE(valid);
  EXPECT_FALSE(reader.HasFrame());
}

TEST_F(SirfFraming, EndMarkerRunsAndFalseEnds) {
  // B0 B0 B3 completes the frame; B0 followed by another byte is payload.
  Bytes payload = {0x33, 0xB0, 0x41, 0xB0, 0xB0, 0x42, 0xA0, 0xA2};
  Bytes frame = SirfFrame(payload);
  Feed(reader, frame);
  bool valid = false;
  EXPECT_EQ(Next(reader, &valid), frame);
  EXPECT_TRUE(valid);

  // A checksum whose low byte is B0 puts B0 B0 B3 at the end of the frame.
  Bytes endsInB0 = SirfFrame({0x60, 0x50});  // sum 0xB0
  ASSERT_EQ(endsInB0[endsInB0.size() - 3], 0xB0);
  Feed(reader, endsInB0);
  EXPECT_EQ(Next(reader, &valid), endsInB0);
  EXPECT_TRUE(valid);
}

TEST_F(SirfFraming, FiftyFramesWaitAndTheFiftyFirstIsDropped) {
  for (int i = 0; i < 51; ++i) Feed(reader, Numbered(i));
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(reader.HasFrame()) << i;
    bool valid = false;
    EXPECT_EQ(Next(reader, &valid), Numbered(i)) << i;
    EXPECT_TRUE(valid);
  }
  EXPECT_FALSE(reader.HasFrame());
  // Room again: frames are taken once more.
  Feed(reader, Numbered(60));
  EXPECT_EQ(Next(reader), Numbered(60));
}

TEST(SirfFramingFullQueue, BytesOutsideAFrameLeaveEveryWaitingFrameAlone) {
  // While 50 frames wait, the slot at the write index is the oldest one's:
  // noise, a false start or the byte after a dropped overlong frame must
  // not empty it.
  Bytes overlong = {0xA0, 0xA2, 0x03, 0xE1};
  overlong.resize(1001, 0x55);
  const Bytes kDisturbances[] = {{0x00}, {0xA0, 0x41}, Join({overlong, {0x00}})};
  for (const Bytes& disturbance : kDisturbances) {
    SerialSession session{u"COM9:", 57600};
    BinaryReader reader{&session};
    for (int i = 0; i < 50; ++i) Feed(reader, Numbered(i));
    Feed(reader, disturbance);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(Next(reader), Numbered(i)) << disturbance.size() << " bytes, frame " << i;
    EXPECT_FALSE(reader.HasFrame());
  }
}

TEST_F(SirfFraming, FrameStartedWhileTheQueueIsFullStaysDroppedWhenRoomAppears) {
  for (int i = 0; i < 50; ++i) Feed(reader, Numbered(i));
  Bytes late = SirfFrame({0x06, 'l', 'a', 't', 'e'});
  Feed(reader, Bytes(late.begin(), late.begin() + 5));
  // The oldest frame is read while the late one is halfway in: its slot is
  // free now, but the late frame lost its start and must not turn up.
  EXPECT_EQ(Next(reader), Numbered(0));
  Feed(reader, Bytes(late.begin() + 5, late.end()));
  for (int i = 1; i < 50; ++i) {
    bool valid = false;
    EXPECT_EQ(Next(reader, &valid), Numbered(i)) << i;
    EXPECT_TRUE(valid) << i;
  }
  EXPECT_FALSE(reader.HasFrame());
  Feed(reader, late);
  EXPECT_EQ(Next(reader), late);
}

TEST_F(SirfFraming, OverlongFrameWhileTheQueueIsFullStillEndsAtASlotsLength) {
  // A frame that starts while 50 wait is dropped, but framing still gives
  // up on it after 1000 bytes as it does on a stored one, so the frame that
  // follows is found once there is room again.
  for (int i = 0; i < 50; ++i) Feed(reader, Numbered(i));
  Bytes overlong = {0xA0, 0xA2, 0x03, 0xE1};
  overlong.resize(1001, 0x55);  // no end markers within a slot's length
  Feed(reader, overlong);
  EXPECT_EQ(Next(reader), Numbered(0));
  Bytes after = SirfFrame({0x84, 0x00});
  Feed(reader, after);
  for (int i = 1; i < 50; ++i) ASSERT_EQ(Next(reader), Numbered(i)) << i;
  bool valid = false;
  EXPECT_EQ(Next(reader, &valid), after);
  EXPECT_TRUE(valid);
  EXPECT_FALSE(reader.HasFrame());
}

TEST_F(SirfFraming, SlotsAreReusedRoundTheQueue) {
  // Over three laps of the 50 slots, with 1 to 7 frames waiting at a time,
  // the indices wrap and every frame comes out in order.
  int written = 0;
  int read = 0;
  for (int round = 0; written < 150; ++round) {
    for (int k = 0; k <= round % 7 && written < 150; ++k) Feed(reader, Numbered(written++));
    while (read < written) {
      ASSERT_TRUE(reader.HasFrame()) << read;
      ASSERT_EQ(Next(reader), Numbered(read)) << read;
      ++read;
    }
    ASSERT_FALSE(reader.HasFrame());
  }
}

TEST_F(SirfFraming, ReadFrameWithNothingWaitingLeavesCountAlone) {
  BYTE buffer[BinaryReader::kSlotBytes];
  WORD count = 1234;
  EXPECT_FALSE(reader.ReadFrame(buffer, count));
  EXPECT_EQ(count, 1234);
  // A frame still being assembled is not waiting.
  Feed(reader, FromHex("A0 A2 00 02 84 00"));
  EXPECT_FALSE(reader.HasFrame());
  EXPECT_FALSE(reader.ReadFrame(buffer, count));
  EXPECT_EQ(count, 1234);
}

TEST_F(SirfFraming, WrongChecksumIsReadOutWholeAndConsumed) {
  Bytes frame = SirfFrame({0x02, 0x01, 0x02, 0x03});
  frame[frame.size() - 3] ^= 0x01;
  Bytes good = SirfFrame({0x84, 0x00});
  Feed(reader, Join({frame, good}));
  BYTE buffer[BinaryReader::kSlotBytes];
  WORD count = 0;
  EXPECT_FALSE(reader.ReadFrame(buffer, count));
  EXPECT_EQ(count, frame.size());
  EXPECT_EQ(Bytes(buffer, buffer + count), frame);
  EXPECT_EQ(Next(reader), good);  // the bad one is gone
  EXPECT_FALSE(reader.HasFrame());
}

TEST_F(SirfFraming, LongPayloadsPassAndFramesBeyondASlotAreLost) {
  // 300 payload bytes with a sum far beyond 15 bits.
  Bytes payload(300, 0x7F);
  payload[0] = 0x04;
  Bytes frame = SirfFrame(payload);
  Feed(reader, frame);
  bool valid = false;
  EXPECT_EQ(Next(reader, &valid), frame);
  EXPECT_TRUE(valid);

  // 992 payload bytes make a frame of exactly one slot.
  Bytes full = SirfFrame(Bytes(992, 0x55));
  ASSERT_EQ(full.size(), 1000u);
  Feed(reader, full);
  EXPECT_EQ(Next(reader, &valid), full);
  EXPECT_TRUE(valid);

  // One byte more does not fit: the frame is lost, hunting goes on, and the
  // next frame comes out intact.
  Bytes tooLong = SirfFrame(Bytes(993, 0x55));
  Bytes after = SirfFrame({0x84, 0x00});
  Feed(reader, Join({tooLong, after}));
  EXPECT_EQ(Next(reader, &valid), after);
  EXPECT_TRUE(valid);
  EXPECT_FALSE(reader.HasFrame());
}

TEST_F(SirfFraming, ResetFramesEmptiesQueueAndPartialFrame) {
  for (int i = 0; i < 5; ++i) Feed(reader, Numbered(i));
  Feed(reader, FromHex("A0 A2 00 05 06 41"));
  reader.ResetFrames();
  EXPECT_FALSE(reader.HasFrame());
  // The partial frame's tail is noise now; a new frame comes out exactly.
  Feed(reader, FromHex("42 43 44 00 00 B0 B3"));
  EXPECT_FALSE(reader.HasFrame());
  Feed(reader, Numbered(9));
  EXPECT_EQ(Next(reader), Numbered(9));
}

TEST(SirfChecksum, ChecksumTestNeverReadsBeyondTheFrame) {
  // Exactly sized heap copies, so a read past the end is caught.
  auto valid = [](const Bytes& frame) {
    std::unique_ptr<BYTE[]> copy(new BYTE[frame.size() + 1]);
    std::copy(frame.begin(), frame.end(), copy.get());
    return BinaryReader::FrameChecksumValid(copy.get(), static_cast<DWORD>(frame.size()));
  };
  EXPECT_TRUE(valid(FromHex("A0 A2 00 02 84 00 00 84 B0 B3")));
  EXPECT_TRUE(valid(FromHex("A0 A2 00 00 00 00 B0 B3")));  // empty payload sums to 0
  EXPECT_FALSE(valid(FromHex("A0 A2 00 02 84 00 00 85 B0 B3")));
  // Length fields that claim more than arrived.
  EXPECT_FALSE(valid(FromHex("A0 A2 00 03 84 00 00 84 B0 B3")));
  EXPECT_FALSE(valid(FromHex("A0 A2 FF FF 84 00 00 84 B0 B3")));
  // Too short to hold length, checksum and markers.
  EXPECT_FALSE(valid(FromHex("A0 A2 00 00 00 00 B0")));
  EXPECT_FALSE(valid(FromHex("A0 A2")));
  EXPECT_FALSE(BinaryReader::FrameChecksumValid(nullptr, 10));
  // Checksum bytes with their high bit set can never match a 15-bit sum.
  Bytes payload(300, 0xFF);
  Bytes frame = SirfFrame(payload);
  EXPECT_TRUE(valid(frame));
  frame[4 + 300] |= 0x80;
  EXPECT_FALSE(valid(frame));
}

TEST_F(SirfFraming, ReaderThreadAndUiThreadShareTheQueue) {
  // One thread delivers frames byte by byte while this one drains them, as
  // the serial reader thread and the UI thread do. Every frame that gets in
  // comes out whole and in order.
  const int kFrames = 2000;
  std::atomic<bool> done{false};
  std::thread feeder([&] {
    for (int i = 0; i < kFrames; ++i) {
      Bytes frame = SirfFrame({0x21, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)});
      Feed(reader, frame);
      if (i % 64 == 0) std::this_thread::yield();
    }
    done = true;
  });
  int last = -1;
  int seen = 0;
  while (!done || reader.HasFrame()) {
    if (!reader.HasFrame()) {
      std::this_thread::yield();
      continue;
    }
    bool valid = false;
    Bytes frame = Next(reader, &valid);
    // No ASSERT here: leaving with the feeder still running would abort.
    EXPECT_TRUE(valid);
    EXPECT_EQ(frame.size(), 11u);
    if (!valid || frame.size() != 11u) break;
    int number = (frame[5] << 8) | frame[6];
    EXPECT_GT(number, last);
    if (number <= last) break;
    last = number;
    ++seen;
  }
  feeder.join();
  EXPECT_GT(seen, 0);
  EXPECT_LE(seen, kFrames);
}

// Blocks handed to OnBytes frame exactly as their bytes handed to OnByte one
// at a time: each call stops right after the byte that queues a frame, and
// the same frames come out at the same points, whether the queue is read at
// every stop, now and then, or left to fill (so that frames are dropped).
// The input mixes frames, frames longer than a slot, marker bytes and noise.
TEST(SirfFramingBlocks, BlocksFrameAsTheirBytesDoOneAtATime) {
  std::mt19937 random(23);
  // The byte that does not fit a slot starts a frame of its own were it not lost.
  Bytes overlong = {0xA0, 0xA2, 0x04, 0x00};
  overlong.resize(1100, 0x41);
  overlong[BinaryReader::kSlotBytes] = 0xA0;
  overlong[BinaryReader::kSlotBytes + 1] = 0xA2;
  const std::vector<Bytes> pieces = {{0xA0}, {0xA2}, {0xB0}, {0xB3}, {0xB0, 0xB3}, {0x00, 0x41, 0xFF},
                                     overlong, SirfFrame({0x02, 0xB0, 0x07}), Numbered(3), Bytes(40, 0x24)};
  for (int round = 0; round < 120; ++round) {
    Bytes stream;
    while (stream.size() < 8000) {
      const Bytes& piece = pieces[random() % pieces.size()];
      stream.insert(stream.end(), piece.begin(), piece.end());
    }
    const int readEvery = round % 3 == 0 ? 1 : round % 3 == 1 ? 7 : 1 << 30;
    BinaryReader single(nullptr);
    BinaryReader blocks(nullptr);
    auto compare = [&](const char* where) {
      while (single.HasFrame() || blocks.HasFrame()) {
        ASSERT_EQ(single.HasFrame(), blocks.HasFrame()) << "round " << round << " " << where;
        bool validSingle = false;
        bool validBlocks = false;
        const Bytes expected = Next(single, &validSingle);
        ASSERT_EQ(expected, Next(blocks, &validBlocks)) << "round " << round << " " << where;
        EXPECT_EQ(validSingle, validBlocks) << "round " << round;
      }
    };
    int stops = 0;
    for (size_t at = 0; at < stream.size();) {
      const DWORD size = static_cast<DWORD>(std::min<size_t>(1 + random() % 700, stream.size() - at));
      const DWORD taken = blocks.OnBytes(stream.data() + at, size);
      ASSERT_GE(taken, 1u);
      ASSERT_LE(taken, size);
      bool queuedAtLast = false;
      for (DWORD i = 0; i < taken; ++i) {
        const bool before = single.HasFrame();
        BinaryReader::OnByte(stream[at + i], &single);
        if (readEvery == 1) {
          ASSERT_FALSE(before) << "round " << round << " byte " << at + i << ": not stopped after it";
          queuedAtLast = single.HasFrame();
        }
      }
      if (readEvery == 1 && taken < size) {
        EXPECT_TRUE(queuedAtLast) << "round " << round << ": stopped early";
      }
      at += taken;
      if (++stops % readEvery == 0) compare("at a stop");
    }
    compare("at the end");
  }
}

}  // namespace
