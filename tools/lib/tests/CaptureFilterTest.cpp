// Input preparation of stored captures: comments, CR restoring, binary
// frames passed unchanged.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "CaptureFilter.h"
#include "WireFrames.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }
std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

using testsupport::SirfFrame;

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

TEST(CaptureFilterTest, CommentsAreSkippedWhereverALineBegins) {
  const std::string input =
      "# Name: test\n#\n$GPGGA,1*00\n# middle comment\n$GPRMC,2 # not a comment\n";
  EXPECT_EQ("$GPGGA,1*00\r\n$GPRMC,2 # not a comment\r\n", Text(CaptureFilter::FilterAll(Bytes(input))));
}

TEST(CaptureFilterTest, CrIsRestoredOnlyWhereMissingAndNeverOnEmptyLines) {
  const std::string input = "$A\n\n$B\r\n$C\n\r\n";
  // The lone CR line is a text line that already ends in CR.
  EXPECT_EQ("$A\r\n\n$B\r\n$C\r\n\r\n", Text(CaptureFilter::FilterAll(Bytes(input))));
}

TEST(CaptureFilterTest, BinaryFramesPassUnchangedAndAreMarked) {
  // Payload with LF, "#" after LF, and a CR-less line end inside.
  const std::vector<uint8_t> payload = {0x06, '\n', '#', 'x', '\n', 0xA0, 0xA2, 0x00};
  const std::vector<uint8_t> frame = SirfFrame(payload);
  const std::vector<uint8_t> input = Concat({Bytes("# header\n"), frame, frame, Bytes("\n$GPGGA\n")});
  std::vector<uint8_t> out;
  std::vector<bool> binary;
  CaptureFilter filter([&](uint8_t value, bool inFrame) {
    out.push_back(value);
    binary.push_back(inFrame);
  });
  filter.Feed(input.data(), input.size());
  filter.Finish();
  const std::vector<uint8_t> expected = Concat({frame, frame, Bytes("\n$GPGGA\r\n")});
  EXPECT_EQ(expected, out);
  EXPECT_EQ(2u, filter.Frames());
  EXPECT_EQ(1u, filter.CommentLines());
  EXPECT_EQ(1u, filter.RestoredCrs());
  for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(i < 2 * frame.size(), binary[i]) << i;
}

TEST(CaptureFilterTest, ThingsThatOnlyLookLikeFramesAreText) {
  // A0 without A2, a length beyond the limit, a wrong end pair, a frame cut short.
  const std::vector<uint8_t> notA2 = {0xA0, 'x', '\n'};
  EXPECT_EQ(Concat({{0xA0, 'x', '\r', '\n'}}), CaptureFilter::FilterAll(notA2));

  const std::vector<uint8_t> tooLong = {0xA0, 0xA2, 0x7F, 0xFF, '\n'};
  EXPECT_EQ(Concat({{0xA0, 0xA2, 0x7F, 0xFF, '\r', '\n'}}), CaptureFilter::FilterAll(tooLong));

  // A broken frame that holds a whole frame: the inner one is still found.
  const std::vector<uint8_t> inner = SirfFrame({0x02, '\n'});
  std::vector<uint8_t> outer = {0xA0, 0xA2, 0x00, static_cast<uint8_t>(inner.size() + 1)};
  outer.insert(outer.end(), inner.begin(), inner.end());
  outer.insert(outer.end(), {0x00, 0x00, 0x00, 0xB0, 0xB4});
  std::vector<uint8_t> out;
  size_t binaryBytes = 0;
  CaptureFilter filter([&](uint8_t value, bool inFrame) {
    out.push_back(value);
    binaryBytes += inFrame ? 1 : 0;
  });
  filter.Feed(outer.data(), outer.size());
  filter.Finish();
  EXPECT_EQ(outer, out);
  EXPECT_EQ(inner.size(), binaryBytes);
  EXPECT_EQ(1u, filter.Frames());

  std::vector<uint8_t> cut = SirfFrame({1, 2, 3, 5});
  cut.pop_back();
  EXPECT_EQ(cut, CaptureFilter::FilterAll(cut));
}

TEST(CaptureFilterTest, RealBinaryCapturesLoseOnlyTheirHeader) {
  const std::filesystem::path folder = TESTDATA_DIR "/gpsd-logs";
  ASSERT_TRUE(std::filesystem::exists(folder)) << "no captures at " << folder;
  struct Case {
    const char* name;
    size_t frames;
  };
  for (const Case& c : {Case{"bu303-stillfix.log", 64}, Case{"bu303b-nofix.log", 43}, Case{"sirfstarv.log", 495}}) {
    std::ifstream in(folder / c.name, std::ios::binary);
    const std::vector<uint8_t> input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t headerEnd = 0;
    while (headerEnd < input.size() && input[headerEnd] == '#') {
      while (input[headerEnd] != '\n') ++headerEnd;
      ++headerEnd;
    }
    std::vector<uint8_t> out;
    CaptureFilter filter([&](uint8_t value, bool) { out.push_back(value); });
    filter.Feed(input.data(), input.size());
    filter.Finish();
    EXPECT_EQ(c.frames, filter.Frames()) << c.name;
    EXPECT_EQ(0u, filter.RestoredCrs()) << c.name;
    EXPECT_EQ(std::vector<uint8_t>(input.begin() + static_cast<long>(headerEnd), input.end()), out) << c.name;
  }
}

TEST(CaptureFilterTest, AnyByteSequenceComesThroughWithoutLoss) {
  std::mt19937 random(7);
  const uint8_t alphabet[] = {0xA0, 0xA2, 0xB0, 0xB3, '\n', '\r', '#', '$', 0x00, 0x01, 'a'};
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> input(random() % 3000);
    for (auto& b : input) b = random() % 4 ? alphabet[random() % sizeof alphabet] : static_cast<uint8_t>(random());
    size_t count = 0;
    CaptureFilter filter([&](uint8_t, bool) { ++count; });
    filter.Feed(input.data(), input.size());
    filter.Finish();
    // Nothing invented but CRs, nothing lost but comments.
    EXPECT_LE(count, input.size() + filter.RestoredCrs());
    if (filter.CommentLines() == 0) {
      EXPECT_EQ(input.size() + filter.RestoredCrs(), count);
    }
  }
}

// The output, its frame marks and the counts do not depend on how the input
// is cut: whole, one byte at a time, or in pieces that end inside frames,
// comments and lines.
TEST(CaptureFilterTest, HowTheInputIsCutChangesNothing) {
  std::mt19937 random(9);
  const std::vector<std::vector<uint8_t>> pieces = {
      Bytes("#c\n"), Bytes("$GPGGA,1\n"), Bytes("x\r\n"), Bytes("\n"), {0xA0}, {0xA0, 0xA2},
      SirfFrame({0x02, '\n', '#', 0xA0}), SirfFrame(std::vector<uint8_t>(300, 0xB0)), {0xB0, 0xB3}, {0x7F, 0xFF}};
  struct Run {
    std::vector<uint8_t> out;
    std::vector<bool> binary;
    size_t comments, frames, crs;
  };
  auto filterCut = [](const std::vector<uint8_t>& input, const std::vector<size_t>& cuts) {
    Run run;
    CaptureFilter filter([&run](uint8_t value, bool inFrame) {
      run.out.push_back(value);
      run.binary.push_back(inFrame);
    });
    size_t at = 0;
    for (size_t cut : cuts) {
      filter.Feed(input.data() + at, cut - at);
      at = cut;
    }
    filter.Feed(input.data() + at, input.size() - at);
    filter.Finish();
    run.comments = filter.CommentLines();
    run.frames = filter.Frames();
    run.crs = filter.RestoredCrs();
    return run;
  };
  for (int round = 0; round < 100; ++round) {
    std::vector<uint8_t> input;
    while (input.size() < 3000) {
      const auto& piece = pieces[random() % pieces.size()];
      input.insert(input.end(), piece.begin(), piece.end());
    }
    std::vector<size_t> everyByte(input.size());
    for (size_t i = 0; i < input.size(); ++i) everyByte[i] = i;
    std::vector<size_t> randomCuts;
    for (size_t at = random() % 200; at < input.size(); at += 1 + random() % 200) randomCuts.push_back(at);
    const Run whole = filterCut(input, {});
    for (const auto& cuts : {everyByte, randomCuts}) {
      const Run cut = filterCut(input, cuts);
      ASSERT_EQ(whole.out, cut.out) << "round " << round << ", " << cuts.size() << " cuts";
      EXPECT_EQ(whole.binary, cut.binary) << "round " << round;
      EXPECT_EQ(whole.comments, cut.comments);
      EXPECT_EQ(whole.frames, cut.frames);
      EXPECT_EQ(whole.crs, cut.crs);
    }
    EXPECT_GT(whole.frames, 0u);
  }
}

}  // namespace
