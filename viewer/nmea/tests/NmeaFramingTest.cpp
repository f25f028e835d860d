// Framing, queueing and validation of sentences, driven through the byte
// sink exactly as the serial reader thread drives it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "NmeaReader.h"
#include "NmeaTestFeed.h"
#include "SerialSession.h"

using nmea_test::Feed;
using nmea_test::NmeaSentence;
using nmea_test::TakeAll;

namespace {

class NmeaFraming : public ::testing::Test {
 protected:
  SerialSession session{u"COM9:", 57600};  // never opened
  NmeaReader reader{&session};
  char buffer[NmeaReader::kSentenceBufferSize];
  WORD length = 0;
};

// A sentence of exactly `total` bytes from "$" to LF, without checksum.
std::string SentenceOfLength(size_t total) {
  return "$GPXXX," + std::string(total - 9, 'A') + "\r\n";
}

TEST_F(NmeaFraming, NoiseBeforeTheDollarIsIgnoredAndCrLfIsKept) {
  const std::string gga = NmeaSentence("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
  Feed(reader, "noise\r\n\x01\xff" + gga);
  ASSERT_TRUE(reader.HasSentence());
  ASSERT_TRUE(reader.ReadSentence(buffer, length));
  EXPECT_EQ(gga.size(), length);
  EXPECT_EQ(gga, std::string(buffer));
  EXPECT_FALSE(reader.HasSentence());
}

TEST_F(NmeaFraming, EmptyQueueLeavesTheLengthAlone) {
  length = 4242;
  EXPECT_FALSE(reader.HasSentence());
  EXPECT_FALSE(reader.ReadSentence(buffer, length));
  EXPECT_EQ(4242, length);
  Feed(reader, "$GPGGA,1");  // still open: nothing to read
  EXPECT_FALSE(reader.ReadSentence(buffer, length));
  EXPECT_EQ(4242, length);
}

TEST_F(NmeaFraming, LengthLimitIs99BytesAndLongSentencesKeepTheirFirst100) {
  Feed(reader, SentenceOfLength(99));
  ASSERT_TRUE(reader.ReadSentence(buffer, length));
  EXPECT_EQ(99, length);

  Feed(reader, SentenceOfLength(100));
  EXPECT_FALSE(reader.ReadSentence(buffer, length));
  EXPECT_EQ(100, length);

  const std::string longOne = SentenceOfLength(150);
  Feed(reader, longOne);
  EXPECT_FALSE(reader.ReadSentence(buffer, length));
  EXPECT_EQ(100, length);
  EXPECT_EQ(longOne.substr(0, 100), std::string(buffer, length));
  EXPECT_EQ('\0', buffer[100]);

  // The next sentence is framed normally.
  Feed(reader, NmeaSentence("GPGGA,1"));
  EXPECT_TRUE(reader.ReadSentence(buffer, length));
  EXPECT_EQ(NmeaSentence("GPGGA,1"), std::string(buffer));
}

TEST_F(NmeaFraming, ChecksumIsTestedOnlyWhenPresent) {
  Feed(reader, "$GPGGA,1,2,3\r\n");
  EXPECT_TRUE(reader.ReadSentence(buffer, length));

  std::string wrong = NmeaSentence("GPGGA,1,2,3");
  wrong[wrong.size() - 3] ^= 1;  // last hex digit off by one
  Feed(reader, wrong);
  EXPECT_FALSE(reader.ReadSentence(buffer, length));
  EXPECT_EQ(wrong.size(), length);
}

TEST_F(NmeaFraming, LowerCaseHexDigitsCountAsZero) {
  // Checksum 0x3B: lower case "3b" reads as 0x30 and fails.
  EXPECT_EQ(0x3B, NmeaReader::SentenceChecksum("PSRF200,2"));
  EXPECT_TRUE(NmeaReader::ChecksumValid("$PSRF200,2*3B\r\n"));
  EXPECT_FALSE(NmeaReader::ChecksumValid("$PSRF200,2*3b\r\n"));
  // ...and passes when the true checksum has 0 where the letter is.
  EXPECT_EQ(0x30, NmeaReader::SentenceChecksum("PSRF200,1,$"));
  EXPECT_TRUE(NmeaReader::ChecksumValid("$PSRF200,1,$*3z\r\n"));
}

TEST_F(NmeaFraming, ChecksumNeverReadsPastTheText) {
  EXPECT_FALSE(NmeaReader::ChecksumValid("no dollar"));
  EXPECT_FALSE(NmeaReader::ChecksumValid("$GPGGA,1*"));
  EXPECT_FALSE(NmeaReader::ChecksumValid("$GPGGA,1*4"));
  // "P" sums to 0x50: one digit and the end of the text read as 5 and 0.
  EXPECT_TRUE(NmeaReader::ChecksumValid("$P*5"));
  EXPECT_FALSE(NmeaReader::ChecksumValid("$P*"));
  EXPECT_FALSE(NmeaReader::ChecksumValid("$GPGGA,1"));  // ends before any "*" or LF
  EXPECT_TRUE(NmeaReader::ChecksumValid("junk$GPGGA,1\n"));
}

TEST_F(NmeaFraming, CrFollowedByDollarDropsBothSentences) {
  Feed(reader, "$GPGGA,1\r$GPGSA,2\r\n");
  EXPECT_FALSE(reader.HasSentence());
  Feed(reader, NmeaSentence("GPRMC,3"));
  auto taken = TakeAll(reader);
  ASSERT_EQ(1u, taken.size());
  EXPECT_EQ(NmeaSentence("GPRMC,3"), taken[0].text);
}

TEST_F(NmeaFraming, LfAloneIsDataAndLostCrLfJoinsSentences) {
  Feed(reader, "$GPGGA,1\n,2\r\n");
  ASSERT_TRUE(reader.ReadSentence(buffer, length));
  EXPECT_EQ("$GPGGA,1\n,2\r\n", std::string(buffer));

  // A "$" inside a sentence is data: the truncated sentence and the next
  // land in one slot, and the checksum covers both.
  const std::string joined = "$GPGGA,030130" + NmeaSentence("GPGLL,2638.1728,N");
  Feed(reader, joined);
  auto taken = TakeAll(reader);
  ASSERT_EQ(1u, taken.size());
  EXPECT_EQ(joined, taken[0].text);
  EXPECT_FALSE(taken[0].accepted);
}

TEST_F(NmeaFraming, EmbeddedNulIsRejected) {
  Feed(reader, std::string("$GPGGA,1\0,2*00\r\n", 16));
  EXPECT_FALSE(reader.ReadSentence(buffer, length));
  EXPECT_EQ(16, length);
}

// 15 slots, one of which is always being filled: at most 14 sentences wait.
TEST_F(NmeaFraming, FullQueueDropsNewSentencesAndKeepsTheWaitingOnes) {
  for (int i = 0; i < 40; ++i) Feed(reader, NmeaSentence("GPTST," + std::to_string(i)));
  auto taken = TakeAll(reader);
  ASSERT_EQ(14u, taken.size());
  for (int i = 0; i < 14; ++i) {
    EXPECT_TRUE(taken[i].accepted) << i;
    EXPECT_EQ(NmeaSentence("GPTST," + std::to_string(i)), taken[i].text);
  }
  // Afterwards the queue works as before, also across the wrap of the slots.
  for (int round = 0; round < 5; ++round) {
    for (int i = 0; i < 9; ++i) Feed(reader, NmeaSentence("GPNEW," + std::to_string(round * 10 + i)));
    taken = TakeAll(reader);
    ASSERT_EQ(9u, taken.size());
    for (int i = 0; i < 9; ++i) {
      EXPECT_EQ(NmeaSentence("GPNEW," + std::to_string(round * 10 + i)), taken[i].text);
    }
  }
}

TEST_F(NmeaFraming, SentenceCompletingWhileFullIsDroppedWithoutHarmingThePartialNext) {
  for (int i = 0; i < 14; ++i) Feed(reader, NmeaSentence("GPOLD," + std::to_string(i)));
  Feed(reader, NmeaSentence("GPLOST,1"));   // dropped: queue full
  Feed(reader, "$GPHALF,");           // being framed when a slot frees up
  ASSERT_TRUE(reader.ReadSentence(buffer, length));
  EXPECT_EQ(NmeaSentence("GPOLD,0"), std::string(buffer));
  Feed(reader, "2\r\n");
  Feed(reader, NmeaSentence("GPLOST,2"));   // full again: dropped
  auto taken = TakeAll(reader);
  ASSERT_EQ(14u, taken.size());
  for (int i = 0; i < 13; ++i) EXPECT_EQ(NmeaSentence("GPOLD," + std::to_string(i + 1)), taken[i].text);
  EXPECT_EQ("$GPHALF,2\r\n", taken[13].text);
  EXPECT_TRUE(taken[13].accepted);
}

TEST_F(NmeaFraming, ResetEmptiesTheQueueAndWaitsForDollar) {
  char sentence[] = "$GPGGA,101010.5\r\n";
  Feed(reader, sentence);
  ASSERT_TRUE(reader.ReadSentence(buffer, length));
  reader.DecodeSentence(buffer);
  Feed(reader, NmeaSentence("GPTST,1") + NmeaSentence("GPTST,2") + "$GPHALF,");
  reader.Reset();
  EXPECT_FALSE(reader.HasSentence());
  Feed(reader, "3\r\n");  // tail of the half sentence: not a sentence any more
  EXPECT_FALSE(reader.HasSentence());
  Feed(reader, NmeaSentence("GPTST,4"));
  auto taken = TakeAll(reader);
  ASSERT_EQ(1u, taken.size());
  EXPECT_EQ(NmeaSentence("GPTST,4"), taken[0].text);
  EXPECT_EQ(101010, reader.Gga().utcTime);
  EXPECT_EQ(1, reader.Gga().count);
}

// One thread feeds as the serial reader thread does while this one polls:
// every sentence that comes out is whole and they come in order.
TEST_F(NmeaFraming, FeedingAndPollingOnTwoThreadsKeepsSentencesWhole) {
  const int kSentences = 3000;
  std::atomic<bool> done{false};
  std::thread feeder([&] {
    for (int i = 0; i < kSentences; ++i) {
      Feed(reader, NmeaSentence("GPSEQ," + std::to_string(i)));
      if (i % 16 == 0) std::this_thread::yield();
    }
    done = true;
  });
  int last = -1;
  int received = 0;
  while (!done || reader.HasSentence()) {
    if (!reader.HasSentence()) {
      std::this_thread::yield();
      continue;
    }
    ASSERT_TRUE(reader.ReadSentence(buffer, length)) << buffer;
    int value = std::atoi(buffer + 7);
    EXPECT_EQ(NmeaSentence("GPSEQ," + std::to_string(value)), std::string(buffer));
    EXPECT_GT(value, last);
    last = value;
    ++received;
  }
  feeder.join();
  EXPECT_GT(received, 0);
}

// Blocks handed to OnBytes frame exactly as their bytes handed to OnByte one
// at a time: each call stops right after the byte that queues a sentence,
// and the same sentences come out at the same points, whether the queue is
// read at every stop, now and then, or left to fill. The input mixes
// sentences, overlong ones, stray CRs, LFs, dollars and NULs.
TEST(NmeaFramingBlocks, BlocksFrameAsTheirBytesDoOneAtATime) {
  std::mt19937 random(17);
  const std::vector<std::string> pieces = {"$", "\r", "\n", "\r\n", "GPGGA,1", "*4F", std::string(1, '\0'),
                                           std::string(130, 'A'), "x", NmeaSentence("GPRMC,2,A")};
  for (int round = 0; round < 150; ++round) {
    std::string stream;
    while (stream.size() < 4000) stream += pieces[random() % pieces.size()];
    const BYTE* data = reinterpret_cast<const BYTE*>(stream.data());
    const int readEvery = round % 3 == 0 ? 1 : round % 3 == 1 ? 5 : 1 << 30;
    NmeaReader single(nullptr);
    NmeaReader blocks(nullptr);
    int stops = 0;
    for (size_t at = 0; at < stream.size();) {
      const DWORD size = static_cast<DWORD>(std::min<size_t>(1 + random() % 300, stream.size() - at));
      const DWORD taken = blocks.OnBytes(data + at, size);
      ASSERT_GE(taken, 1u);
      ASSERT_LE(taken, size);
      bool queuedAtLast = false;
      for (DWORD i = 0; i < taken; ++i) {
        const bool before = single.HasSentence();
        NmeaReader::OnByte(data[at + i], &single);
        if (readEvery == 1) {
          // Read at every stop, so the queue is empty until the byte that queues one.
          ASSERT_FALSE(before) << "round " << round << " byte " << at + i << ": not stopped after it";
          queuedAtLast = single.HasSentence();
        }
      }
      if (readEvery == 1 && taken < size) {
        EXPECT_TRUE(queuedAtLast) << "round " << round << ": stopped early";
      }
      at += taken;
      if (++stops % readEvery == 0) {
        const auto expected = TakeAll(single);
        const auto got = TakeAll(blocks);
        ASSERT_EQ(expected.size(), got.size()) << "round " << round << " at " << at;
        for (size_t i = 0; i < got.size(); ++i) {
          EXPECT_EQ(expected[i].text, got[i].text) << "round " << round;
          EXPECT_EQ(expected[i].accepted, got[i].accepted) << "round " << round;
        }
      }
    }
    const auto expected = TakeAll(single);
    const auto got = TakeAll(blocks);
    ASSERT_EQ(expected.size(), got.size()) << "round " << round;
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(expected[i].text, got[i].text) << "round " << round;
  }
}

}  // namespace
