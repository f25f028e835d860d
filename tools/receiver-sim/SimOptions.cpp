#include "SimOptions.h"

#include "CommandLine.h"
#include "LineRate.h"
#include "Number.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string_view>

namespace {

struct ScenarioEntry {
  const char* name;
  const char* description;
  void (*apply)(Behaviour&);
};

const ScenarioEntry kScenarios[] = {
    {"normal",
     "NMEA at 1 Hz; answers PSRF200,2 and PSRF200,1 with one PXVRSWV each; "
     "binary mode works and answers the version poll with both texts",
     [](Behaviour&) {}},
    {"silent", "says nothing at all and ignores everything it receives",
     [](Behaviour& b) { b.start = StartMode::Silent; }},
    {"nmea-no-version",
     "NMEA, but PSRF200 goes unanswered; the switch to binary works and the "
     "version poll gets both texts",
     [](Behaviour& b) { b.nmeaVersionAnswers = 0; }},
    {"one-version", "NMEA; answers PSRF200,2 but not PSRF200,1",
     [](Behaviour& b) { b.nmeaVersionAnswers = 1; }},
    {"binary-start",
     "starts in SiRF binary (messages 2 and 4 at 1 Hz) and answers the version "
     "poll with both texts",
     [](Behaviour& b) { b.start = StartMode::Binary; }},
    {"no-binary",
     "NMEA without version answers; ignores PSRF100 and keeps sending NMEA",
     [](Behaviour& b) {
       b.nmeaVersionAnswers = 0;
       b.honourBinarySwitch = false;
     }},
    {"binary-mute",
     "NMEA without version answers; after PSRF100 it sends nothing until "
     "message 129 brings NMEA back",
     [](Behaviour& b) {
       b.nmeaVersionAnswers = 0;
       b.binaryOutput = false;
     }},
    {"no-restore",
     "NMEA without version answers; binary works with both texts, but after "
     "message 129 it falls silent",
     [](Behaviour& b) {
       b.nmeaVersionAnswers = 0;
       b.honourNmeaSwitch = false;
     }},
    {"base-only",
     "NMEA without version answers; binary version poll answered with the base "
     "text only",
     [](Behaviour& b) {
       b.nmeaVersionAnswers = 0;
       b.binaryVersions = BinaryVersions::BaseOnly;
     }},
    {"maker-only",
     "NMEA without version answers; binary version poll answered with the "
     "maker's text only",
     [](Behaviour& b) {
       b.nmeaVersionAnswers = 0;
       b.binaryVersions = BinaryVersions::MakerOnly;
     }},
    {"binary-no-version",
     "NMEA without version answers; binary works (messages 2 and 4) but the "
     "version poll goes unanswered",
     [](Behaviour& b) {
       b.nmeaVersionAnswers = 0;
       b.binaryVersions = BinaryVersions::None;
     }},
    {"noise",
     "as normal, with line noise, a corrupted sentence in every cycle and a "
     "corrupted copy before each version answer",
     [](Behaviour& b) { b.noise = true; }},
    {"noise-binary",
     "as nmea-no-version, with line noise and corrupted sentences and frames "
     "(a corrupted copy before each version frame)",
     [](Behaviour& b) {
       b.nmeaVersionAnswers = 0;
       b.noise = true;
     }},
    {"refuse-sets",
     "as nmea-no-version, but binary set messages are refused with message 12",
     [](Behaviour& b) {
       b.nmeaVersionAnswers = 0;
       b.refuseSets = true;
     }},
};

// Longest run: about 31 years, well inside the steady clock's range.
const long long kMaxSeconds = 1000000000;

// "YYYY-MM-DDTHH:MM:SS" (a blank instead of T also works), UTC.
bool ParseTime(const std::string& text, int64_t& seconds) {
  std::tm tm{};
  char sep = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%d-%d-%d%c%d:%d:%d%c", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                  &sep, &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &tail) != 7)
    return false;
  if ((sep != 'T' && sep != ' ') || tm.tm_year < 1980 || tm.tm_year > 2099 || tm.tm_mon < 1 ||
      tm.tm_mon > 12 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 || tm.tm_min > 59 ||
      tm.tm_sec > 59)
    return false;
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  const int day = tm.tm_mday;
  const time_t when = timegm(&tm);
  // timegm carries a day past the month's end into the next month: a date
  // that does not exist (February 30) comes back changed.
  std::tm check{};
  if (gmtime_r(&when, &check) == nullptr || check.tm_mday != day) return false;
  seconds = static_cast<int64_t>(when);
  return true;
}

// "PRN:EL:AZ:SNR,PRN:EL:AZ:SNR,..." up to 12 satellites; "none" for none.
bool ParseSatellites(const std::string& text, std::vector<Satellite>& out, std::string& error) {
  out.clear();
  if (text == "none") return true;
  std::stringstream list(text);
  std::string item;
  while (std::getline(list, item, ',')) {
    Satellite s;
    // Each field a whole number in its range.
    struct Field {
      int* value;
      long long low, high;
    };
    const Field fields[] = {
        {&s.prn, 1, 255}, {&s.elevation, 0, 90}, {&s.azimuth, 0, 359}, {&s.snr, 0, 99}};
    // The four fields between the colons.
    std::vector<std::string> parts{""};
    for (const char c : item) {
      if (c == ':') parts.emplace_back();
      else parts.back() += c;
    }
    bool numbers = parts.size() == 4, inRange = true;
    for (size_t f = 0; numbers && f < 4; ++f) {
      long long number = 0;
      const Number::Read read = Number::Integer(parts[f], fields[f].low, fields[f].high, &number);
      numbers = read != Number::Read::kNotANumber;
      inRange = inRange && read == Number::Read::kOk;
      *fields[f].value = static_cast<int>(number);
    }
    if (!numbers) {
      error = "satellite \"" + item + "\" is not PRN:ELEVATION:AZIMUTH:SNR";
      return false;
    }
    if (!inRange) {
      error = "satellite \"" + item +
              "\" out of range (PRN 1-255, elevation 0-90, azimuth 0-359, SNR 0-99)";
      return false;
    }
    out.push_back(s);
  }
  if (out.size() > 12) {
    error = "at most 12 satellites";
    return false;
  }
  return true;
}

// Version texts travel inside an NMEA field or a binary message: no field or
// sentence delimiters, printable ASCII only.
bool VersionTextOk(const std::string& text, size_t maxLength, std::string& error) {
  if (text.size() > maxLength) {
    error = "version text longer than " + std::to_string(maxLength) + " characters";
    return false;
  }
  for (unsigned char c : text) {
    if (c < 0x20 || c > 0x7E || c == ',' || c == '*' || c == '$') {
      error = "version text \"" + text + "\" holds a character a receiver cannot send in it";
      return false;
    }
  }
  return true;
}

std::vector<Satellite> DefaultSatellites() {
  return {{3, 72, 41, 44},  {6, 55, 282, 42}, {9, 38, 131, 40},  {12, 21, 302, 36},
          {17, 64, 191, 45}, {22, 12, 88, 31}, {25, 47, 233, 39}, {31, 8, 24, 0}};
}

bool Fail(std::string& error, const std::string& text) {
  error = text;
  return false;
}

// A number in [low, high] for `name`, else the error "NAME out of range".
bool InRange(const std::string& value, double low, double high, const char* name, double& out,
             std::string& error, const char* range = "") {
  switch (Number::Real(value, low, high, &out)) {
    case Number::Read::kOk: return true;
    case Number::Read::kNotANumber: return Fail(error, std::string(name) + " needs a number");
    case Number::Read::kOutOfRange: break;
  }
  return Fail(error, std::string(name) + " out of range" + range);
}

bool SetVersion(const std::string& value, size_t maxLength, std::string& target, std::string& error) {
  if (!VersionTextOk(value, maxLength, error)) return false;
  target = value;
  return true;
}

// "$PXVRSWV,n," and "*hh\r\n" leave 83 characters below 100 bytes.
const size_t kNmeaVersionChars = 83;
// Message 6 carries 80 characters, NUL-padded; one NUL at least ends the text.
const size_t kBinaryVersionChars = 79;

// The options, bound to `o`: the table drives both parsing and --help. One
// table, as long as its rows.
CommandLine::Options Table(SimOptions& o) {
  return {
    {"Line", "--link", nullptr, "PATH",
     "also make PATH a symbolic link to the pseudo-terminal\n"
     "(replaced if it is a link already, removed on exit)",
     [&o](const std::string& v, std::string&) { o.linkPath = v; return true; }},
    {nullptr, "--device", nullptr, "DEVICE", "run on this tty instead of a pseudo-terminal",
     [&o](const std::string& v, std::string&) { o.device = v; return true; }},
    {nullptr, "--baud", nullptr, "RATE",
     "the receiver's line rate at power-up: 4800, 9600,\n"
     "19200, 38400, 57600 (default) or 115200",
     [&o](const std::string& v, std::string& e) {
       long long number = 0;
       if (Number::Integer(v, 0, 10000000, &number) != Number::Read::kOk ||
           !LineRate::Valid(number))
         return Fail(e, "--baud: unsupported rate " + v);
       o.baud = static_cast<int>(number);
       return true;
     }},
    {nullptr, "--any-line-settings", nullptr, nullptr,
     "on a pseudo-terminal, do not compare the other side's\n"
     "line settings with the receiver's (by default a\n"
     "mismatch in speed, data bits, parity or stop bits\n"
     "turns the traffic into garbage, as on a real line)",
     [&o](const std::string&, std::string&) {
       o.checkLineSettings = false;
       return true;
     }},
    {nullptr, "--seconds", nullptr, "N", "stop after N seconds (fractions allowed, at most 1e9)",
     [&o](const std::string& v, std::string& e) {
       // The run's end must stay within the clock's range.
       double real = 0;
       if (Number::Real(v, 0, kMaxSeconds, &real) != Number::Read::kOk || real <= 0)
         return Fail(e, "--seconds needs a positive number of at most " + std::to_string(kMaxSeconds));
       o.seconds = real;
       return true;
     }},
    {nullptr, "--verbose", "-v", nullptr,
     "report received sentences and messages and every\n"
     "protocol switch on standard error",
     [&o](const std::string&, std::string&) {
       o.verbose = true;
       return true;
     }},
    {nullptr, "--help", "-h", nullptr, "show this text", nullptr},

    {"Behaviour", "--scenario", nullptr, "NAME", "one of the scenarios below (default normal)",
     [](const std::string&, std::string&) { return true; }},  // applied first
    {nullptr, "--start", nullptr, "nmea|binary|silent",
     "protocol at power-up (overrides the scenario)",
     [&o](const std::string& v, std::string& e) {
       if (v == "nmea") o.behaviour.start = StartMode::Nmea;
       else if (v == "binary") o.behaviour.start = StartMode::Binary;
       else if (v == "silent") o.behaviour.start = StartMode::Silent;
       else return Fail(e, "--start: nmea, binary or silent");
       return true;
     }},
    {nullptr, "--version-answers", nullptr, "N",
     "0: ignore PSRF200; 1: answer selector 2 only;\n"
     "2: answer both (overrides the scenario)",
     [&o](const std::string& v, std::string& e) {
       long long number = 0;
       if (Number::Integer(v, 0, 2, &number) != Number::Read::kOk)
         return Fail(e, "--version-answers: 0, 1 or 2");
       o.behaviour.nmeaVersionAnswers = static_cast<int>(number);
       return true;
     }},
    {nullptr, "--binary-versions", nullptr, "both|base|maker|none",
     "message 6 texts sent for a version poll (overrides\n"
     "the scenario)",
     [&o](const std::string& v, std::string& e) {
       if (v == "both") o.behaviour.binaryVersions = BinaryVersions::Both;
       else if (v == "base") o.behaviour.binaryVersions = BinaryVersions::BaseOnly;
       else if (v == "maker") o.behaviour.binaryVersions = BinaryVersions::MakerOnly;
       else if (v == "none") o.behaviour.binaryVersions = BinaryVersions::None;
       else return Fail(e, "--binary-versions: both, base, maker or none");
       return true;
     }},
    {nullptr, "--noise", nullptr, nullptr, "mix line noise and corrupted checksums in",
     [&o](const std::string&, std::string&) {
       o.behaviour.noise = true;
       return true;
     }},
    {nullptr, "--refuse-sets", nullptr, nullptr, "refuse binary set messages with message 12",
     [&o](const std::string&, std::string&) {
       o.behaviour.refuseSets = true;
       return true;
     }},
    {nullptr, "--nmea-version2", nullptr, "TEXT",
     "PXVRSWV text answering PSRF200,2\n"
     "(default \"GSW2-2.05.024-C1Prod1.1\")",
     [&o](const std::string& v, std::string& e) {
       return SetVersion(v, kNmeaVersionChars, o.nmeaVersion2, e);
     }},
    {nullptr, "--nmea-version1", nullptr, "TEXT",
     "PXVRSWV text answering PSRF200,1\n"
     "(default \"Dovrin GPS Sleeve 1.04\")",
     [&o](const std::string& v, std::string& e) {
       return SetVersion(v, kNmeaVersionChars, o.nmeaVersion1, e);
     }},
    {nullptr, "--base-version", nullptr, "TEXT",
     "message 6 base version text\n"
     "(default \"GSW2-2.05.024-C1Prod1.1\")",
     [&o](const std::string& v, std::string& e) {
       return SetVersion(v, kBinaryVersionChars, o.baseVersion, e);
     }},
    {nullptr, "--maker-version", nullptr, "TEXT",
     "message 6 maker's version text; the viewer tells it\n"
     "from the base text by the name \"Dovrin\" in it\n"
     "(default \"Dovrin GPS Sleeve 1.04\")",
     [&o](const std::string& v, std::string& e) {
       return SetVersion(v, kBinaryVersionChars, o.makerVersion, e);
     }},
    {nullptr, "--seed", nullptr, "N", "seed of the noise generator (default 1)",
     [&o](const std::string& v, std::string& e) {
       long long number = 0;
       if (Number::Integer(v, 0, 0xFFFFFFFFLL, &number) != Number::Read::kOk)
         return Fail(e, "--seed needs a number");
       o.seed = static_cast<uint32_t>(number);
       return true;
     }},

    {"Sky", "--lat", nullptr, "DEG", "start latitude, north positive (default 52.3731)",
     [&o](const std::string& v, std::string& e) {
       return InRange(v, -89.999, 89.999, "--lat", o.latitude, e);
     }},
    {nullptr, "--lon", nullptr, "DEG", "start longitude, east positive (default 4.8922)",
     [&o](const std::string& v, std::string& e) {
       return InRange(v, -180, 180, "--lon", o.longitude, e);
     }},
    {nullptr, "--alt", nullptr, "M", "altitude above sea level in metres (default 12)",
     [&o](const std::string& v, std::string& e) {
       return InRange(v, -1000, 18000, "--alt", o.altitude, e);
     }},
    {nullptr, "--time", nullptr, "YYYY-MM-DDTHH:MM:SS", "UTC time of the first second (default: now)",
     [&o](const std::string& v, std::string& e) {
       if (!ParseTime(v, o.startTime)) return Fail(e, "--time: YYYY-MM-DDTHH:MM:SS (UTC, 1980-2099)");
       return true;
     }},
    {nullptr, "--speed", nullptr, "KNOTS", "speed over ground (default 0)",
     [&o](const std::string& v, std::string& e) {
       return InRange(v, 0, 999, "--speed", o.speedKnots, e, " (0-999 knots)");
     }},
    {nullptr, "--course", nullptr, "DEG", "course over ground, degrees true (default 0)",
     [&o](const std::string& v, std::string& e) {
       if (!InRange(v, 0, 360, "--course", o.courseDegrees, e, " (0-359.99)")) return false;
       if (o.courseDegrees < 360) return true;
       return Fail(e, "--course out of range (0-359.99)");
     }},
    {nullptr, "--fix", nullptr, "none|2d|3d", "fix reported (default 3d)",
     [&o](const std::string& v, std::string& e) {
       if (v == "none") o.fix = FixKind::None;
       else if (v == "2d") o.fix = FixKind::TwoD;
       else if (v == "3d") o.fix = FixKind::ThreeD;
       else return Fail(e, "--fix: none, 2d or 3d");
       return true;
     }},
    {nullptr, "--satellites", nullptr, "LIST",
     "PRN:ELEVATION:AZIMUTH:SNR,... up to 12 satellites,\n"
     "SNR 0 = in view but not tracked; \"none\" for none\n"
     "(default 8 satellites, 7 of them tracked)",
     [&o](const std::string& v, std::string& e) {
       return ParseSatellites(v, o.satellites, e);
     }},

    {"Replay", "--replay", nullptr, "FILE",
     "send a capture instead of simulating: \"#\" comment\n"
     "lines are skipped, NMEA lines get the CR back before\n"
     "their LF, binary frames go out unchanged. By default\n"
     "it goes out one reporting cycle at a time at the\n"
     "capture's own pace (the times in GGA, RMC, ZDA, GLL or\n"
     "in messages 2, 4 and 41; 1 s where they give none\n"
     "or jump); a capture without times goes as one burst.\n"
     "On a pseudo-terminal the replay starts when the other\n"
     "side opens it. Received traffic is only reported.",
     [&o](const std::string& v, std::string&) {
       o.replayFile = v;
       return true;
     }},
    {nullptr, "--loop", nullptr, nullptr, "replay again and again (default: once, then quiet)",
     [&o](const std::string&, std::string&) {
       o.loop = true;
       return true;
     }},
    {nullptr, "--burst", nullptr, nullptr,
     "replay the whole capture at once at the line rate\n"
     "(with --loop one pass right after the other)",
     [&o](const std::string&, std::string&) {
       o.burst = true;
       return true;
     }},
  };
}

}  // namespace

std::vector<std::string> SimOptions::ScenarioNames() {
  std::vector<std::string> names;
  for (const auto& s : kScenarios) names.push_back(s.name);
  return names;
}

bool SimOptions::ApplyScenario(const std::string& name, Behaviour& behaviour) {
  for (const auto& s : kScenarios) {
    if (name == s.name) {
      behaviour = Behaviour{};
      s.apply(behaviour);
      return true;
    }
  }
  return false;
}

// Lines of help text start in this column; a longer option stands alone.
const size_t kHelpColumn = 24;

std::string SimOptions::HelpText() {
  std::string text =
      "Usage: receiver-sim [options]\n"
      "\n"
      "Simulates a SiRF GPS receiver on a serial line. By default it opens a new\n"
      "pseudo-terminal (raw, 8N1 at the --baud rate) and prints the path of its\n"
      "slave side as the first line of standard output. It runs until SIGINT or\n"
      "SIGTERM, or for --seconds. Output is paced at the line rate (10 bits per\n"
      "byte). While nobody has the pseudo-terminal open, output is lost as on an\n"
      "unconnected line. While the other side's speed differs from the receiver's\n"
      "rate, both directions turn into garbage, as at the wrong rate on a UART.\n";
  SimOptions unused;
  text += CommandLine::Help(Table(unused), kHelpColumn);
  text +=
      "\n"
      "Protocol:\n"
      "  NMEA mode: GGA, GSA, GSV (one per 4 satellites) and RMC every second;\n"
      "  GLL, VTG and ZDA can be turned on. PSRF103 (msg 0 GGA, 1 GLL, 2 GSA, 3 GSV,\n"
      "  4 RMC, 5 VTG, 8 ZDA; mode 0 sets the rate in seconds, 1 sends it once;\n"
      "  cksumEnable 0 drops the checksum). PSRF100,0,BAUD,8,1,0 switches to SiRF\n"
      "  binary at BAUD, PSRF100,1,BAUD,8,1,0 stays in NMEA at BAUD. Input sentences\n"
      "  need a correct checksum.\n"
      "  Binary mode: messages 2 and 4 every second, 41 once turned on. 132 is\n"
      "  answered with message 6 (base text, then maker's text, each NUL-padded to\n"
      "  80 characters), 152 with 19, 168 with 43 (for 0x80 and 0x88). 166 sets\n"
      "  the rate of 2, 4 or 41 (mode 0) or polls one (mode 1, which also turns 41\n"
      "  on); 134 moves the line rate after its message 11; 129 switches to NMEA\n"
      "  with the sentence rates and line rate it carries. 128, 133, 136 and 143\n"
      "  are taken and answered with message 11; every other message, and a 166\n"
      "  or 134 it cannot carry out, with message 12.\n"
      "\n"
      "Scenarios:\n";
  for (const auto& s : kScenarios) {
    // Wrapped at about 78 columns.
    std::stringstream words(s.description);
    std::string word;
    std::string current = std::string("  ") + s.name;
    current.resize(22, ' ');
    while (words >> word) {
      if (current.size() + 1 + word.size() > 78 && current.size() > 22) {
        text += current + "\n";
        current = std::string(22, ' ');
      }
      if (current.size() > 22 && current.back() != ' ') current += ' ';
      current += word;
    }
    text += current + "\n";
  }
  return text;
}

bool SimOptions::Parse(int argc, char** argv, std::string& error) {
  satellites = DefaultSatellites();
  behaviour = Behaviour{};
  // Scenario first, so that the single overrides win whatever their order.
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) == "--scenario") {
      scenario = argv[i + 1];
      if (!ApplyScenario(scenario, behaviour)) {
        error = "unknown scenario \"" + scenario + "\" (see --help)";
        return false;
      }
    }
  }
  switch (CommandLine::Parse(Table(*this), CommandLine::Arguments(argc, argv), nullptr, error)) {
    case CommandLine::Parsed::kDone: break;
    case CommandLine::Parsed::kHelp: error.clear(); return false;
    case CommandLine::Parsed::kWrong: return false;
  }
  if (!device.empty() && !linkPath.empty())
    return Fail(error, "--link only applies to a pseudo-terminal, not with --device");
  if (loop && replayFile.empty()) return Fail(error, "--loop only applies to --replay");
  if (burst && replayFile.empty()) return Fail(error, "--burst only applies to --replay");
  if (startTime < 0) startTime = static_cast<int64_t>(std::time(nullptr));
  return true;
}
