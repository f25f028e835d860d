// The receiver simulator seen from the viewer's side of the line: what it
// sends by itself and how it answers, scenario by scenario.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>

#include "ReceiverSimHarness.h"

using namespace simtest;

namespace {

const std::string kSwitchToBinary = "$PSRF100,0,57600,8,1,0*37\r\n";
const std::string kVersionRequest2 = "$PSRF200,2*3B\r\n";
const std::string kVersionRequest1 = "$PSRF200,1*38\r\n";
const Bytes kPollVersion{0xA0, 0xA2, 0x00, 0x02, 0x84, 0x00, 0x00, 0x84, 0xB0, 0xB3};
// Back to NMEA at 57600: GGA and RMC every 2 s, GSA and GSV every 4 s.
const Bytes kSwitchToNmea{0xA0, 0xA2, 0x00, 0x18, 0x81, 0x02, 0x02, 0x01, 0x00, 0x01, 0x04,
                          0x01, 0x04, 0x01, 0x02, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01,
                          0x00, 0x01, 0x00, 0x01, 0xE1, 0x00, 0x01, 0x7A, 0xB0, 0xB3};

// A version text: the characters after the id up to the NUL padding.
std::string Text(const Bytes& payload) {
  std::string text(payload.begin() + 1, payload.end());
  return text.substr(0, text.find('\0'));
}

std::vector<std::string> VersionTexts(const Bytes& bytes) {
  std::vector<std::string> texts;
  for (auto& f : Frames(bytes))
    if (f[0] == 6) texts.push_back(Text(f));
  return texts;
}

std::vector<std::string> SwvSentences(const Bytes& bytes) {
  std::vector<std::string> out;
  for (auto& s : GoodSentences(bytes))
    if (s.id() == "PXVRSWV") out.push_back(s.body);
  return out;
}

// Switches a running receiver to binary and waits for its first frame.
Bytes SwitchToBinary(SimProcess& sim) {
  sim.Write(kSwitchToBinary);
  return sim.ReadUntil([](const Bytes& b) { return !Frames(b).empty(); }, 3000);
}

bool HasNmea(const Bytes& b) { return !GoodSentences(b).empty(); }

// Moves this side of the line to another speed and drops what came before.
void SetSpeed(int fd, speed_t speed) {
  termios t{};
  tcgetattr(fd, &t);
  cfsetspeed(&t, speed);
  tcsetattr(fd, TCSANOW, &t);
  tcflush(fd, TCIFLUSH);
}

}  // namespace

TEST(ReceiverSimNmea, SendsAFullCycleEverySecondWithTheConfiguredSky) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start(Args({"--lat", "-33.8568", "--lon", "151.2153", "--alt", "58",
                              "--satellites",
                              "5:40:100:41,7:20:200:0,11:60:300:39,13:10:10:33,19:80:90:45"})));
  // Two RMC sentences bracket one whole cycle.
  Bytes b = sim.ReadUntil([](const Bytes& got) { return CountId(GoodSentences(got), "GPRMC") >= 2; },
                          4000);
  auto all = Sentences(b);
  for (auto& s : all) {
    EXPECT_TRUE(s.hasChecksum && s.checksumOk) << s.body;
    EXPECT_TRUE(s.crlf) << s.body;
    EXPECT_LT(s.body.size() + 6, 100u) << s.body;  // "$", "*hh", CR LF
  }
  auto good = GoodSentences(b);
  // The last cycle: from the GGA before the last RMC.
  size_t last = good.size() - 1;
  ASSERT_EQ(good[last].id(), "GPRMC");
  size_t gga = last;
  while (gga > 0 && good[gga].id() != "GPGGA") --gga;
  std::vector<std::string> ids;
  for (size_t i = gga; i <= last; ++i) ids.push_back(good[i].id());
  EXPECT_EQ(ids, (std::vector<std::string>{"GPGGA", "GPGSA", "GPGSV", "GPGSV", "GPRMC"}));

  EXPECT_EQ(good[gga].body.substr(0, 10), "GPGGA,0926");
  // EGM96 puts the geoid 22.5 m above the ellipsoid here; its 5-degree grid,
  // interpolated, 21.9 m.
  EXPECT_EQ(good[gga].body.substr(16), ",3351.4080,S,15112.9180,E,1,04,1.0,58.0,M,21.9,M,,0000");
  EXPECT_EQ(good[gga + 1].body, "GPGSA,A,3,05,11,13,19,,,,,,,,,1.8,1.0,1.5");
  EXPECT_EQ(good[gga + 2].body, "GPGSV,2,1,05,05,40,100,41,07,20,200,,11,60,300,39,13,10,010,33");
  EXPECT_EQ(good[gga + 3].body, "GPGSV,2,2,05,19,80,090,45");
  EXPECT_EQ(good[last].body.substr(16),
            ",A,3351.4080,S,15112.9180,E,0.00,0.00,140326,,");
  EXPECT_EQ(sim.Stop(), 0);
}

TEST(ReceiverSimNmea, MovesAlongItsCourseAndTicksOneSecondPerCycle) {
  SimProcess sim;
  // 3600 knots would be absurd; 360 knots north is 0.1 nautical mile (0.1
  // minute of latitude) per second.
  ASSERT_TRUE(sim.Start(Args({"--lat", "10", "--lon", "20", "--speed", "360", "--course", "0"})));
  Bytes b = sim.ReadUntil([](const Bytes& got) { return CountId(GoodSentences(got), "GPRMC") >= 2; },
                          4000);
  std::vector<Sentence> rmc;
  for (auto& s : GoodSentences(b))
    if (s.id() == "GPRMC") rmc.push_back(s);
  ASSERT_GE(rmc.size(), 2u);
  auto field = [](const std::string& body, int n) {
    size_t pos = 0;
    for (int i = 0; i < n; ++i) pos = body.find(',', pos) + 1;
    return body.substr(pos, body.find(',', pos) - pos);
  };
  int t0 = std::atoi(field(rmc[0].body, 1).c_str());
  int t1 = std::atoi(field(rmc[1].body, 1).c_str());
  EXPECT_EQ(t1 - t0, 1);
  double lat0 = std::atof(field(rmc[0].body, 3).c_str());
  double lat1 = std::atof(field(rmc[1].body, 3).c_str());
  EXPECT_NEAR(lat1 - lat0, 0.1, 0.002);  // minutes
  EXPECT_EQ(field(rmc[1].body, 5), field(rmc[0].body, 5));
  EXPECT_EQ(field(rmc[1].body, 7), "360.00");
}

TEST(ReceiverSimNmea, AnswersBothVersionRequestsAndIgnoresABadChecksum) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start(Args({"--nmea-version2", "Base 7.1", "--nmea-version1", "Dovrin X 2"})));
  sim.ReadUntilSentence("GPRMC", 3000);
  sim.Write("$PSRF200,2*3C\r\n");  // wrong checksum
  sim.Write("$PSRF200,1\r\n");     // no checksum
  Bytes b = sim.ReadFor(1200);
  EXPECT_TRUE(SwvSentences(b).empty());
  EXPECT_TRUE(HasNmea(b));

  sim.Write(kVersionRequest2);
  b = sim.ReadUntilSentence("PXVRSWV", 1500);
  EXPECT_EQ(SwvSentences(b), (std::vector<std::string>{"PXVRSWV,2,Base 7.1"}));
  sim.Write(kVersionRequest1);
  b = sim.ReadUntilSentence("PXVRSWV", 1500);
  EXPECT_EQ(SwvSentences(b), (std::vector<std::string>{"PXVRSWV,1,Dovrin X 2"}));
  // The answer is one whole sentence between the others.
  for (auto& s : Sentences(b)) EXPECT_TRUE(s.checksumOk && s.crlf) << s.body;
  EXPECT_EQ(sim.Stop(), 0);
}

TEST(ReceiverSimNmea, RateControlTurnsSentencesOffAndQueriesOnce) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start(Args({})));
  sim.ReadUntilSentence("GPRMC", 3000);
  sim.Write(NmeaSentence("PSRF103,3,0,0,1"));  // GSV off
  sim.Write(NmeaSentence("PSRF103,2,0,1,0"));  // GSA without checksum
  sim.Write(NmeaSentence("PSRF103,8,0,1,1"));  // ZDA on
  sim.ReadUntilSentence("GPRMC", 2000);
  Bytes b = sim.ReadUntil([](const Bytes& got) { return CountId(GoodSentences(got), "GPRMC") >= 1; },
                          2000);
  auto good = GoodSentences(b);
  EXPECT_EQ(CountId(good, "GPGSV"), 0);
  EXPECT_EQ(CountId(good, "GPZDA"), 1);
  EXPECT_EQ(CountId(good, "GPGSA"), 0);
  int plainGsa = 0;
  for (auto& s : Sentences(b)) plainGsa += s.id() == "GPGSA" && !s.hasChecksum && s.crlf;
  EXPECT_EQ(plainGsa, 1);
  sim.Write(NmeaSentence("PSRF103,3,1,0,1"));  // query GSV once
  b = sim.ReadUntilSentence("GPGSV", 800);
  EXPECT_GE(CountId(GoodSentences(b), "GPGSV"), 1);
}

TEST(ReceiverSimScenario, OneVersionAnswersOnlyTheFirstRequest) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start(Args({"--scenario", "one-version"})));
  sim.ReadUntilSentence("GPGGA", 3000);
  sim.Write(kVersionRequest2);
  Bytes b = sim.ReadUntilSentence("PXVRSWV", 1500);
  EXPECT_EQ(SwvSentences(b), (std::vector<std::string>{"PXVRSWV,2,GSW2-2.05.024-C1Prod1.1"}));
  sim.Write(kVersionRequest1);
  b = sim.ReadFor(1500);
  EXPECT_TRUE(SwvSentences(b).empty());
  EXPECT_TRUE(HasNmea(b));
}

TEST(ReceiverSimScenario, SilentSaysNothingWhateverItHears) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start(Args({"--scenario", "silent"})));
  Bytes b = sim.ReadFor(1300);
  sim.Write(kVersionRequest2);
  sim.Write(kSwitchToBinary);
  sim.Write(kPollVersion);
  Bytes after = sim.ReadFor(1300);
  EXPECT_TRUE(b.empty());
  EXPECT_TRUE(after.empty());
  EXPECT_EQ(sim.Stop(), 0);
}

TEST(ReceiverSimScenario, NmeaWithoutVersionGoesThroughTheBinaryLegAndBack) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start(Args({"--scenario", "nmea-no-version", "--base-version", "GSW2 base",
                              "--maker-version", "Dovrin firmware 3"})));
  sim.ReadUntilSentence("GPGGA", 3000);
  sim.Write(kVersionRequest2);
  Bytes b = sim.ReadFor(1200);
  EXPECT_TRUE(SwvSentences(b).empty());

  b = SwitchToBinary(sim);
  ASSERT_FALSE(Frames(b).empty());
  // Once binary has begun, no sentence follows.
  b = sim.ReadUntilMessage(4, 2500);
  EXPECT_TRUE(GoodSentences(b).empty());
  auto frames = Frames(b);
  for (auto& f : frames) {
    if (f[0] == 2) {
      EXPECT_EQ(f.size(), 41u);
    }
    if (f[0] == 4) {
      EXPECT_EQ(f.size(), 188u);
    }
  }
  EXPECT_GE(CountMessage(frames, 2), 1);

  sim.Write(kPollVersion);
  b = sim.ReadUntil([](const Bytes& got) { return VersionTexts(got).size() >= 2; }, 1500);
  EXPECT_EQ(VersionTexts(b), (std::vector<std::string>{"GSW2 base", "Dovrin firmware 3"}));

  sim.Write(kSwitchToNmea);
  // The first cycle after the switch carries every sentence that is on.
  b = sim.ReadUntilSentence("GPRMC", 2500);
  ASSERT_TRUE(HasNmea(b));
  EXPECT_EQ(CountId(GoodSentences(b), "GPGSA"), 1);
  // Then GGA and RMC every 2 s, GSA and GSV every 4 s: up to the next GSA
  // come two GGA and one RMC, about 4 s later.
  auto started = Clock::now();
  b = sim.ReadUntilSentence("GPGSA", 5000);
  double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  EXPECT_GT(seconds, 3.3);
  EXPECT_LT(seconds, 4.8);
  auto good = GoodSentences(b);
  EXPECT_EQ(CountId(good, "GPGGA"), 2);
  EXPECT_EQ(CountId(good, "GPRMC"), 1);
  EXPECT_EQ(CountId(good, "GPGSA"), 1);
  EXPECT_TRUE(Frames(b).empty());
  EXPECT_EQ(sim.Stop(), 0);
}

TEST(ReceiverSimScenario, BinaryStartSendsFramesFromTheBeginning) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start(Args({"--scenario", "binary-start"})));
  Bytes b = sim.ReadUntilMessage(4, 2500, 2);
  EXPECT_TRUE(GoodSentences(b).empty());
  EXPECT_GE(CountMessage(Frames(b), 2), 1);
  sim.Write(kVersionRequest2);  // an NMEA request means nothing in binary
  sim.Write(kPollVersion);
  b = sim.ReadUntil([](const Bytes& got) { return VersionTexts(got).size() >= 2; }, 1500);
  EXPECT_EQ(VersionTexts(b),
            (std::vector<std::string>{"GSW2-2.05.024-C1Prod1.1", "Dovrin GPS Sleeve 1.04"}));
  EXPECT_TRUE(SwvSentences(b).empty());
  sim.Write(kSwitchToNmea);
  EXPECT_TRUE(HasNmea(sim.ReadUntilSentence("GPGGA", 2500)));
}

TEST(ReceiverSimScenario, NoBinaryKeepsSendingNmeaAfterTheSwitch) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start(Args({"--scenario", "no-binary"})));
  sim.ReadUntilSentence("GPGGA", 3000);
  sim.Write(kSwitchToBinary);
  Bytes b = sim.ReadFor(2200);
  EXPECT_TRUE(Frames(b).empty());
  EXPECT_GE(CountId(GoodSentences(b), "GPGGA"), 2);
  sim.Write(kPollVersion);
  sim.Write(kSwitchToNmea);
  b = sim.ReadFor(1200);
  EXPECT_TRUE(Frames(b).empty());
  EXPECT_TRUE(HasNmea(b));
}

TEST(ReceiverSimScenario, BinaryMuteSaysNothingUntilSwitchedBack) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start(Args({"--scenario", "binary-mute"})));
  sim.ReadUntilSentence("GPRMC", 3000);
  sim.Write(kSwitchToBinary);
  sim.ReadFor(300);  // what was on its way
  sim.Write(kPollVersion);
  Bytes b = sim.ReadFor(1800);
  EXPECT_TRUE(b.empty()) << b.size() << " bytes";
  sim.Write(kSwitchToNmea);
  EXPECT_TRUE(HasNmea(sim.ReadUntilSentence("GPGGA", 2500)));
}

TEST(ReceiverSimScenario, NoRestoreFallsSilentAfterTheSwitchBack) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start(Args({"--scenario", "no-restore"})));
  sim.ReadUntilSentence("GPGGA", 3000);
  ASSERT_FALSE(Frames(SwitchToBinary(sim)).empty());
  sim.Write(kPollVersion);
  Bytes b = sim.ReadUntil([](const Bytes& got) { return VersionTexts(got).size() >= 2; }, 1500);
  EXPECT_EQ(VersionTexts(b).size(), 2u);
  sim.Write(kSwitchToNmea);
  sim.ReadFor(300);
  b = sim.ReadFor(2200);
  EXPECT_TRUE(b.empty()) << b.size() << " bytes";
}

TEST(ReceiverSimScenario, BaseOnlyMakerOnlyAndNoVersionAnswerThePollAccordingly) {
  struct Case {
    const char* scenario;
    std::vector<std::string> texts;
  } cases[] = {
      {"base-only", {"GSW2-2.05.024-C1Prod1.1"}},
      {"maker-only", {"Dovrin GPS Sleeve 1.04"}},
      {"binary-no-version", {}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.scenario);
    SimProcess sim;
    // Starting in binary keeps each case short; the scenario's answers are
    // the same after a switch.
    ASSERT_TRUE(sim.Start(Args({"--scenario", c.scenario, "--start", "binary"})));
    sim.ReadUntilMessage(2, 2500);
    sim.Write(kPollVersion);
    Bytes b = sim.ReadUntilMessage(4, 2500);  // a whole cycle after the poll
    EXPECT_EQ(VersionTexts(b), c.texts);
    EXPECT_GE(CountMessage(Frames(b), 2), 0);
  }
}

TEST(ReceiverSimBinary, AnswersPollsAndAcknowledgesSets) {
  SimProcess sim;
  // EGM96 has the geoid 17.2 m above the ellipsoid at 0 N 0 E.
  ASSERT_TRUE(sim.Start(Args({"--start", "binary", "--lat", "0", "--lon", "0", "--alt",
                              "-17.2"})));
  sim.ReadUntilMessage(2, 2500);
  sim.Write(SirfFrame({0x98, 0x00}));        // navigation parameters
  sim.Write(SirfFrame({0xA8, 0x80}));        // command parameters of 128
  sim.Write(SirfFrame({0xA8, 0x88}));        // command parameters of 136
  sim.Write(SirfFrame({0x8F, 0x01}));        // static navigation on
  Bytes b = sim.ReadUntilMessage(11, 1500);
  auto frames = Frames(b);
  Bytes nav, init, mode, ack;
  for (auto& f : frames) {
    if (f[0] == 19) nav = f;
    if (f[0] == 43 && f[1] == 0x80) init = f;
    if (f[0] == 43 && f[1] == 0x88) mode = f;
    if (f[0] == 11) ack = f;
  }
  ASSERT_EQ(nav.size(), 65u);
  EXPECT_EQ(nav[13], 0);
  ASSERT_EQ(init.size(), 26u);
  // On the equator at the prime meridian, on the ellipsoid: x = a.
  int32_t x = static_cast<int32_t>(init[2] << 24 | init[3] << 16 | init[4] << 8 | init[5]);
  EXPECT_NEAR(x, 6378137, 1);
  EXPECT_EQ(init[24], 12);  // channels
  ASSERT_EQ(mode.size(), 15u);
  EXPECT_EQ(ack, (Bytes{11, 0x8F}));

  sim.Write(SirfFrame({0x98, 0x00}));
  b = sim.ReadUntilMessage(19, 1500);
  for (auto& f : Frames(b)) {
    if (f[0] == 19) {
      EXPECT_EQ(f[13], 1) << "static navigation set by message 143";
    }
  }

  // Message rate: 4 off; an unknown message is refused.
  sim.Write(SirfFrame({0xA6, 0x00, 0x04, 0x00, 0, 0, 0, 0}));
  sim.Write(SirfFrame({0xB5, 0x01}));
  b = sim.ReadUntilMessage(12, 1500);
  auto acks = Frames(b);
  bool rateAck = false, refused = false;
  for (auto& f : acks) {
    rateAck |= f == Bytes{11, 0xA6};
    refused |= f == Bytes{12, 0xB5};
  }
  EXPECT_TRUE(rateAck);
  EXPECT_TRUE(refused);
  b = sim.ReadFor(2100);
  EXPECT_EQ(CountMessage(Frames(b), 4), 0);
  EXPECT_GE(CountMessage(Frames(b), 2), 2);

  // A frame with a wrong checksum is not acted upon.
  Bytes broken = SirfFrame({0x84, 0x00});
  broken[7] ^= 1;
  sim.Write(broken);
  b = sim.ReadFor(600);
  EXPECT_TRUE(VersionTexts(b).empty());
}

TEST(ReceiverSimScenario, RefuseSetsAnswersWithNegativeAcknowledgment) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start(Args({"--scenario", "refuse-sets", "--start", "binary"})));
  sim.ReadUntilMessage(2, 2500);
  sim.Write(SirfFrame({0x8F, 0x01}));
  Bytes b = sim.ReadUntilMessage(12, 1500);
  bool refused = false;
  for (auto& f : Frames(b)) refused |= f == Bytes{12, 0x8F};
  EXPECT_TRUE(refused);
  EXPECT_EQ(CountMessage(Frames(b), 11), 0);
}

TEST(ReceiverSimScenario, NoiseCorruptsButTheVersionAnswersStillComeThrough) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start(Args({"--scenario", "noise", "--seed", "7"})));
  Bytes b = sim.ReadUntil([](const Bytes& got) { return CountId(GoodSentences(got), "GPRMC") +
                                                            CountId(GoodSentences(got), "GPGGA") >= 3; },
                          4000);
  int bad = 0;
  for (auto& s : Sentences(b)) bad += !(s.hasChecksum && s.checksumOk);
  EXPECT_GE(bad, 1);
  sim.Write(kVersionRequest2);
  b = sim.ReadUntilSentence("PXVRSWV", 1500);
  EXPECT_EQ(SwvSentences(b), (std::vector<std::string>{"PXVRSWV,2,GSW2-2.05.024-C1Prod1.1"}));
  int badSwv = 0;
  for (auto& s : Sentences(b)) badSwv += s.id() == "PXVRSWV" && !s.checksumOk;
  EXPECT_EQ(badSwv, 1);
}

TEST(ReceiverSimScenario, NoiseBinaryCorruptsFramesButDeliversBothVersions) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start(Args({"--scenario", "noise-binary", "--start", "binary"})));
  Bytes b = sim.ReadUntilMessage(2, 3000, 2);
  int bad = 0;
  Frames(b, &bad);
  sim.Write(kPollVersion);
  Bytes v = sim.ReadUntil([](const Bytes& got) { return VersionTexts(got).size() >= 2; }, 1500);
  Frames(v, &bad);
  EXPECT_GE(bad, 2);
  EXPECT_EQ(VersionTexts(v).size(), 2u);
}

TEST(ReceiverSimLine, LinkPointsToThePortAndGoesAwayOnExit) {
  std::string link = ::testing::TempDir() + "receiver-sim-link-" + std::to_string(getpid());
  SimProcess sim;
  ASSERT_TRUE(sim.Launch(Args({"--link", link})));
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), sim.path());
  EXPECT_EQ(sim.Stop(SIGINT), 0);
  struct stat st{};
  EXPECT_NE(lstat(link.c_str(), &st), 0);
}

TEST(ReceiverSimLine, EndsByItselfAfterItsSecondsAndRejectsBadOptions) {
  SimProcess timed;
  ASSERT_TRUE(timed.Launch({"--seconds", "0.5"}));
  EXPECT_EQ(timed.Wait(2000), 0);

  for (std::vector<std::string> bad :
       {std::vector<std::string>{"--scenario", "nonesuch"}, {"--baud", "1234"}, {"--lat", "x"},
        {"--satellites", "1:2:3"}, {"--nmea-version1", "a,b"}, {"--frobnicate"}}) {
    SimProcess sim;
    EXPECT_FALSE(sim.Launch(bad));
    EXPECT_EQ(sim.Wait(2000), 2);
  }
}

TEST(ReceiverSimLine, RefusesInOneLineWhatItCannotDoAndNamesTheFile) {
  const std::string folder = ::testing::TempDir();
  const std::string empty = folder + "receiver-sim-empty-" + std::to_string(getpid());
  std::fclose(std::fopen(empty.c_str(), "w"));
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string says;
  };
  const Case kCases[] = {
      {{"--replay", folder}, 1, folder},
      {{"--seconds", "1e10"}, 2, "--seconds"},
      {{"--time", "2026-02-30T12:00:00"}, 2, "--time"},
      {{"--device", empty}, 1, empty + ": not a terminal"},
  };
  for (const Case& c : kCases) {
    testsupport::Outcome run = testsupport::Run(RECEIVER_SIM_PATH, c.args, 5000);
    EXPECT_EQ(run.status, c.status) << c.args[0];
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
  // An empty capture is only warned about.
  testsupport::Outcome run = testsupport::Run(RECEIVER_SIM_PATH, {"--replay", empty, "--seconds", "0.2"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.err.find(empty + ": nothing to replay"), std::string::npos) << run.err;
  std::remove(empty.c_str());
}

// A receiver started at another rate is heard only at that rate, and each
// command that names a rate moves it there; until the other side follows,
// what it sends is garbage.
TEST(ReceiverSimLine, RateIsTheReceiversOwnAndMovesWithItsCommands) {
  struct Case {
    std::vector<std::string> args;
    speed_t first;
    bool firstBinary;
    Bytes command;
    speed_t then;
    bool thenBinary;
  };
  const Case kCases[] = {
      {{"--baud", "4800"}, B4800, false, ToBytes(NmeaSentence("PSRF100,1,57600,8,1,0")), B57600,
       false},
      {{"--baud", "9600"}, B9600, false, ToBytes(NmeaSentence("PSRF100,0,38400,8,1,0")), B38400,
       true},
      {{"--baud", "38400", "--start", "binary"}, B38400, true, kSwitchToNmea, B57600, false},
  };
  auto heard = [](bool binary) {
    return [binary](const Bytes& b) { return binary ? !Frames(b).empty() : HasNmea(b); };
  };
  // The receiver's UART at a rate we no longer use: a run of bytes with
  // the high bit set, which neither protocol's output ever has.
  auto garbage = [](const Bytes& b) {
    int run = 0;
    for (uint8_t c : b)
      if ((run = c & 0x80 ? run + 1 : 0) >= 48) return true;
    return false;
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.args[1]);
    SimProcess sim;
    ASSERT_TRUE(sim.Start(Args(c.args)));
    EXPECT_FALSE(heard(c.firstBinary)(sim.ReadFor(1500)));
    SetSpeed(sim.fd(), c.first);
    ASSERT_TRUE(heard(c.firstBinary)(sim.ReadUntil(heard(c.firstBinary), 3000)));
    sim.Write(c.command);
    EXPECT_TRUE(garbage(sim.ReadUntil(garbage, 4000)));
    SetSpeed(sim.fd(), c.then);
    EXPECT_TRUE(heard(c.thenBinary)(sim.ReadUntil(heard(c.thenBinary), 4000)));
  }
}

TEST(ReceiverSimLine, RunsOnAGivenSerialDevice) {
  // A pseudo-terminal's slave stands in for a real tty; this side plays the
  // viewer on its master.
  int master = -1;
  int slave = -1;
  char name[256] = {};
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  SimProcess sim;
  ASSERT_TRUE(sim.Launch(Args({"--device", name})));
  EXPECT_EQ(sim.path(), name);
  termios t{};
  ASSERT_EQ(tcgetattr(slave, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B57600);
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_lflag & ICANON, 0u);

  auto readFor = [&](int ms, const std::string& until) {
    Bytes got;
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 20) > 0) {
        uint8_t buffer[512];
        ssize_t n = read(master, buffer, sizeof buffer);
        if (n > 0) got.insert(got.end(), buffer, buffer + n);
        if (CountId(GoodSentences(got), until) > 0) break;
      }
    }
    return got;
  };
  EXPECT_GE(CountId(GoodSentences(readFor(2500, "GPRMC")), "GPRMC"), 1);
  ASSERT_EQ(write(master, kVersionRequest2.data(), kVersionRequest2.size()),
            static_cast<ssize_t>(kVersionRequest2.size()));
  EXPECT_EQ(SwvSentences(readFor(1500, "PXVRSWV")).size(), 1u);
  EXPECT_EQ(sim.Stop(), 0);
  close(master);
  close(slave);
}

TEST(ReceiverSimLine, HelpNamesEveryOptionAndScenario) {
  testsupport::Outcome help = testsupport::Run(RECEIVER_SIM_PATH, {"--help"});
  const std::string& text = help.out;
  EXPECT_EQ(help.status, 0);
  for (const char* word :
       {"--link", "--device", "--baud", "--any-line-settings", "--seconds", "--verbose", "--help",
        "--scenario", "--start", "--version-answers", "--binary-versions", "--noise",
        "--refuse-sets", "--nmea-version2", "--nmea-version1", "--base-version",
        "--maker-version", "--seed", "--lat", "--lon", "--alt", "--time", "--speed", "--course", "--burst",
        "--fix", "--satellites", "--replay", "--loop", "normal", "silent", "nmea-no-version",
        "one-version", "binary-start", "no-binary", "binary-mute", "no-restore", "base-only",
        "maker-only", "binary-no-version", "noise-binary", "refuse-sets"}) {
    EXPECT_NE(text.find(word), std::string::npos) << word;
  }
}

TEST(ReceiverSimNmea, NoFixReportsEmptyPositionsAndNoSatellitesInUse) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start(Args({"--fix", "none", "--satellites", "none"})));
  Bytes b = sim.ReadUntil([](const Bytes& got) { return CountId(GoodSentences(got), "GPRMC") >= 2; },
                          4000);
  for (auto& s : GoodSentences(b)) {
    if (s.id() == "GPGSV") {
      EXPECT_EQ(s.body, "GPGSV,1,1,00");
    } else if (s.id() == "GPGSA") {
      EXPECT_EQ(s.body, "GPGSA,A,1,,,,,,,,,,,,,,,");
    } else if (s.id() == "GPRMC") {
      EXPECT_EQ(s.body.substr(16), ",V,,,,,,,140326,,");
    } else if (s.id() == "GPGGA") {
      EXPECT_EQ(s.body.substr(16), ",,,,,0,00,,,M,0.0,M,,0000");
    }
  }
}
