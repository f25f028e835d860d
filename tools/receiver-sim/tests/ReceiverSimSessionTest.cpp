// What a thorough client finds in a session with the simulator: every
// request acknowledged is carried out and every other refused, the version
// as receivers send it, one story told by every message, one geoid, replay
// at the capture's pace, and garbage at a wrong rate as a UART delivers it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>

#include "ReceiverSimHarness.h"

using namespace simtest;

namespace {

const std::string kSwitchToBinary = "$PSRF100,0,57600,8,1,0*37\r\n";

uint32_t Big32(const Bytes& p, size_t at) {
  return static_cast<uint32_t>(p[at]) << 24 | p[at + 1] << 16 | p[at + 2] << 8 | p[at + 3];
}
int32_t Signed32(const Bytes& p, size_t at) { return static_cast<int32_t>(Big32(p, at)); }

Bytes Last(const std::vector<Bytes>& frames, uint8_t id) {
  for (auto f = frames.rbegin(); f != frames.rend(); ++f)
    if ((*f)[0] == id) return *f;
  return {};
}

std::string Field(const std::string& body, int n) {
  size_t at = 0;
  for (int i = 0; i < n; ++i) at = body.find(',', at) + 1;
  return body.substr(at, body.find(',', at) - at);
}

// WGS-84 geodetic to earth-centred coordinates.
void ToEcef(double latDeg, double lonDeg, double h, double& x, double& y, double& z) {
  const double a = 6378137.0, f = 1 / 298.257223563, e2 = f * (2 - f);
  const double lat = latDeg * M_PI / 180, lon = lonDeg * M_PI / 180;
  const double n = a / std::sqrt(1 - e2 * std::sin(lat) * std::sin(lat));
  x = (n + h) * std::cos(lat) * std::cos(lon);
  y = (n + h) * std::cos(lat) * std::sin(lon);
  z = (n * (1 - e2) + h) * std::sin(lat);
}

bool Acked(const std::vector<Bytes>& frames, uint8_t answer, uint8_t id) {
  for (auto& f : frames)
    if (f == Bytes{answer, id}) return true;
  return false;
}

}  // namespace

TEST(ReceiverSimSession, EveryRequestIsCarriedOutOrRefused) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start(Args({"--start", "binary"})));
  sim.ReadUntilMessage(2, 2500);
  // Not carried out by this receiver: refused.
  struct Refused {
    const char* what;
    Bytes payload;
  } refused[] = {
      {"poll of message 64", {0xA6, 0x01, 0x40, 0, 0, 0, 0, 0}},
      {"enable of message 52", {0xA6, 0x00, 0x34, 0x01, 0, 0, 0, 0}},
      {"flash update", {0x94}},
      {"set almanac", {0x82, 0x00}},
      {"TricklePower", {0x97, 0, 0, 0x03, 0xE8, 0, 0, 0, 0xC8}},
      {"serial port at 1234 baud", {0x86, 0, 0, 0x04, 0xD2, 8, 1, 0, 0}},
  };
  for (auto& r : refused) {
    SCOPED_TRACE(r.what);
    sim.Write(SirfFrame(r.payload));
    auto frames = Frames(sim.ReadUntil([&](const Bytes& b) {
      auto f = Frames(b);
      return Acked(f, 12, r.payload[0]) || Acked(f, 11, r.payload[0]);
    }, 1500));
    EXPECT_TRUE(Acked(frames, 12, r.payload[0]));
    EXPECT_FALSE(Acked(frames, 11, r.payload[0]));
  }
  // A poll of message 41 is acknowledged, answered at once and from then on
  // in every cycle.
  sim.Write(SirfFrame({0xA6, 0x01, 0x29, 0, 0, 0, 0, 0}));
  auto frames = Frames(sim.ReadUntilMessage(41, 1500));
  EXPECT_TRUE(Acked(frames, 11, 0xA6));
  EXPECT_EQ(CountMessage(frames, 41), 1);
  frames = Frames(sim.ReadUntilMessage(2, 1500));
  frames = Frames(sim.ReadFor(2100));
  EXPECT_GE(CountMessage(frames, 41), 2);
  // Turned off again.
  sim.Write(SirfFrame({0xA6, 0x00, 0x29, 0x00, 0, 0, 0, 0}));
  sim.ReadUntilMessage(11, 1500);
  sim.ReadUntilMessage(4, 1500);
  EXPECT_EQ(CountMessage(Frames(sim.ReadFor(2100)), 41), 0);
}

TEST(ReceiverSimSession, VersionIsNulPaddedToEightyCharacters) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start(Args({"--start", "binary", "--base-version", "GSW2 x"})));
  sim.ReadUntilMessage(2, 2500);
  sim.Write(SirfFrame({0x84, 0x00}));
  Bytes version;  // the first, the base text
  for (auto& f : Frames(sim.ReadUntilMessage(6, 1500, 2)))
    if (f[0] == 6 && version.empty()) version = f;
  Bytes expected{6, 'G', 'S', 'W', '2', ' ', 'x'};
  expected.resize(81, 0);
  ASSERT_EQ(version.size(), 81u);
  EXPECT_TRUE(std::equal(version.begin(), version.begin() + 7, expected.begin()));
  EXPECT_TRUE(std::all_of(version.begin() + 7, version.end(), [](uint8_t b) { return b == 0; }));
}

// GGA, GSA, RMC and messages 2, 4 and 41 tell one story: the same place and
// height, the same satellites in the fix, and a satellite "used" in message
// 4 only when the fix uses it.
TEST(ReceiverSimSession, EveryMessageTellsTheSameStory) {
  struct Case {
    const char* fix;
    int mode;  // GSA
    std::vector<int> inFix;
  } cases[] = {
      {"3d", 3, {3, 6, 9, 17}},
      {"2d", 2, {3, 6, 9, 17}},
      {"none", 1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fix);
    SimProcess sim;
    // At 50 N 5 E EGM96 has the geoid 46.7 m above the ellipsoid.
    ASSERT_TRUE(sim.Start(Args({"--fix", c.fix, "--lat", "50", "--lon", "5", "--alt", "100",
                                "--satellites", "3:72:41:44,6:55:282:42,9:38:131:40,17:64:191:45,31:8:24:0"})));
    auto nmea = GoodSentences(sim.ReadUntil(
        [](const Bytes& b) { return CountId(GoodSentences(b), "GPRMC") >= 2; }, 3000));
    std::string gga, gsa;
    for (auto& s : nmea) {
      if (s.id() == "GPGGA") gga = s.body;
      if (s.id() == "GPGSA") gsa = s.body;
    }
    ASSERT_FALSE(gga.empty());
    EXPECT_EQ(std::atoi(Field(gga, 7).c_str()), static_cast<int>(c.inFix.size()));
    EXPECT_EQ(Field(gsa, 2), std::to_string(c.mode));
    for (size_t i = 0; i < 12; ++i) {
      EXPECT_EQ(Field(gsa, 3 + static_cast<int>(i)),
                i < c.inFix.size() ? (c.inFix[i] < 10 ? "0" : "") + std::to_string(c.inFix[i]) : "");
    }
    if (!c.inFix.empty()) {
      EXPECT_EQ(Field(gga, 9), "100.0");
      EXPECT_EQ(Field(gga, 11), "46.7");
    }

    sim.Write(kSwitchToBinary);
    sim.ReadUntil([](const Bytes& b) { return !Frames(b).empty(); }, 2000);
    sim.Write(SirfFrame({0xA6, 0x01, 0x29, 0, 0, 0, 0, 0}));
    sim.ReadUntilMessage(41, 1500);
    auto frames = Frames(sim.ReadUntilMessage(41, 2500));
    Bytes nav = Last(frames, 2), track = Last(frames, 4), geo = Last(frames, 41);
    ASSERT_EQ(nav.size(), 41u);
    ASSERT_EQ(track.size(), 188u);
    ASSERT_EQ(geo.size(), 91u);
    // Message 2: satellites in the fix.
    EXPECT_EQ(nav[28], c.inFix.size());
    for (size_t i = 0; i < c.inFix.size(); ++i) EXPECT_EQ(nav[29 + i], c.inFix[i]);
    EXPECT_EQ(nav[19] & 7, c.inFix.empty() ? 0 : c.mode == 3 ? 4 : 3);
    // Message 4: the bits a client reads as "used" (0x01) and "ephemeris"
    // (0x80) for the satellites in the fix only.
    for (int ch = 0; ch < 12; ++ch) {
      const size_t at = 8 + 15 * static_cast<size_t>(ch);
      const int prn = track[at];
      const int state = track[at + 3] << 8 | track[at + 4];
      bool inFix = std::find(c.inFix.begin(), c.inFix.end(), prn) != c.inFix.end();
      EXPECT_EQ((state & 0x80) != 0, inFix) << "PRN " << prn;
      EXPECT_EQ((state & 0x01) != 0, inFix) << "PRN " << prn;
    }
    // Message 41: the same satellites, fix, place and heights.
    uint32_t bitmap = 0;
    for (int prn : c.inFix) bitmap |= 1u << (prn - 1);
    EXPECT_EQ(Big32(geo, 19), bitmap);
    EXPECT_EQ(geo[88], c.inFix.size());
    EXPECT_EQ((geo[1] << 8 | geo[2]) == 0, !c.inFix.empty());
    if (c.inFix.empty()) continue;
    EXPECT_NEAR(Signed32(geo, 23) / 1e7, 50.0, 1e-7);
    EXPECT_NEAR(Signed32(geo, 27) / 1e7, 5.0, 1e-7);
    EXPECT_NEAR(Signed32(geo, 31) / 100.0, 146.7, 0.01);  // above the ellipsoid
    EXPECT_NEAR(Signed32(geo, 35) / 100.0, 100.0, 0.01);  // above sea level
    double x, y, z;
    ToEcef(50, 5, 146.7, x, y, z);
    EXPECT_NEAR(Signed32(nav, 1), x, 1);
    EXPECT_NEAR(Signed32(nav, 5), y, 1);
    EXPECT_NEAR(Signed32(nav, 9), z, 1);
  }
}

TEST(ReceiverSimSession, SetSerialPortMovesTheRateAfterItsAcknowledgment) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start(Args({"--start", "binary"})));
  sim.ReadUntilMessage(2, 2500);
  // 9600 baud, 8 data bits, 1 stop bit, no parity.
  sim.Write(SirfFrame({0x86, 0x00, 0x00, 0x25, 0x80, 0x08, 0x01, 0x00, 0x00}));
  EXPECT_TRUE(Acked(Frames(sim.ReadUntilMessage(11, 1500)), 11, 0x86));
  EXPECT_FALSE(HeardAt(sim.path(), B57600, true, 1500));
  EXPECT_TRUE(HeardAt(sim.path(), B9600, true, 3000));
}

TEST(ReceiverSimSession, ReplayGoesOutOneCycleASecond) {
  const std::string capture = std::string(TESTDATA_DIR) + "/gpsd-logs/blumax-gps009.log";
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--replay", capture, "--seconds", "30"}));
  // The capture's cycles are about a second apart: in the first 1.5 s come
  // the first one or two, not all eight.
  auto first = GoodSentences(sim.ReadFor(1500));
  EXPECT_GE(CountId(first, "GPGGA"), 1);
  EXPECT_LE(CountId(first, "GPGGA"), 2);
  auto rest = GoodSentences(sim.ReadUntil(
      [&](const Bytes& b) { return CountId(first, "GPGGA") + CountId(GoodSentences(b), "GPGGA") >= 8; },
      10000));
  EXPECT_EQ(CountId(first, "GPGGA") + CountId(rest, "GPGGA"), 8);
}

// At a wrong rate the line carries framing-error bytes as they come, a few
// at a time, never slices of a whole sentence.
TEST(ReceiverSimSession, GarbageAtAWrongRateComesByteByByte) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start(Args({"--baud", "4800"})));
  std::vector<size_t> reads;
  for (auto end = Clock::now() + std::chrono::milliseconds(2500); Clock::now() < end;) {
    pollfd p{sim.fd(), POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    uint8_t buffer[512];
    ssize_t n = read(sim.fd(), buffer, sizeof buffer);
    if (n > 0) reads.push_back(static_cast<size_t>(n));
  }
  ASSERT_GE(reads.size(), 20u);
  std::sort(reads.begin(), reads.end());
  EXPECT_LE(reads[reads.size() / 2], 8u) << "median read";
}
