// The SiRF binary part of the capture decoder on real receiver captures and
// on hand-built frames of the messages no capture holds, and the program on
// a capture that mixes NMEA text and binary frames.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "CaptureFilter.h"
#include "ChildProcess.h"
#include "SirfCapture.h"
#include "WireFrames.h"

namespace {

const std::filesystem::path kCaptures = TESTDATA_DIR "/gpsd-logs";

using testsupport::Bytes;

using testsupport::SirfFrame;

Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Contains(const std::string& line, const std::string& part) { return line.find(part) != std::string::npos; }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// The number that follows "key": in a line, NaN when absent.
double Number(const std::string& line, const std::string& key) {
  const size_t at = line.find("\"" + key + "\":");
  if (at == std::string::npos) return std::nan("");
  return std::strtod(line.c_str() + at + key.size() + 3, nullptr);
}

// Distance in metres between two points on a sphere of the earth's size.
double Metres(double lat1, double lon1, double lat2, double lon2) {
  const double rad = M_PI / 180.0;
  const double dlat = (lat2 - lat1) * rad;
  const double dlon = (lon2 - lon1) * rad;
  const double h = std::sin(dlat / 2) * std::sin(dlat / 2) +
                   std::cos(lat1 * rad) * std::cos(lat2 * rad) * std::sin(dlon / 2) * std::sin(dlon / 2);
  return 2 * 6371000.0 * std::asin(std::sqrt(h));
}

// Decodes bytes as the program does: through the capture filter, every
// byte to the binary part.
struct Decoded {
  std::vector<std::string> lines;
  uint64_t frames = 0;
  uint64_t badFrames = 0;
};

Decoded Decode(const Bytes& input) {
  std::ostringstream out;
  Decoded result;
  {
    SirfCapture sirf(out);
    CaptureFilter filter([&sirf](uint8_t value, bool) { sirf.OnByte(value); });
    filter.Feed(input.data(), input.size());
    filter.Finish();
    result.frames = sirf.Frames();
    result.badFrames = sirf.BadFrames();
    JsonWriter json;
    json.BeginObject();
    sirf.AddSummary(json);
    json.EndObject();
    EXPECT_EQ(json.Line(), "{\"frames\":" + std::to_string(result.frames) +
                               ",\"badFrames\":" + std::to_string(result.badFrames) + "}");
  }
  result.lines = Lines(out.str());
  return result;
}

size_t CountOf(const std::vector<std::string>& lines, const std::string& part) {
  size_t n = 0;
  for (const std::string& line : lines) n += Contains(line, part) ? 1 : 0;
  return n;
}

class SirfCaptureFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(kCaptures)) << "no captures at " << kCaptures;
  }
};

TEST_F(SirfCaptureFiles, StillFixFramesAllPassAndThePositionIsInTheAlps) {
  const Decoded d = Decode(ReadFile(kCaptures / "bu303-stillfix.log"));
  EXPECT_EQ(d.frames, 64u);
  EXPECT_EQ(d.badFrames, 0u);
  EXPECT_EQ(d.lines.size(), 64u);
  EXPECT_EQ(CountOf(d.lines, "\"checksum\":true"), 64u);
  EXPECT_EQ(CountOf(d.lines, "\"record\":\"NavDataRecord\""), 11u);
  EXPECT_EQ(CountOf(d.lines, "\"record\":\"TrackerDataRecord\""), 11u);
  // Messages 9, 27, 41, 50 and 13 have no decoder: shown by their payload.
  EXPECT_EQ(CountOf(d.lines, "\"record\":null,\"payload\":\""), 64u - 22u);
  for (const std::string& line : d.lines) {
    if (!Contains(line, "\"mid\":2,")) continue;
    EXPECT_TRUE(Contains(line, "\"mode1\":4,")) << line;  // 3-D fix, more than 3 satellites
    EXPECT_TRUE(Contains(line, "\"satellitesInFix\":5,")) << line;
    const double lat = Number(line, "latitude");
    const double lon = Number(line, "longitude");
    EXPECT_LT(Metres(lat, lon, 46.498, 7.567), 100.0) << line;
    EXPECT_GT(Number(line, "height"), 0.0) << line;
    EXPECT_LT(Number(line, "height"), 4000.0) << line;
  }
}

TEST_F(SirfCaptureFiles, OtherBinaryCapturesDecodeWholly) {
  const Decoded nofix = Decode(ReadFile(kCaptures / "bu303b-nofix.log"));
  EXPECT_EQ(nofix.frames, 43u);
  EXPECT_EQ(nofix.badFrames, 0u);
  EXPECT_GT(CountOf(nofix.lines, "\"mid\":2,"), 0u);
  EXPECT_EQ(CountOf(nofix.lines, "\"record\":\"NavDataRecord\""), CountOf(nofix.lines, "\"mid\":2,"));
  for (const std::string& line : nofix.lines) {
    if (Contains(line, "\"mid\":2,")) {
      EXPECT_TRUE(Contains(line, "\"mode1\":0,")) << line;
    }
  }

  const Decoded five = Decode(ReadFile(kCaptures / "sirfstarv.log"));
  EXPECT_EQ(five.frames, 495u);
  EXPECT_EQ(five.badFrames, 0u);
  // This later receiver's messages 2 and 4 are longer (47 and 278 bytes)
  // than the ones the decoders know: they are shown by their payload only.
  EXPECT_EQ(CountOf(five.lines, "\"record\":\"NavDataRecord\""), 0u);
  EXPECT_EQ(CountOf(five.lines, "\"record\":\"TrackerDataRecord\""), 0u);
  EXPECT_EQ(CountOf(five.lines, "\"mid\":2,\"length\":47,\"bytes\":55,\"checksum\":true,\"record\":null,"
                                "\"payload\":\"02"),
            59u);
  EXPECT_EQ(CountOf(five.lines, "\"mid\":4,\"length\":278,"), 19u);

  // The NMEA captures hold no frames at all.
  EXPECT_EQ(Decode(ReadFile(kCaptures / "haicom-305N.log")).frames, 0u);
}

TEST(SirfCaptureFrames, HandBuiltMessagesNoCaptureHolds) {
  Bytes input;
  auto add = [&input](const Bytes& frame) { input.insert(input.end(), frame.begin(), frame.end()); };
  Bytes version = {0x06};
  for (char c : std::string("GSW2.3.2-\"q\"")) version.push_back(static_cast<uint8_t>(c));
  add(SirfFrame(version));
  Bytes maker = {0x06};
  for (char c : std::string("Dovrin 1.0")) maker.push_back(static_cast<uint8_t>(c));
  add(SirfFrame(maker));
  Bytes nav19(65, 0);
  nav19[0] = 19;
  nav19[5] = 1;                          // altitude hold mode
  nav19[7] = 0xFF, nav19[8] = 0x38;      // altitude source input -200
  nav19[35] = 0x00, nav19[38] = 0xC8;    // low-power on-time 200
  add(SirfFrame(nav19));
  add(SirfFrame({0x2B, 0x80, 0x00, 0x43, 0xA1, 0x5C, 0xFF, 0xFD, 0x2B, 0x10, 0x00, 0x48, 0x3E, 0x3F,
             0x00, 0x01, 0x5F, 0x90, 0x00, 0x97, 0xA9, 0xF4, 0x05, 0xB4, 0x0C, 0x04}));
  add(SirfFrame({0x2B, 0x88, 1, 2, 3, 4, 5, 0xFF, 0x9C, 6, 7, 8, 9, 10, 11}));
  add(SirfFrame({0x2B, 0x85, 1, 2}));        // another parameter id: not kept
  Bytes bad = SirfFrame({0x0B, 0x84});
  bad[bad.size() - 3] ^= 1;
  add(bad);
  add(SirfFrame({0x0B, 0x84}));              // an acknowledgment: not kept

  const Decoded d = Decode(input);
  ASSERT_EQ(d.lines.size(), 8u);
  EXPECT_EQ(d.frames, 8u);
  EXPECT_EQ(d.badFrames, 1u);
  EXPECT_EQ(d.lines[0],
            "{\"type\":\"sirf\",\"mid\":6,\"length\":13,\"bytes\":21,\"checksum\":true,"
            "\"record\":\"BaseVersion\",\"fields\":{\"BaseVersion\":\"GSW2.3.2-\\\"q\\\"\","
            "\"HasBaseVersion\":true}}");
  EXPECT_TRUE(Contains(d.lines[1], "\"record\":\"MakerVersion\",\"fields\":{\"MakerVersion\":\"Dovrin 1.0\""))
      << d.lines[1];
  EXPECT_TRUE(Contains(d.lines[2], "\"mid\":19,\"length\":65,")) << d.lines[2];
  EXPECT_TRUE(Contains(d.lines[2], "\"record\":\"NavParamsRecord\",\"fields\":{\"messageId\":19,")) << d.lines[2];
  EXPECT_TRUE(Contains(d.lines[2], "\"altHoldMode\":1,\"altHoldSource\":0,\"altSourceInput\":-200,"))
      << d.lines[2];
  EXPECT_TRUE(Contains(d.lines[2], "\"lowPowerOnTime\":200,")) << d.lines[2];
  EXPECT_EQ(d.lines[3],
            "{\"type\":\"sirf\",\"mid\":43,\"length\":26,\"bytes\":34,\"checksum\":true,"
            "\"record\":\"InitParamsRecord\",\"fields\":{\"messageId\":128,\"x\":4432220,\"y\":-185584,"
            "\"z\":4734527,\"clockDrift\":90000,\"timeOfWeek\":9939444,\"week\":1460,\"channelCount\":12,"
            "\"resetConfiguration\":4}}");
  EXPECT_EQ(d.lines[4],
            "{\"type\":\"sirf\",\"mid\":43,\"length\":15,\"bytes\":23,\"checksum\":true,"
            "\"record\":\"ModeControlRecord\",\"fields\":{\"reserved1\":1,\"reserved2\":2,\"degradedMode\":3,"
            "\"positionCalcMode\":4,\"reserved3\":5,\"altitude\":-100,\"altHoldMode\":6,\"altHoldSource\":7,"
            "\"coastTimeout\":8,\"degradedTimeout\":9,\"deadReckoningTimeout\":10,\"trackSmoothing\":11}}");
  EXPECT_EQ(d.lines[5],
            "{\"type\":\"sirf\",\"mid\":43,\"length\":4,\"bytes\":12,\"checksum\":true,"
            "\"record\":null,\"payload\":\"2B850102\"}");
  EXPECT_EQ(d.lines[6], "{\"type\":\"sirf\",\"mid\":11,\"length\":2,\"bytes\":10,\"checksum\":false}");
  EXPECT_EQ(d.lines[7],
            "{\"type\":\"sirf\",\"mid\":11,\"length\":2,\"bytes\":10,\"checksum\":true,"
            "\"record\":null,\"payload\":\"0B84\"}");
}

// Every byte value of a payload no decoder keeps comes out as two
// upper-case hexadecimal digits.
TEST(SirfCaptureFrames, PayloadOfEveryByteValueInHexadecimal) {
  Bytes payload = {0xFE};  // no decoder keeps message 254
  std::string expected = "FE";
  for (int value = 0; value < 256; ++value) {
    payload.push_back(static_cast<uint8_t>(value));
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", value);
    expected += digits;
  }
  const Decoded d = Decode(SirfFrame(payload));
  ASSERT_EQ(d.lines.size(), 1u);
  EXPECT_TRUE(Contains(d.lines[0], "\"record\":null,\"payload\":\"" + expected + "\"}")) << d.lines[0];
}

TEST(SirfCaptureFrames, NavigationMessageCarriesItsGeodeticPosition) {
  // x, y, z of a point on the equator at 90 degrees east, 100 m up.
  Bytes nav = {0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x61, 0x52, 0xFD, 0x00, 0x00, 0x00, 0x00};
  nav.resize(41, 0);
  const Decoded d = Decode(SirfFrame(nav));
  ASSERT_EQ(d.lines.size(), 1u);
  const std::string& line = d.lines[0];
  EXPECT_TRUE(Contains(line, "\"record\":\"NavDataRecord\",\"fields\":{\"messageId\":2,\"x\":0,\"y\":6378237,\"z\":0,"))
      << line;
  EXPECT_TRUE(Contains(line, "\"channelSatellites\":[0,0,0,0,0,0,0,0,0,0,0,0]}")) << line;
  EXPECT_TRUE(Contains(line, "\"geodetic\":{\"latitude\":0,\"longitude\":90,\"height\":100}")) << line;

  // A navigation message of another length is not decoded.
  nav.resize(40);
  const Decoded other = Decode(SirfFrame(nav));
  ASSERT_EQ(other.lines.size(), 1u);
  EXPECT_TRUE(Contains(other.lines[0], "\"record\":null,\"payload\":\"02")) << other.lines[0];
}

std::vector<std::string> RunProgram(const std::vector<std::string>& arguments) {
  testsupport::Outcome run = testsupport::Run(CAPTURE_DECODE_PATH, arguments, 60000);
  EXPECT_EQ(run.status, 0) << arguments[0];
  return Lines(run.out);
}

TEST(SirfCaptureProgram, MixedTextAndFramesReachBothReaders) {
  // A receiver that answers in binary between NMEA sentences: each reader
  // keeps what its framing accepts from the same bytes.
  const std::string gga = "$GPGGA,120000.000,4629.8901,N,00734.0469,E,1,05,2.4,1400.0,M,48.0,M,,0000*67\n";
  Bytes input(gga.begin(), gga.end());
  const Bytes version = SirfFrame({0x06, 'G', 'S', 'W', '2'});
  input.insert(input.end(), version.begin(), version.end());
  Bytes broken = SirfFrame({0x0B, 0x84});
  broken[broken.size() - 3] ^= 1;
  input.insert(input.end(), broken.begin(), broken.end());
  input.insert(input.end(), gga.begin(), gga.end());
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("sirf-capture-mixed-" + std::to_string(getpid()) + ".log")).string();
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(input.data()),
                                              static_cast<std::streamsize>(input.size()));
  const std::vector<std::string> lines = RunProgram({path});
  std::filesystem::remove(path);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_TRUE(Contains(lines[0], "\"type\":\"nmea\",\"id\":\"GPGGA\"")) << lines[0];
  EXPECT_TRUE(Contains(lines[1], "\"type\":\"sirf\",\"mid\":6,") &&
              Contains(lines[1], "\"fields\":{\"BaseVersion\":\"GSW2\"")) << lines[1];
  EXPECT_TRUE(Contains(lines[2], "\"type\":\"sirf\",\"mid\":11,") && Contains(lines[2], "\"checksum\":false"))
      << lines[2];
  EXPECT_TRUE(Contains(lines[3], "\"type\":\"nmea\",\"id\":\"GPGGA\"")) << lines[3];
  EXPECT_TRUE(Contains(lines[4], "\"type\":\"summary\",\"bytes\":" + std::to_string(input.size()) +
                                     ",\"accepted\":2,"))
      << lines[4];
  EXPECT_TRUE(Contains(lines[4], ",\"frames\":2,\"badFrames\":1}")) << lines[4];

  std::string help;
  for (const std::string& line : RunProgram({"--help"})) help += line + "\n";
  EXPECT_TRUE(Contains(help, "\"type\":\"sirf\"")) << help;
  EXPECT_TRUE(Contains(help, "badFrames")) << help;
}

}  // namespace
