// Real receiver captures replayed through the sentence reader and the
// decoders. The captures store lines with LF alone; a receiver sends CR LF,
// so each text line gets its CR back here, and comment lines are skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "NmeaReader.h"
#include "NmeaTestFeed.h"
#include "SerialSession.h"

using nmea_test::Feed;

namespace {

std::filesystem::path CaptureFolder() {
  return std::filesystem::path(TESTDATA_DIR) / "gpsd-logs";
}

// The capture's sentence lines, each ending in CR LF.
std::vector<std::string> CaptureLines(const std::string& name) {
  std::ifstream in(CaptureFolder() / name, std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    lines.push_back(line + "\r\n");
  }
  return lines;
}

struct Replay {
  int accepted = 0;
  int rejected = 0;
  std::map<std::string, int> rmcStatus;  // status character -> sentences
  std::vector<std::string> latitudes;
  char lastLatHemisphere = 0;
  char lastLonHemisphere = 0;
  int maxFixMode = 0;
  int maxSatellites = 0;
};

// Feeds the lines and takes each sentence as soon as it completes.
Replay ReplayLines(NmeaReader& reader, const std::vector<std::string>& lines) {
  Replay result;
  char buffer[NmeaReader::kSentenceBufferSize];
  WORD length = 0;
  for (const std::string& line : lines) {
    Feed(reader, line);
    while (reader.HasSentence()) {
      if (!reader.ReadSentence(buffer, length)) {
        ++result.rejected;
        continue;
      }
      ++result.accepted;
      const WORD rmcBefore = reader.Rmc().count;
      reader.DecodeSentence(buffer);
      if (reader.Rmc().count != rmcBefore) {
        result.rmcStatus[std::string(1, reader.Rmc().status)]++;
        result.latitudes.push_back(reader.Rmc().latitude);
        result.lastLatHemisphere = reader.Rmc().latHemisphere;
        result.lastLonHemisphere = reader.Rmc().lonHemisphere;
      }
      if (reader.Gsa().fixMode >= '1' && reader.Gsa().fixMode <= '3') {
        result.maxFixMode = std::max(result.maxFixMode, reader.Gsa().fixMode - '0');
      }
      int tracked = 0;
      for (const SatelliteRow& row : reader.Gsv().channels) tracked += row.prn > 0 ? 1 : 0;
      result.maxSatellites = std::max(result.maxSatellites, tracked);
    }
  }
  return result;
}

class NmeaCaptureReplay : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(CaptureFolder())) << "no captures at " << CaptureFolder();
  }
  SerialSession session{u"COM9:", 57600};
  NmeaReader reader{&session};
};

TEST_F(NmeaCaptureReplay, HaicomSouthEastFixIsAcceptedWhole) {
  Replay r = ReplayLines(reader, CaptureLines("haicom-305N.log"));
  EXPECT_EQ(325, r.accepted);
  EXPECT_EQ(0, r.rejected);
  EXPECT_EQ(68, r.rmcStatus["A"]);
  EXPECT_EQ('S', r.lastLatHemisphere);
  EXPECT_EQ('E', r.lastLonHemisphere);
  EXPECT_EQ(3, r.maxFixMode);
}

TEST_F(NmeaCaptureReplay, Bu353SouthEastFix) {
  Replay r = ReplayLines(reader, CaptureLines("bu353s4.log"));
  EXPECT_EQ(90, r.accepted);
  EXPECT_EQ(0, r.rejected);
  ASSERT_FALSE(r.latitudes.empty());
  EXPECT_EQ("3747.0873", r.latitudes.front());
  EXPECT_EQ('S', r.lastLatHemisphere);
  EXPECT_EQ('E', r.lastLonHemisphere);
  const BYTE* used = reader.Gsa().usedPrn;
  // The last GSA: "$GPGSA,A,3,17,28,06,01,30,20,26,,,,,,1.9,1.1,1.6*33".
  EXPECT_EQ(7, std::count_if(used, used + 12, [](BYTE prn) { return prn != 0; }));
  EXPECT_EQ(17, used[0]);
  EXPECT_STREQ("1.9", reader.Gsa().pdop);
  EXPECT_STREQ("1.6", reader.Gsa().vdop);
  EXPECT_EQ(12, reader.Gsv().inView);
}

TEST_F(NmeaCaptureReplay, TritonLosesOnlyTheSentenceRunIntoTheNext) {
  Replay r = ReplayLines(reader, CaptureLines("triton400.log"));
  EXPECT_EQ(27, r.accepted);
  EXPECT_EQ(1, r.rejected);
  EXPECT_EQ('W', r.lastLonHemisphere);
  EXPECT_EQ(11, reader.Gsv().inView);
}

TEST_F(NmeaCaptureReplay, BlumaxBannerAndNoFixThenFix) {
  Replay r = ReplayLines(reader, CaptureLines("blumax-gps009.log"));
  EXPECT_EQ(67, r.accepted);
  EXPECT_EQ(0, r.rejected);
  EXPECT_GT(r.rmcStatus["V"], 0);
  EXPECT_GT(r.rmcStatus["A"], 0);
  EXPECT_EQ(3, r.maxFixMode);
}

TEST_F(NmeaCaptureReplay, Tn200NeverFixesAndKeepsItsBogusLatitude) {
  Replay r = ReplayLines(reader, CaptureLines("tn200-all.log"));
  EXPECT_EQ(66, r.accepted);
  EXPECT_EQ(0, r.rmcStatus["A"]);
  EXPECT_GT(r.rmcStatus["V"], 0);
  ASSERT_FALSE(r.latitudes.empty());
  EXPECT_EQ("36000.0000", r.latitudes.back());
}

// Nobody reads while a whole capture arrives: the first 14 sentences wait
// intact, the rest are dropped, and reading resumes normally afterwards.
TEST_F(NmeaCaptureReplay, UnreadCaptureKeepsItsFirstFourteenSentences) {
  const std::vector<std::string> lines = CaptureLines("haicom-305N.log");
  ASSERT_GT(lines.size(), 40u);
  for (const std::string& line : lines) Feed(reader, line);
  const auto taken = nmea_test::TakeAll(reader);
  ASSERT_EQ(14u, taken.size());
  for (size_t i = 0; i < taken.size(); ++i) {
    EXPECT_TRUE(taken[i].accepted) << i;
    EXPECT_EQ(lines[i], taken[i].text) << i;
  }
  Replay r = ReplayLines(reader, lines);
  EXPECT_EQ(325, r.accepted);
}

}  // namespace
