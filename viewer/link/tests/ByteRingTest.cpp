#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <vector>

#include "ByteRing.h"

namespace {

std::vector<BYTE> Drain(ByteRing& ring) {
  std::vector<BYTE> out;
  BYTE value = 0;
  while (ring.Get(value)) out.push_back(value);
  return out;
}

TEST(ByteRing, HoldsExactlyItsCapacityAndRefusesTheNextByteUnchanged) {
  auto ring = std::make_unique<ByteRing>(100);
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(ring->Put(static_cast<BYTE>(i))) << i;
  EXPECT_EQ(ring->Count(), 100u);
  EXPECT_FALSE(ring->Put(0xEE));
  EXPECT_EQ(ring->Count(), 100u);

  std::vector<BYTE> out = Drain(*ring);
  ASSERT_EQ(out.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(out[i], i);
}

TEST(ByteRing, KeepsOrderWhileTheIndexesWrapManyTimes) {
  // 7 is no power of two: an index advanced with a mask would go wrong.
  ByteRing ring(7);
  std::deque<BYTE> model;
  BYTE next = 0;
  for (int round = 0; round < 200; ++round) {
    int puts = 1 + round % 7;
    int gets = 1 + (round * 3) % 6;
    for (int i = 0; i < puts; ++i) {
      bool room = model.size() < 7;
      ASSERT_EQ(ring.Put(next), room) << "round " << round;
      if (room) model.push_back(next);
      ++next;
    }
    for (int i = 0; i < gets; ++i) {
      BYTE value = 0xAA;
      bool any = !model.empty();
      ASSERT_EQ(ring.Get(value), any) << "round " << round;
      if (!any) break;
      ASSERT_EQ(value, model.front()) << "round " << round;
      model.pop_front();
    }
    ASSERT_EQ(ring.Count(), model.size());
  }
}

// Runs of every length against a model, single bytes in between, so that
// runs split at the storage's end, stop at a full ring and at an empty one.
TEST(ByteRing, RunsKeepOrderAcrossTheWrapAndStopWhereSingleBytesWould) {
  ByteRing ring(7);
  std::deque<BYTE> model;
  BYTE next = 0;
  for (int round = 0; round < 300; ++round) {
    std::vector<BYTE> in(static_cast<size_t>(round % 11));
    for (BYTE& b : in) b = next++;
    const DWORD stored = ring.PutRun(in.data(), static_cast<DWORD>(in.size()));
    const size_t fits = std::min(in.size(), 7 - model.size());
    ASSERT_EQ(stored, fits) << "round " << round;
    model.insert(model.end(), in.begin(), in.begin() + static_cast<long>(fits));
    if (round % 3 == 0 && ring.Put(next)) model.push_back(next++);

    std::vector<BYTE> out(static_cast<size_t>((round * 5) % 9), 0xEE);
    const DWORD taken = ring.GetRun(out.data(), static_cast<DWORD>(out.size()));
    ASSERT_EQ(taken, std::min(out.size(), model.size())) << "round " << round;
    for (DWORD i = 0; i < taken; ++i) {
      ASSERT_EQ(out[i], model.front()) << "round " << round;
      model.pop_front();
    }
    for (size_t i = taken; i < out.size(); ++i) ASSERT_EQ(out[i], 0xEE) << "written past the bytes taken";
    ASSERT_EQ(ring.Count(), model.size());
  }
  ByteRing none(0);
  const BYTE one = 1;
  EXPECT_EQ(none.PutRun(&one, 1), 0u);
}

TEST(ByteRing, EmptyRingLeavesTheOutputByteAlone) {
  ByteRing ring(10);
  BYTE value = 0x5C;
  EXPECT_FALSE(ring.Get(value));
  EXPECT_EQ(value, 0x5C);

  ASSERT_TRUE(ring.Put(1));
  ASSERT_TRUE(ring.Get(value));
  EXPECT_EQ(value, 1);
  value = 0x77;
  EXPECT_FALSE(ring.Get(value));
  EXPECT_EQ(value, 0x77);
  EXPECT_FALSE(ring.PeekAt(value, 0));
  EXPECT_EQ(value, 0x77);
}

TEST(ByteRing, PeekAtReachesTheNewestByteAcrossTheWrapAndRemovesNothing) {
  ByteRing ring(5);
  BYTE value = 0;
  // Move the read index to 3 so that the held bytes wrap past the end.
  for (BYTE b = 0; b < 3; ++b) ring.Put(b);
  for (int i = 0; i < 3; ++i) ring.Get(value);
  for (BYTE b = 10; b < 15; ++b) ASSERT_TRUE(ring.Put(b));

  for (DWORD offset = 0; offset < 5; ++offset) {
    ASSERT_TRUE(ring.PeekAt(value, offset));
    EXPECT_EQ(value, 10 + offset);
  }
  ASSERT_TRUE(ring.PeekAt(value, ring.Count() - 1));
  EXPECT_EQ(value, 14);
  value = 0x99;
  EXPECT_FALSE(ring.PeekAt(value, ring.Count()));
  EXPECT_FALSE(ring.PeekAt(value, 0xFFFFFFFFu));
  EXPECT_EQ(value, 0x99);
  EXPECT_EQ(Drain(ring), (std::vector<BYTE>{10, 11, 12, 13, 14}));
}

TEST(ByteRing, ClearEmptiesAFullRingAndItFillsAgainFromTheStart) {
  ByteRing ring(4);
  BYTE value = 0;
  ring.Put(1);
  ring.Get(value);  // indexes no longer at 0
  for (BYTE b = 0; b < 4; ++b) ring.Put(b);
  ASSERT_FALSE(ring.Put(9));

  ring.Clear();
  EXPECT_EQ(ring.Count(), 0u);
  EXPECT_FALSE(ring.Get(value));
  for (BYTE b = 20; b < 24; ++b) ASSERT_TRUE(ring.Put(b));
  EXPECT_FALSE(ring.Put(9));
  EXPECT_EQ(Drain(ring), (std::vector<BYTE>{20, 21, 22, 23}));
}

TEST(ByteRing, KeepsOnlyTheLow16BitsOfTheCapacity) {
  DWORD asked = 0x10064;  // 65536 + 100
  ByteRing ring(asked);
  EXPECT_EQ(ring.Capacity(), 100u);
  int accepted = 0;
  while (ring.Put(0) && accepted < 70000) ++accepted;
  EXPECT_EQ(accepted, 100);

  DWORD wrapsToZero = 0x10000;
  ByteRing empty(wrapsToZero);
  EXPECT_EQ(empty.Capacity(), 0u);
  EXPECT_FALSE(empty.Put(1));
}

TEST(ByteRing, CapacityZeroRefusesEverythingWithoutDividingByZero) {
  ByteRing ring(0);
  BYTE value = 0x42;
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(ring.Put(static_cast<BYTE>(i)));
  EXPECT_FALSE(ring.Get(value));
  EXPECT_FALSE(ring.PeekAt(value, 0));
  ring.Clear();
  EXPECT_FALSE(ring.Put(1));
  EXPECT_EQ(value, 0x42);
  EXPECT_EQ(ring.Count(), 0u);
}

TEST(ByteRing, LargestRingFillsWrapsAndDrainsInOrder) {
  ByteRing ring(65535);
  BYTE value = 0;
  for (DWORD i = 0; i < 65535; ++i) ASSERT_TRUE(ring.Put(static_cast<BYTE>(i * 7)));
  EXPECT_FALSE(ring.Put(0));
  for (DWORD i = 0; i < 1000; ++i) {
    ASSERT_TRUE(ring.Get(value));
    ASSERT_EQ(value, static_cast<BYTE>(i * 7));
  }
  for (DWORD i = 65535; i < 66535; ++i) ASSERT_TRUE(ring.Put(static_cast<BYTE>(i * 7)));
  ASSERT_TRUE(ring.PeekAt(value, 65534));
  EXPECT_EQ(value, static_cast<BYTE>(66534u * 7));
  for (DWORD i = 1000; i < 66535; ++i) {
    ASSERT_TRUE(ring.Get(value));
    ASSERT_EQ(value, static_cast<BYTE>(i * 7)) << i;
  }
  EXPECT_EQ(ring.Count(), 0u);
}

}  // namespace
