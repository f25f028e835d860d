// Replay of stored captures: every byte in order, comments left out, CR
// given back to NMEA lines, binary frames untouched, at the pace of the line.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "ReceiverSimHarness.h"

using namespace simtest;

namespace {

std::string Capture(const char* name) { return std::string(TESTDATA_DIR) + "/gpsd-logs/" + name; }

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// What a text capture should turn into: its lines without the comment lines,
// each ending in CR LF (an empty line keeps its lone LF).
Bytes ExpectedFromText(const Bytes& file) {
  Bytes out;
  size_t i = 0;
  while (i < file.size()) {
    size_t end = i;
    while (end < file.size() && file[end] != '\n') ++end;
    if (file[i] != '#') {
      out.insert(out.end(), file.begin() + static_cast<long>(i), file.begin() + static_cast<long>(end));
      if (end < file.size()) {
        if (end > i) out.push_back('\r');
        out.push_back('\n');
      }
    }
    i = end + 1;
  }
  return out;
}

// A binary capture: its header lines go, the rest stays as it is.
Bytes ExpectedFromBinary(const Bytes& file) {
  size_t i = 0;
  while (i < file.size() && file[i] == '#') {
    while (i < file.size() && file[i] != '\n') ++i;
    ++i;
  }
  return Bytes(file.begin() + static_cast<long>(i), file.end());
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

void ExpectReplay(const char* name, const Bytes& expected) {
  ASSERT_GT(expected.size(), 1000u);
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--replay", Capture(name), "--burst", "--seconds", "30"}));
  auto started = Clock::now();
  Bytes got = sim.ReadUntil([&](const Bytes& b) { return b.size() >= expected.size(); }, 10000);
  double took = Seconds(started);
  EXPECT_TRUE(got == expected) << name << ": got " << got.size() << " of " << expected.size()
                               << " bytes";
  // 10 bits per byte at 57600 baud.
  double due = expected.size() * 10.0 / 57600.0;
  // Never faster than the line; a busy machine may make it slower, so the
  // upper bound only catches a replay that is not paced by the line at all.
  EXPECT_GT(took, due * 0.8) << name;
  EXPECT_LT(took, due * 4 + 2) << name;
  // Once through, then quiet.
  EXPECT_TRUE(sim.ReadFor(400).empty());
  EXPECT_EQ(sim.Stop(), 0);
}

}  // namespace

TEST(ReceiverSimReplay, TextCaptureWithCommentsInTheMiddle) {
  Bytes file = ReadFile(Capture("blumax-gps009.log"));
  ASSERT_FALSE(file.empty()) << "capture not found";
  ExpectReplay("blumax-gps009.log", ExpectedFromText(file));
}

TEST(ReceiverSimReplay, BinaryCaptureGoesOutUnchanged) {
  Bytes file = ReadFile(Capture("bu303-stillfix.log"));
  ASSERT_FALSE(file.empty()) << "capture not found";
  Bytes expected = ExpectedFromBinary(file);
  ASSERT_EQ(expected[0], 0xA0);
  ExpectReplay("bu303-stillfix.log", expected);
}

TEST(ReceiverSimReplay, LoopStartsOverAndKeepsTheCorruptLine) {
  Bytes file = ReadFile(Capture("triton400.log"));
  ASSERT_FALSE(file.empty()) << "capture not found";
  Bytes once = ExpectedFromText(file);
  Bytes twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--replay", Capture("triton400.log"), "--loop", "--burst", "--seconds", "30"}));
  Bytes got = sim.ReadUntil([&](const Bytes& b) { return b.size() >= twice.size(); }, 5000);
  ASSERT_GE(got.size(), twice.size());
  got.resize(twice.size());
  EXPECT_TRUE(got == twice);
  // It goes on.
  EXPECT_FALSE(sim.ReadFor(300).empty());
}

TEST(ReceiverSimReplay, MissingFileIsReported) {
  SimProcess sim;
  EXPECT_FALSE(sim.Launch({"--replay", "/nonexistent/capture.log"}));
  EXPECT_EQ(sim.Wait(2000), 1);
}
