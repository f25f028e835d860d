// The tools' command lines: the strict number reader, the option tables'
// parsing and help, window messages by name or number.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Number.h"
#include "PostedMessage.h"

namespace {

using Read = Number::Read;

TEST(Number, IntegersAreReadWholeAndInRange) {
  struct Case {
    const char* text;
    long long low, high;
    bool hex;
    Read read;
    long long value;
  };
  const Case cases[] = {
      {"42", 0, 100, false, Read::kOk, 42},
      {"010", 0, 100, false, Read::kOk, 10},  // never octal
      {"-7", -10, 10, false, Read::kOk, -7},
      {"-7", 0, 10, false, Read::kOutOfRange, 0},
      {"101", 0, 100, false, Read::kOutOfRange, 0},
      {"9223372036854775807", LLONG_MIN, LLONG_MAX, false, Read::kOk, LLONG_MAX},
      {"-9223372036854775808", LLONG_MIN, LLONG_MAX, false, Read::kOk, LLONG_MIN},
      {"9223372036854775808", LLONG_MIN, LLONG_MAX, false, Read::kOutOfRange, 0},
      {"-9223372036854775809", LLONG_MIN, LLONG_MAX, false, Read::kOutOfRange, 0},
      {"99999999999999999999", 0, 100, false, Read::kOutOfRange, 0},
      {"0x1F", 0, 100, true, Read::kOk, 31},
      {"-0x10", -100, 100, true, Read::kOk, -16},
      {"0x1F", 0, 100, false, Read::kNotANumber, 0},
      {"0x", 0, 100, true, Read::kNotANumber, 0},
      {"", 0, 100, false, Read::kNotANumber, 0},
      {"-", -5, 100, false, Read::kNotANumber, 0},
      {"+5", 0, 100, false, Read::kNotANumber, 0},
      {" 5", 0, 100, false, Read::kNotANumber, 0},
      {"5 ", 0, 100, false, Read::kNotANumber, 0},
      {"--5", -10, 100, false, Read::kNotANumber, 0},
      {"12x", 0, 100, false, Read::kNotANumber, 0},
      {"1.5", 0, 100, false, Read::kNotANumber, 0},
  };
  for (const Case& c : cases) {
    long long value = 0;
    EXPECT_EQ(Number::Integer(c.text, c.low, c.high, &value, c.hex), c.read)
        << '"' << c.text << '"';
    if (c.read == Read::kOk) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

TEST(Number, RealsAreFiniteDecimalsInRange) {
  struct Case {
    const char* text;
    Read read;
    double value;
  };
  const Case cases[] = {
      {"2.5", Read::kOk, 2.5},         {"-0.5", Read::kOk, -0.5},
      {".5", Read::kOk, 0.5},          {"1e3", Read::kOk, 1000},
      {"1e400", Read::kOutOfRange, 0}, {"2000", Read::kOutOfRange, 0},
      {"inf", Read::kNotANumber, 0},   {"nan", Read::kNotANumber, 0},
      {"0x1p3", Read::kNotANumber, 0}, {"+1", Read::kNotANumber, 0},
      {" 1", Read::kNotANumber, 0},    {"1,5", Read::kNotANumber, 0},
      {"", Read::kNotANumber, 0},      {"e5", Read::kNotANumber, 0},
  };
  for (const Case& c : cases) {
    double value = 0;
    EXPECT_EQ(Number::Real(c.text, -1000, 1000, &value), c.read) << '"' << c.text << '"';
    if (c.read == Read::kOk) {
      EXPECT_DOUBLE_EQ(value, c.value) << c.text;
    }
  }
}

struct Settings {
  std::string device;
  long long count = 0;
  bool verbose = false;
};

CommandLine::Options Table(Settings& s) {
  return {
      {"Line", "--device", nullptr, "DEVICE", "the device",
       [&s](const std::string& v, std::string&) {
         s.device = v;
         return true;
       }},
      {nullptr, "--count", nullptr, "N", "how many\nof them",
       [&s](const std::string& v, std::string& e) {
         if (Number::Integer(v, 1, 9, &s.count) == Read::kOk) return true;
         e = "--count: 1 to 9";
         return false;
       }},
      {nullptr, "--verbose", "-v", nullptr, "say more",
       [&s](const std::string&, std::string&) { return s.verbose = true; }},
      {nullptr, "--a-rather-long-option", nullptr, "VALUE", "stands alone",
       [](const std::string&, std::string&) { return true; }},
      {nullptr, "--help", "-h", nullptr, "show this text", nullptr},
  };
}

TEST(CommandLine, ParsesByTheTable) {
  using Parsed = CommandLine::Parsed;
  struct Case {
    CommandLine::Words words;
    bool operands;
    Parsed parsed;
    std::string error;
  };
  const Case cases[] = {
      {{"--device", "-x", "-v", "--count", "3"},
       false,
       Parsed::kDone,
       ""},  // a value may start with '-'
      {{"--count"}, false, Parsed::kWrong, "--count needs a value"},
      {{"--count", "12"}, false, Parsed::kWrong, "--count: 1 to 9"},
      {{"--frobnicate"}, false, Parsed::kWrong, "unknown option --frobnicate (see --help)"},
      {{"file"}, false, Parsed::kWrong, "unexpected argument file"},
      {{"file", "-", "-v"}, true, Parsed::kDone, ""},
      {{"-h", "--frobnicate"}, false, Parsed::kHelp, ""},
      {{"--count", "12", "--help"}, false, Parsed::kWrong, "--count: 1 to 9"},
  };
  for (const Case& c : cases) {
    Settings settings;
    CommandLine::Words operands;
    std::string error;
    EXPECT_EQ(CommandLine::Parse(Table(settings), c.words, c.operands ? &operands : nullptr, error),
              c.parsed)
        << c.words[0];
    EXPECT_EQ(error, c.error) << c.words[0];
  }
  Settings settings;
  CommandLine::Words operands;
  std::string error;
  ASSERT_EQ(CommandLine::Parse(Table(settings), {"a", "--device", "-x", "-", "-v", "--count", "3"},
                               &operands, error),
            CommandLine::Parsed::kDone);
  EXPECT_EQ(settings.device, "-x");
  EXPECT_EQ(settings.count, 3);
  EXPECT_TRUE(settings.verbose);
  EXPECT_EQ(operands, (CommandLine::Words{"a", "-"}));
}

TEST(CommandLine, HelpComesFromTheSameTable) {
  Settings unused;
  EXPECT_EQ(CommandLine::Help(Table(unused), 20),
            "\nLine:\n"
            "  --device DEVICE   the device\n"
            "  --count N         how many\n"
            "                    of them\n"
            "  --verbose         say more\n"
            "  --a-rather-long-option VALUE\n"
            "                    stands alone\n"
            "  --help            show this text\n");
  struct Context {};
  const CommandLine::Command<Context> commands[] = {
      {"receiver", "DEVICE\n--simulate", "a receiver", nullptr},
      {"status", "", "what runs", nullptr},
  };
  EXPECT_EQ(CommandLine::CommandHelp(commands, 22),
            "  receiver DEVICE\n"
            "  receiver --simulate\n"
            "                      a receiver\n"
            "  status              what runs\n");
  EXPECT_EQ(CommandLine::Usage(commands[0]), "usage: receiver DEVICE | receiver --simulate");
  EXPECT_EQ(CommandLine::Usage(commands[1]), "usage: status");
  EXPECT_EQ(CommandLine::Find(commands, "status"), &commands[1]);
  EXPECT_EQ(CommandLine::Find(commands, "stat"), nullptr);
}

TEST(PostedMessage, MessagesAndParametersAreThirtyTwoBitWords) {
  struct Case {
    std::vector<std::string> words;
    bool ok;
    std::string reason;
  };
  const Case cases[] = {
      {{"WM_COMMAND", "40002"}, true, ""},
      {{"0x111", "-2147483648", "4294967295"}, true, ""},
      {{"4294967296"}, false, "out of range for a message: 4294967296"},
      {{"-1"}, false, "out of range for a message: -1"},
      {{"1", "99999999999999999999"},
       false,
       "out of range for a 32-bit parameter: 99999999999999999999"},
      {{"1", "2", "-2147483649"}, false, "out of range for a 32-bit parameter: -2147483649"},
      {{"WM_BOGUS"}, false, "not a message or number: WM_BOGUS"},
  };
  for (const Case& c : cases) {
    PostedMessage message;
    std::string reason;
    EXPECT_EQ(PostedMessage::Parse(c.words, &message, &reason), c.ok) << c.words[0];
    EXPECT_EQ(reason, c.reason) << c.words[0];
  }
  PostedMessage message;
  std::string reason;
  ASSERT_TRUE(PostedMessage::Parse({"WM_COMMAND", "40002"}, &message, &reason));
  EXPECT_EQ(message.Command("QUELMAR"), "post QUELMAR 273 40002 0");
}

}  // namespace
