// The capture decoder run as a program on the real captures, and its NMEA
// part driven in-process with random input.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "JsonWriter.h"
#include "ChildProcess.h"
#include "NmeaCapture.h"
#include "WireFrames.h"

namespace {

const std::filesystem::path kCaptures = TESTDATA_DIR "/gpsd-logs";

// Minimal JSON syntax check: one value, nothing after it.
class JsonChecker {
 public:
  static bool Valid(const std::string& text) {
    JsonChecker c(text);
    return c.Value() && c.pos_ == text.size();
  }

 private:
  explicit JsonChecker(const std::string& text) : s_(text) {}
  bool Value() {
    if (pos_ >= s_.size()) return false;
    const char c = s_[pos_];
    if (c == '{') return Composite('}', true);
    if (c == '[') return Composite(']', false);
    if (c == '"') return String();
    if (s_.compare(pos_, 4, "null") == 0 || s_.compare(pos_, 4, "true") == 0) return pos_ += 4, true;
    if (s_.compare(pos_, 5, "false") == 0) return pos_ += 5, true;
    const size_t start = pos_;
    if (s_[pos_] == '-') ++pos_;
    while (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_]))) ++pos_;
    if (pos_ < s_.size() && s_[pos_] == '.') {
      ++pos_;
      while (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_]))) ++pos_;
    }
    if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
      while (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_]))) ++pos_;
    }
    return pos_ > start && std::isdigit(static_cast<unsigned char>(s_[pos_ - 1]));
  }
  bool Composite(char close, bool object) {
    ++pos_;
    if (pos_ < s_.size() && s_[pos_] == close) return ++pos_, true;
    for (;;) {
      if (object) {
        if (!String() || pos_ >= s_.size() || s_[pos_++] != ':') return false;
      }
      if (!Value() || pos_ >= s_.size()) return false;
      const char c = s_[pos_++];
      if (c == close) return true;
      if (c != ',') return false;
    }
  }
  bool String() {
    if (pos_ >= s_.size() || s_[pos_] != '"') return false;
    for (++pos_; pos_ < s_.size(); ++pos_) {
      const unsigned char c = static_cast<unsigned char>(s_[pos_]);
      if (c == '"') return ++pos_, true;
      if (c < 0x20 || c >= 0x7F) return false;
      if (c == '\\') {
        ++pos_;
        if (pos_ >= s_.size()) return false;
        if (s_[pos_] == 'u') {
          if (pos_ + 4 >= s_.size()) return false;
          for (int i = 1; i <= 4; ++i) {
            if (!std::isxdigit(static_cast<unsigned char>(s_[pos_ + i]))) return false;
          }
          pos_ += 4;
        } else if (std::string("\"\\/bfnrt").find(s_[pos_]) == std::string::npos) {
          return false;
        }
      }
    }
    return false;
  }
  const std::string& s_;
  size_t pos_ = 0;
};

struct ToolRun {
  int status = -1;
  std::vector<std::string> lines;
};

ToolRun RunTool(const std::vector<std::string>& arguments, const std::string& input = "/dev/null") {
  testsupport::Outcome outcome = testsupport::Run(CAPTURE_DECODE_PATH, arguments, 60000, {}, input);
  ToolRun run;
  run.status = outcome.status;
  std::istringstream in(outcome.out);
  std::string line;
  while (std::getline(in, line)) run.lines.push_back(line);
  return run;
}

bool Contains(const std::string& line, const std::string& part) { return line.find(part) != std::string::npos; }

// The lines without their tick stamps, which differ from run to run.
std::vector<std::string> WithoutTicks(std::vector<std::string> lines) {
  for (std::string& line : lines) {
    for (size_t at = line.find("\"tick\":"); at != std::string::npos; at = line.find("\"tick\":", at + 1)) {
      size_t end = at + 7;
      while (end < line.size() && std::isdigit(static_cast<unsigned char>(line[end]))) ++end;
      line.erase(at + 7, end - (at + 7));
    }
  }
  return lines;
}

std::string Summary(size_t bytes, int accepted, int rejectedLength, int rejectedChecksum) {
  return "{\"type\":\"summary\",\"bytes\":" + std::to_string(bytes) + ",\"accepted\":" + std::to_string(accepted) +
         ",\"rejectedLength\":" + std::to_string(rejectedLength) +
         ",\"rejectedChecksum\":" + std::to_string(rejectedChecksum) + ",\"frames\":0,\"badFrames\":0}";
}

class CaptureDecode : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(kCaptures)) << "no captures at " << kCaptures;
  }
  ToolRun Decode(const std::string& name) {
    ToolRun run = RunTool({(kCaptures / name).string()});
    EXPECT_EQ(0, run.status) << name;
    for (const std::string& line : run.lines) EXPECT_TRUE(JsonChecker::Valid(line)) << line;
    return run;
  }
  // The first line of a kind, e.g. the first "RmcRecord".
  static std::string First(const ToolRun& run, const std::string& part) {
    for (const std::string& line : run.lines) {
      if (Contains(line, part)) return line;
    }
    return std::string();
  }
};

TEST_F(CaptureDecode, EveryNmeaCaptureIsAcceptedAsARealReceiverSendsIt) {
  struct Case {
    const char* name;
    int accepted;
    int rejectedChecksum;
  };
  for (const Case& c : {Case{"blumax-gps009.log", 67, 0}, Case{"tn200-all.log", 66, 0},
                        Case{"haicom-305N.log", 325, 0}, Case{"bu353s4.log", 90, 0}, Case{"triton400.log", 27, 1}}) {
    const ToolRun run = Decode(c.name);
    ASSERT_FALSE(run.lines.empty()) << c.name;
    EXPECT_EQ(Summary(std::filesystem::file_size(kCaptures / c.name), c.accepted, 0, c.rejectedChecksum),
              run.lines.back());
    EXPECT_EQ(static_cast<size_t>(c.accepted + c.rejectedChecksum + 1), run.lines.size()) << c.name;
  }
}

TEST_F(CaptureDecode, Bu353ValuesMatchTheCapture) {
  const ToolRun run = Decode("bu353s4.log");
  // $GPRMC,030719.000,A,3747.0873,S,17518.8938,E,0.69,181.39,311214,,,A*7D
  const std::string rmc = First(run, "\"RmcRecord\"");
  EXPECT_TRUE(Contains(rmc, "\"id\":\"GPRMC\"")) << rmc;
  EXPECT_TRUE(Contains(rmc,
                       "\"utcTime\":\"030719.000\",\"status\":\"A\",\"latitude\":\"3747.0873\","
                       "\"latHemisphere\":\"S\",\"longitude\":\"17518.8938\",\"lonHemisphere\":\"E\","
                       "\"speed\":\"0.69\",\"course\":\"181.39\",\"date\":\"311214\",\"magVariation\":\"\","
                       "\"magVariationDir\":\",\"}}"))
      << rmc;
  // $GPGGA,030719.000,...
  EXPECT_TRUE(Contains(First(run, "\"GgaRecord\""), "\"count\":1,")) << First(run, "\"GgaRecord\"");
  EXPECT_TRUE(Contains(First(run, "\"GgaRecord\""), "\"utcTime\":30719}}"));
  // $GPGSA,A,3,17,28,06,01,30,20,26,13,,,,,1.8,1.1,1.5*33
  EXPECT_TRUE(Contains(First(run, "\"GsaRecord\""),
                       "\"selectionMode\":\"A\",\"fixMode\":\"3\",\"usedPrn\":[17,28,6,1,30,20,26,13,0,0,0,0],"
                       "\"pdop\":\"1.8\",\"hdop\":\"1.1\",\"vdop\":\"1.5\"}}"));
  // $GPGSV,3,3,12,11,12,132,04,08,38,008,,02,35,348,,03,14,091,*73 (third of the first cycle)
  const std::string gsv = First(run, "\"id\":\"GPGSV\",\"record\":\"GsvRecord\",\"fields\":{\"count\":3,");
  ASSERT_TRUE(Contains(gsv, "\"GsvRecord\"")) << gsv;
  EXPECT_TRUE(Contains(gsv, "\"inView\":12,\"channels\":[{\"prn\":17,\"elevation\":72,\"azimuth\":207,\"snr\":32}"))
      << gsv;
  EXPECT_TRUE(Contains(gsv, "{\"prn\":8,\"elevation\":38,\"azimuth\":8,\"snr\":0},")) << gsv;
  EXPECT_TRUE(Contains(gsv, "{\"prn\":3,\"elevation\":14,\"azimuth\":91,\"snr\":0}]}}")) << gsv;
}

TEST_F(CaptureDecode, TritonRejectsOnlyTheTruncatedSentence) {
  const ToolRun run = Decode("triton400.log");
  EXPECT_EQ(1, std::count(run.lines.begin(), run.lines.end(),
                          "{\"type\":\"nmea\",\"rejected\":\"checksum\",\"length\":64}"));
  EXPECT_EQ("{\"type\":\"nmea\",\"id\":\"GPGLL\",\"record\":null}", run.lines[3]);
}

TEST_F(CaptureDecode, BlumaxBannerHasNoDecoderAndHaicomIsSouthEast) {
  const ToolRun blumax = Decode("blumax-gps009.log");
  EXPECT_EQ("{\"type\":\"nmea\",\"id\":\"PSRFTXTVersion GSW3.2.2_3.1.00.12-SDK003P1.01a \",\"record\":null}",
            First(blumax, "PSRFTXTVersion"));
  const ToolRun haicom = Decode("haicom-305N.log");
  const std::string rmc = First(haicom, "\"status\":\"A\"");
  EXPECT_TRUE(Contains(rmc, "\"latHemisphere\":\"S\"")) << rmc;
  EXPECT_TRUE(Contains(rmc, "\"lonHemisphere\":\"E\"")) << rmc;
}

TEST_F(CaptureDecode, BinaryCapturesAndStandardInputAreRead) {
  const ToolRun binary = Decode("bu303-stillfix.log");
  ASSERT_FALSE(binary.lines.empty());
  EXPECT_TRUE(Contains(binary.lines.back(),
                       "\"bytes\":" + std::to_string(std::filesystem::file_size(kCaptures / "bu303-stillfix.log"))));

  const ToolRun piped = RunTool({"-"}, (kCaptures / "triton400.log").string());
  EXPECT_EQ(0, piped.status);
  EXPECT_EQ(WithoutTicks(Decode("triton400.log").lines), WithoutTicks(piped.lines));
}

TEST(CaptureDecodeCli, HelpAndMissingFile) {
  const ToolRun help = RunTool({"--help"});
  EXPECT_EQ(0, help.status);
  std::string all;
  for (const auto& line : help.lines) all += line + "\n";
  EXPECT_TRUE(Contains(all, "CR")) << all;
  EXPECT_TRUE(Contains(all, "\"#\"")) << all;
  EXPECT_NE(0, RunTool({"/nonexistent/capture.log"}).status);
}

// Output gathered in large blocks still reports a failed write: a full
// device fails the run, an empty input's summary line alone included.
TEST(CaptureDecodeCli, AFailedWriteFailsTheRun) {
  const std::string tool = CAPTURE_DECODE_PATH;
  const std::string capture = (kCaptures / "haicom-305N.log").string();
  for (const std::string& input : {capture, std::string("/dev/null")}) {
    const testsupport::Outcome full =
        testsupport::Run("/bin/sh", {"-c", "exec \"$0\" \"$1\" >/dev/full", tool, input}, 60000, {});
    EXPECT_NE(0, full.status) << input;
  }
}

// A live stream on standard input: each sentence's line comes out while the
// input is still open, and the summary once it ends.
TEST(CaptureDecodeCli, StandardInputIsDecodedAsItArrives) {
  const std::string fifo = ::testing::TempDir() + "capture-decode-input-" + std::to_string(getpid());
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  // Held open for writing before the tool starts, so that its open does not
  // wait; closing it ends the tool's input.
  const int toTool = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(toTool, 0);
  testsupport::ChildProcess tool(CAPTURE_DECODE_PATH, {}, {}, fifo);
  // Reads until `count` lines have come or 10 s have passed.
  std::string output;
  auto readLines = [&](size_t count) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (static_cast<size_t>(std::count(output.begin(), output.end(), '\n')) < count &&
           std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      output = tool.Output();
    }
  };
  const std::string sentence = "$PXVRCOF,5\n";  // stored with LF alone, as captures are
  ASSERT_EQ(static_cast<ssize_t>(sentence.size()), write(toTool, sentence.data(), sentence.size()));
  readLines(1);
  EXPECT_TRUE(Contains(output, "\"id\":\"PXVRCOF\",\"record\":\"CofRecord\"")) << output;
  EXPECT_FALSE(Contains(output, "summary")) << output;
  close(toTool);
  readLines(2);
  std::remove(fifo.c_str());
  EXPECT_EQ(0, tool.Wait(10000));
  EXPECT_TRUE(Contains(output, "{\"type\":\"summary\",\"bytes\":11,\"accepted\":1,")) << output;
}

TEST(CaptureDecodeCli, RandomBytesNeverCrashTheProgram) {
  std::mt19937 random(11);
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("capture-decode-random-" + std::to_string(getpid()) + ".bin")).string();
  std::string data;
  for (int i = 0; i < 200000; ++i) data += static_cast<char>(random());
  std::ofstream(path, std::ios::binary) << data;
  const ToolRun run = RunTool({path});
  std::filesystem::remove(path);
  EXPECT_EQ(0, run.status);
  ASSERT_FALSE(run.lines.empty());
  EXPECT_TRUE(Contains(run.lines.back(), "\"type\":\"summary\",\"bytes\":200000,")) << run.lines.back();
  for (const std::string& line : run.lines) ASSERT_TRUE(JsonChecker::Valid(line)) << line;
}

// In-process: sentence-like noise, so that every decoder sees broken,
// overlong and truncated fields.
TEST(CaptureDecodeNmea, SentenceLikeNoiseAlwaysGivesValidJsonAndConsistentCounts) {
  std::mt19937 random(5);
  const std::vector<std::string> pieces = {"$GPGGA,", "$GPGSA,", "$GPGSV,", "$GPRMC,", "$PXVRSWV,", "$PXVRCOF,",
                                           ",",       "*",       "\r\n",    "\r",      "\n",         "$",
                                           "1",       "2",       "3",       "-",       "123456789012345678901234",
                                           "A",       " ",       "\xff",    "\x01",    "\"\\"};
  std::ostringstream out;
  NmeaCapture capture(out);
  uint64_t sentences = 0;
  for (int i = 0; i < 300000; ++i) {
    std::string piece = pieces[random() % pieces.size()];
    if (random() % 50 == 0) {
      // A well-formed sentence now and then, with the right checksum.
      std::string body = pieces[random() % 6].substr(1);
      for (int f = 0; f < 20; ++f) body += random() % 3 == 0 ? pieces[6] : pieces[12 + random() % 4];
      piece = testsupport::NmeaSentence(body);
    }
    for (unsigned char c : piece) capture.OnByte(c);
  }
  std::istringstream in(out.str());
  std::string line;
  while (std::getline(in, line)) {
    ASSERT_TRUE(JsonChecker::Valid(line)) << line;
    ++sentences;
  }
  EXPECT_EQ(sentences, capture.Accepted() + capture.RejectedLength() + capture.RejectedChecksum());
  EXPECT_GT(capture.Accepted(), 100u);
  EXPECT_GT(capture.RejectedLength(), 0u);
  EXPECT_GT(capture.RejectedChecksum(), 0u);
}

// Each kind of line to the letter: a rejected sentence carries only its
// reason and byte count, an accepted one always its id.
TEST(CaptureDecodeNmea, LinesOfEachKindHoldExactlyTheirMembers) {
  std::ostringstream out;
  NmeaCapture capture(out);
  const std::string input = "$GPGGA," + std::string(120, '1') + "\r\n" +  // too long
                            "$GPGGA,1*00\r\n" +                             // wrong checksum
                            "$*00\r\n" +                                    // no id at all
                            "$PXVRCOF,-7\r\n";
  for (unsigned char c : input) capture.OnByte(c);
  std::istringstream in(out.str());
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("{\"type\":\"nmea\",\"rejected\":\"length\",\"length\":100}", lines[0]);
  EXPECT_EQ("{\"type\":\"nmea\",\"rejected\":\"checksum\",\"length\":13}", lines[1]);
  EXPECT_EQ("{\"type\":\"nmea\",\"id\":\"\",\"record\":null}", lines[2]);
  const std::vector<std::string> cof = WithoutTicks({lines[3]});
  EXPECT_EQ("{\"type\":\"nmea\",\"id\":\"PXVRCOF\",\"record\":\"CofRecord\",\"fields\":{\"count\":1,\"tick\":,"
            "\"value\":-7}}",
            cof[0]);
  EXPECT_EQ(2u, capture.Accepted());
  EXPECT_EQ(1u, capture.RejectedLength());
  EXPECT_EQ(1u, capture.RejectedChecksum());
}

TEST(CaptureDecodeJson, WriterEscapesEveryByteAndPlacesCommas) {
  JsonWriter json;
  json.BeginObject().Key("a").String(std::string("q\"\\\n\x7f\xe9", 6)).Key("b").BeginArray().Int(-1).Null().Bool(true);
  json.BeginObject().EndObject().EndArray().Key("c").Char('\0').EndObject();
  EXPECT_EQ("{\"a\":\"q\\\"\\\\\\u000a\\u007f\\u00e9\",\"b\":[-1,null,true,{}],\"c\":\"\\u0000\"}", json.Line());
  EXPECT_TRUE(JsonChecker::Valid(std::string(json.Line())));
  const char fixed[4] = {'a', 'b', 'c', 'd'};  // no NUL: never read past the member
  json.Clear();
  json.FixedText(fixed, sizeof fixed);
  EXPECT_EQ("\"abcd\"", json.Line());
}

}  // namespace
