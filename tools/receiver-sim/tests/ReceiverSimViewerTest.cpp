// The simulator heard through the viewer's own serial session, sentence
// reader and binary reader, on a COM port of a temporary handheld whose host
// device is the simulator's pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "BinaryReader.h"
#include "NmeaReader.h"
#include "ReceiverSimHarness.h"
#include "SerialSession.h"
#include "testing/TempDevice.h"

using handheld::testing::TempDevice;
using simtest::Args;
using simtest::SimProcess;

namespace {

void Sleep5() { std::this_thread::sleep_for(std::chrono::milliseconds(5)); }

std::string Narrow(const WCHAR* text) {
  std::string out;
  for (; *text; ++text) out.push_back(static_cast<char>(*text));
  return out;
}

class ReceiverSimViewer : public ::testing::Test {
 protected:
  void Start(const std::vector<std::string>& args) {
    ASSERT_TRUE(sim.Launch(Args(args)));
    device.AddSerialPort(u"COM3:", sim.path());
    session = std::make_unique<SerialSession>(u"COM3:", 57600);
    nmea = std::make_unique<NmeaReader>(session.get());
    ASSERT_TRUE(session->Reopen());
  }

  void TearDown() override {
    nmea.reset();
    binary.reset();
    if (session) session->Close();
    session.reset();
    EXPECT_EQ(sim.Stop(), 0);
  }

  // Reads and decodes sentences for up to `ms`, until `done` holds.
  template <typename Done>
  bool PumpSentences(int ms, Done done, int* rejected = nullptr, int* accepted = nullptr) {
    auto end = simtest::Clock::now() + std::chrono::milliseconds(ms);
    char buffer[NmeaReader::kSentenceBufferSize];
    while (simtest::Clock::now() < end) {
      WORD length = 0;
      if (!nmea->HasSentence()) {
        if (done()) return true;
        Sleep5();
        continue;
      }
      if (nmea->ReadSentence(buffer, length)) {
        nmea->DecodeSentence(buffer);
        if (accepted) ++*accepted;
      } else if (rejected) {
        ++*rejected;
      }
      if (done()) return true;
    }
    return done();
  }

  // Reads and dispatches frames for up to `ms`, until `done` holds.
  template <typename Done>
  bool PumpFrames(int ms, Done done, int* navDataFrames = nullptr) {
    auto end = simtest::Clock::now() + std::chrono::milliseconds(ms);
    BYTE buffer[BinaryReader::kSlotBytes];
    while (simtest::Clock::now() < end) {
      if (!binary->HasFrame()) {
        if (done()) return true;
        Sleep5();
        continue;
      }
      WORD count = 0;
      if (binary->ReadFrame(buffer, count)) {
        binary->DispatchFrame(buffer, count);
        if (navDataFrames && count > 4 && buffer[4] == 2) ++*navDataFrames;
      }
      if (done()) return true;
    }
    return done();
  }

  // The switch to binary as the version query makes it.
  void SwitchToBinary() {
    ASSERT_TRUE(nmea->SendSwitchToBinary(57600));
    nmea.reset();
    binary = std::make_unique<BinaryReader>(session.get());
  }

  void SwitchBackToNmea() {
    ASSERT_TRUE(binary->SwitchToNmea(57600));
    binary.reset();
    nmea = std::make_unique<NmeaReader>(session.get());
  }

  SimProcess sim;
  TempDevice device;
  std::unique_ptr<SerialSession> session;
  std::unique_ptr<NmeaReader> nmea;
  std::unique_ptr<BinaryReader> binary;
};

}  // namespace

TEST_F(ReceiverSimViewer, SentencesPassTheReaderAndDecodeIntoTheRecords) {
  Start({"--lat", "-33.8568", "--lon", "151.2153", "--satellites",
         "1:10:20:30,2:11:21:31,3:12:22:32,4:13:23:33,5:14:24:34,6:15:25:35,7:16:26:36,"
         "8:17:27:37,9:18:28:0",
         "--nmea-version2", "GSW2 base 9", "--nmea-version1", "Dovrin sleeve 5"});
  int rejected = 0;
  int accepted = 0;
  // Two RMC sentences: at least the first cycle's RMC and a whole second
  // cycle of six (GGA, GSA, three GSV, RMC), however late in the first cycle
  // the port opened; only a sentence cut by the opening may fail.
  ASSERT_TRUE(PumpSentences(4000, [&] { return nmea->Rmc().count >= 2; }, &rejected, &accepted));
  EXPECT_LE(rejected, 1);
  EXPECT_GE(accepted, 7);

  EXPECT_GE(nmea->Gga().utcTime, 92653);
  EXPECT_LT(nmea->Gga().utcTime, 92700);
  EXPECT_EQ(nmea->Gsa().fixMode, '3');
  EXPECT_EQ(nmea->Gsa().usedPrn[7], 8);
  EXPECT_EQ(nmea->Gsa().usedPrn[8], 0);
  EXPECT_EQ(nmea->Gsv().inView, 9);
  EXPECT_EQ(nmea->Gsv().channels[8].prn, 9);
  EXPECT_EQ(nmea->Gsv().channels[8].snr, 0);
  EXPECT_EQ(nmea->Gsv().channels[3].azimuth, 23);
  EXPECT_EQ(nmea->Gsv().channels[9].prn, -1);
  EXPECT_EQ(nmea->Rmc().status, 'A');
  EXPECT_STREQ(nmea->Rmc().latitude, "3351.4080");
  EXPECT_EQ(nmea->Rmc().latHemisphere, 'S');
  EXPECT_STREQ(nmea->Rmc().longitude, "15112.9180");
  EXPECT_EQ(nmea->Rmc().lonHemisphere, 'E');
  EXPECT_STREQ(nmea->Rmc().date, "140326");

  ASSERT_TRUE(nmea->SendVersionRequest(2));
  ASSERT_TRUE(PumpSentences(2000, [&] { return nmea->Swv().count == 1; }));
  EXPECT_EQ(nmea->Swv().number, 2);
  EXPECT_STREQ(nmea->Swv().version, "GSW2 base 9");
  ASSERT_TRUE(nmea->SendVersionRequest(1));
  ASSERT_TRUE(PumpSentences(2000, [&] { return nmea->Swv().count == 2; }));
  EXPECT_EQ(nmea->Swv().number, 1);
  EXPECT_STREQ(nmea->Swv().version, "Dovrin sleeve 5");
}

TEST_F(ReceiverSimViewer, NoiseIsRejectedAndTheVersionAnswerStillDecodes) {
  Start({"--scenario", "noise", "--seed", "3"});
  int rejected = 0;
  int accepted = 0;
  ASSERT_TRUE(PumpSentences(4000, [&] { return nmea->Rmc().count + nmea->Gga().count >= 3; },
                            &rejected, &accepted));
  EXPECT_GE(rejected, 1);
  ASSERT_TRUE(nmea->SendVersionRequest(2));
  ASSERT_TRUE(PumpSentences(2000, [&] { return nmea->Swv().count >= 1; }));
  EXPECT_STREQ(nmea->Swv().version, "GSW2-2.05.024-C1Prod1.1");
  // The corrupted copy before it was not taken for a version.
  PumpSentences(300, [] { return false; });
  EXPECT_EQ(nmea->Swv().count, 1);
}

TEST_F(ReceiverSimViewer, BinaryLegDecodesPollsAndAcknowledgmentsThenNmeaReturns) {
  // On the ellipsoid: EGM96 has the geoid 17.2 m above it at 0 N 0 E.
  Start({"--scenario", "nmea-no-version", "--lat", "0", "--lon", "0", "--alt", "-17.2",
         "--base-version", "GSW2 base", "--maker-version", "Dovrin 7"});
  ASSERT_TRUE(PumpSentences(3000, [&] { return nmea->Gga().count >= 1; }));
  ASSERT_TRUE(nmea->SendVersionRequest(2));
  EXPECT_FALSE(PumpSentences(1200, [&] { return nmea->Swv().count > 0; }));

  SwitchToBinary();
  int navData = 0;
  ASSERT_TRUE(PumpFrames(3000, [&] { return navData >= 1; }, &navData));
  EXPECT_NEAR(binary->NavData.x, 6378137, 1);
  EXPECT_NEAR(binary->NavData.y, 0, 1);
  EXPECT_NEAR(binary->NavData.z, 0, 1);
  EXPECT_EQ(binary->NavData.satellitesInFix, 7);

  binary->HasBaseVersion = false;
  binary->HasMakerVersion = false;
  ASSERT_TRUE(binary->PollSoftwareVersion());
  ASSERT_TRUE(PumpFrames(2000, [&] { return binary->HasBaseVersion && binary->HasMakerVersion; }));
  EXPECT_EQ(Narrow(binary->BaseVersion), "GSW2 base");
  EXPECT_EQ(Narrow(binary->MakerVersion), "Dovrin 7");

  ASSERT_TRUE(binary->PollNavParams());
  ASSERT_TRUE(PumpFrames(2000, [&] { return binary->HasNavParams; }));
  ASSERT_TRUE(binary->PollInitParams());
  ASSERT_TRUE(PumpFrames(2000, [&] { return binary->InitParams.messageId == 0x80; }));
  EXPECT_TRUE(binary->HasCommandParams);
  EXPECT_NEAR(binary->InitParams.x, 6378137, 1);
  EXPECT_EQ(binary->InitParams.channelCount, 12);

  EXPECT_TRUE(binary->SetStaticNavigation(1));
  EXPECT_TRUE(binary->SetMessageRate(4, 1));

  SwitchBackToNmea();
  EXPECT_TRUE(PumpSentences(3000, [&] { return nmea->Gga().count >= 1; }));
}

TEST_F(ReceiverSimViewer, RefusedSetIsANegativeAnswerNotATimeOut) {
  Start({"--scenario", "refuse-sets", "--start", "binary"});
  nmea.reset();
  binary = std::make_unique<BinaryReader>(session.get());
  int navData = 0;
  ASSERT_TRUE(PumpFrames(3000, [&] { return navData >= 1; }, &navData));
  auto started = simtest::Clock::now();
  EXPECT_FALSE(binary->SetStaticNavigation(1));
  EXPECT_LT(std::chrono::duration<double>(simtest::Clock::now() - started).count(), 2.0);
}

TEST_F(ReceiverSimViewer, NoRestoreLeavesTheNewSentenceReaderWithoutSentences) {
  Start({"--scenario", "no-restore", "--start", "binary"});
  nmea.reset();
  binary = std::make_unique<BinaryReader>(session.get());
  int navData = 0;
  ASSERT_TRUE(PumpFrames(3000, [&] { return navData >= 1; }, &navData));
  SwitchBackToNmea();
  EXPECT_FALSE(PumpSentences(2500, [&] { return nmea->Gga().count > 0 || nmea->Rmc().count > 0; }));
}
