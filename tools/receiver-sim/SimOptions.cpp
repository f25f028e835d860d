#include "SimOptions.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <sstream>

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

bool ParseDouble(const std::string& text, double& value) {
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return !text.empty() && end && *end == '\0' && std::isfinite(value);
}

bool ParseInt(const std::string& text, long long& value) {
  char* end = nullptr;
  value = std::strtoll(text.c_str(), &end, 10);
  return !text.empty() && end && *end == '\0';
}

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
    char tail = 0;
    if (std::sscanf(item.c_str(), "%d:%d:%d:%d%c", &s.prn, &s.elevation, &s.azimuth, &s.snr,
                    &tail) != 4) {
      error = "satellite \"" + item + "\" is not PRN:ELEVATION:AZIMUTH:SNR";
      return false;
    }
    if (s.prn < 1 || s.prn > 255 || s.elevation < 0 || s.elevation > 90 || s.azimuth < 0 ||
        s.azimuth > 359 || s.snr < 0 || s.snr > 99) {
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

bool ValidBaud(long long baud) {
  return baud == 4800 || baud == 9600 || baud == 19200 || baud == 38400 || baud == 57600 ||
         baud == 115200;
}

std::vector<Satellite> DefaultSatellites() {
  return {{3, 72, 41, 44},  {6, 55, 282, 42}, {9, 38, 131, 40},  {12, 21, 302, 36},
          {17, 64, 191, 45}, {22, 12, 88, 31}, {25, 47, 233, 39}, {31, 8, 24, 0}};
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

std::string SimOptions::HelpText() {
  std::string text =
      "Usage: receiver-sim [options]\n"
      "\n"
      "Simulates a SiRF GPS receiver on a serial line. By default it opens a new\n"
      "pseudo-terminal (raw, 57600 baud 8N1) and prints the path of its slave side\n"
      "as the first line of standard output. It runs until SIGINT or SIGTERM, or for\n"
      "--seconds. Output is paced at the line rate (10 bits per byte). While nobody\n"
      "has the pseudo-terminal open, output is lost as on an unconnected line.\n"
      "\n"
      "Line:\n"
      "  --link PATH           also make PATH a symbolic link to the pseudo-terminal\n"
      "                        (replaced if it is a link already, removed on exit)\n"
      "  --device DEVICE       run on this tty instead of a pseudo-terminal\n"
      "  --baud RATE           line rate: 4800, 9600, 19200, 38400, 57600 (default)\n"
      "                        or 115200\n"
      "  --any-line-settings   on a pseudo-terminal, do not compare the other side's\n"
      "                        line settings with the receiver's (by default a\n"
      "                        mismatch in speed, data bits, parity or stop bits\n"
      "                        turns the traffic into garbage, as on a real line)\n"
      "  --seconds N           stop after N seconds (fractions allowed, at most 1e9)\n"
      "  --verbose             report received sentences and messages and every\n"
      "                        protocol switch on standard error\n"
      "  --help                show this text\n"
      "\n"
      "Behaviour:\n"
      "  --scenario NAME       one of the scenarios below (default normal)\n"
      "  --start nmea|binary|silent\n"
      "                        protocol at power-up (overrides the scenario)\n"
      "  --version-answers N   0: ignore PSRF200; 1: answer selector 2 only;\n"
      "                        2: answer both (overrides the scenario)\n"
      "  --binary-versions both|base|maker|none\n"
      "                        message 6 texts sent for a version poll (overrides\n"
      "                        the scenario)\n"
      "  --noise               mix line noise and corrupted checksums in\n"
      "  --refuse-sets         refuse binary set messages with message 12\n"
      "  --nmea-version2 TEXT  PXVRSWV text answering PSRF200,2\n"
      "                        (default \"GSW2-2.05.024-C1Prod1.1\")\n"
      "  --nmea-version1 TEXT  PXVRSWV text answering PSRF200,1\n"
      "                        (default \"Dovrin GPS Sleeve 1.04\")\n"
      "  --base-version TEXT   message 6 base version text\n"
      "                        (default \"GSW2-2.05.024-C1Prod1.1\")\n"
      "  --maker-version TEXT  message 6 maker's version text; the viewer tells it\n"
      "                        from the base text by the name \"Dovrin\" in it\n"
      "                        (default \"Dovrin GPS Sleeve 1.04\")\n"
      "  --seed N              seed of the noise generator (default 1)\n"
      "\n"
      "Sky:\n"
      "  --lat DEG             start latitude, north positive (default 52.3731)\n"
      "  --lon DEG             start longitude, east positive (default 4.8922)\n"
      "  --alt M               altitude above sea level in metres (default 12)\n"
      "  --time YYYY-MM-DDTHH:MM:SS\n"
      "                        UTC time of the first second (default: now)\n"
      "  --speed KNOTS         speed over ground (default 0)\n"
      "  --course DEG          course over ground, degrees true (default 0)\n"
      "  --fix none|2d|3d      fix reported (default 3d)\n"
      "  --satellites LIST     PRN:ELEVATION:AZIMUTH:SNR,... up to 12 satellites,\n"
      "                        SNR 0 = in view but not tracked; \"none\" for none\n"
      "                        (default 8 satellites, 7 of them tracked)\n"
      "\n"
      "Replay:\n"
      "  --replay FILE         send a capture instead of simulating: \"#\" comment\n"
      "                        lines are skipped, NMEA lines get the CR back before\n"
      "                        their LF, binary frames go out unchanged. On a\n"
      "                        pseudo-terminal the replay starts when the other side\n"
      "                        opens it. Received traffic is only reported.\n"
      "  --loop                replay again and again (default: once, then quiet)\n"
      "\n"
      "Protocol:\n"
      "  NMEA mode: GGA, GSA, GSV (one per 4 satellites) and RMC every second;\n"
      "  GLL, VTG and ZDA can be turned on. PSRF103 (msg 0 GGA, 1 GLL, 2 GSA, 3 GSV,\n"
      "  4 RMC, 5 VTG, 8 ZDA; mode 0 sets the rate in seconds, 1 sends it once;\n"
      "  cksumEnable 0 drops the checksum). PSRF100,0,BAUD,8,1,0 switches to SiRF\n"
      "  binary. Input sentences need a correct checksum.\n"
      "  Binary mode: messages 2 and 4 every second. 132 is answered with message 6\n"
      "  (base text, then maker's text), 152 with 19, 168 with 43 (for 0x80 and\n"
      "  0x88), 166 sets the rates of 2 and 4 (mode 0) or polls one (mode 1), 129\n"
      "  switches to NMEA with the rates it carries. Set messages (128, 130, 133,\n"
      "  134, 136, 143, 148, 149, 151, 166) get message 11, other messages 12.\n"
      "\n"
      "Scenarios:\n";
  for (const auto& s : kScenarios) {
    std::string line = std::string("  ") + s.name;
    line.resize(22, ' ');
    // Wrap the description at about 78 columns.
    std::stringstream words(s.description);
    std::string word;
    std::string current = line;
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
  for (int i = 1; i < argc; ++i) {
    std::string opt = argv[i];
    auto needValue = [&](std::string& value) {
      if (i + 1 >= argc) {
        error = opt + " needs a value";
        return false;
      }
      value = argv[++i];
      return true;
    };
    std::string value;
    long long number = 0;
    double real = 0;
    if (opt == "--help" || opt == "-h") {
      error.clear();
      return false;
    } else if (opt == "--verbose" || opt == "-v") {
      verbose = true;
    } else if (opt == "--loop") {
      loop = true;
    } else if (opt == "--noise") {
      behaviour.noise = true;
    } else if (opt == "--refuse-sets") {
      behaviour.refuseSets = true;
    } else if (opt == "--any-line-settings") {
      checkLineSettings = false;
    } else if (opt == "--scenario") {
      if (!needValue(value)) return false;  // applied above
    } else if (opt == "--link") {
      if (!needValue(linkPath)) return false;
    } else if (opt == "--device") {
      if (!needValue(device)) return false;
    } else if (opt == "--replay") {
      if (!needValue(replayFile)) return false;
    } else if (opt == "--baud") {
      if (!needValue(value)) return false;
      if (!ParseInt(value, number) || !ValidBaud(number)) {
        error = "--baud: unsupported rate " + value;
        return false;
      }
      baud = static_cast<int>(number);
    } else if (opt == "--seconds") {
      if (!needValue(value)) return false;
      // The run's end must stay within the clock's range.
      if (!ParseDouble(value, real) || real <= 0 || real > kMaxSeconds) {
        error = "--seconds needs a positive number of at most " + std::to_string(kMaxSeconds);
        return false;
      }
      seconds = real;
    } else if (opt == "--start") {
      if (!needValue(value)) return false;
      if (value == "nmea") behaviour.start = StartMode::Nmea;
      else if (value == "binary") behaviour.start = StartMode::Binary;
      else if (value == "silent") behaviour.start = StartMode::Silent;
      else {
        error = "--start: nmea, binary or silent";
        return false;
      }
    } else if (opt == "--version-answers") {
      if (!needValue(value)) return false;
      if (!ParseInt(value, number) || number < 0 || number > 2) {
        error = "--version-answers: 0, 1 or 2";
        return false;
      }
      behaviour.nmeaVersionAnswers = static_cast<int>(number);
    } else if (opt == "--binary-versions") {
      if (!needValue(value)) return false;
      if (value == "both") behaviour.binaryVersions = BinaryVersions::Both;
      else if (value == "base") behaviour.binaryVersions = BinaryVersions::BaseOnly;
      else if (value == "maker") behaviour.binaryVersions = BinaryVersions::MakerOnly;
      else if (value == "none") behaviour.binaryVersions = BinaryVersions::None;
      else {
        error = "--binary-versions: both, base, maker or none";
        return false;
      }
    } else if (opt == "--nmea-version2" || opt == "--nmea-version1") {
      if (!needValue(value)) return false;
      // "$PXVRSWV,n," and "*hh\r\n" leave 83 characters below 100 bytes.
      if (!VersionTextOk(value, 83, error)) return false;
      (opt == "--nmea-version2" ? nmeaVersion2 : nmeaVersion1) = value;
    } else if (opt == "--base-version" || opt == "--maker-version") {
      if (!needValue(value)) return false;
      if (!VersionTextOk(value, 200, error)) return false;
      (opt == "--base-version" ? baseVersion : makerVersion) = value;
    } else if (opt == "--seed") {
      if (!needValue(value)) return false;
      if (!ParseInt(value, number) || number < 0 || number > 0xFFFFFFFFLL) {
        error = "--seed needs a number";
        return false;
      }
      seed = static_cast<uint32_t>(number);
    } else if (opt == "--lat" || opt == "--lon" || opt == "--alt" || opt == "--speed" ||
               opt == "--course") {
      if (!needValue(value)) return false;
      if (!ParseDouble(value, real)) {
        error = opt + " needs a number";
        return false;
      }
      if (opt == "--lat") {
        if (real < -89.999 || real > 89.999) {
          error = "--lat out of range";
          return false;
        }
        latitude = real;
      } else if (opt == "--lon") {
        if (real < -180 || real > 180) {
          error = "--lon out of range";
          return false;
        }
        longitude = real;
      } else if (opt == "--alt") {
        if (real < -1000 || real > 18000) {
          error = "--alt out of range";
          return false;
        }
        altitude = real;
      } else if (opt == "--speed") {
        if (real < 0 || real > 999) {
          error = "--speed out of range (0-999 knots)";
          return false;
        }
        speedKnots = real;
      } else {
        if (real < 0 || real >= 360) {
          error = "--course out of range (0-359.99)";
          return false;
        }
        courseDegrees = real;
      }
    } else if (opt == "--time") {
      if (!needValue(value)) return false;
      if (!ParseTime(value, startTime)) {
        error = "--time: YYYY-MM-DDTHH:MM:SS (UTC, 1980-2099)";
        return false;
      }
    } else if (opt == "--fix") {
      if (!needValue(value)) return false;
      if (value == "none") fix = FixKind::None;
      else if (value == "2d") fix = FixKind::TwoD;
      else if (value == "3d") fix = FixKind::ThreeD;
      else {
        error = "--fix: none, 2d or 3d";
        return false;
      }
    } else if (opt == "--satellites") {
      if (!needValue(value)) return false;
      if (!ParseSatellites(value, satellites, error)) return false;
    } else {
      error = "unknown option " + opt + " (see --help)";
      return false;
    }
  }
  if (!device.empty() && !linkPath.empty()) {
    error = "--link only applies to a pseudo-terminal, not with --device";
    return false;
  }
  if (loop && replayFile.empty()) {
    error = "--loop only applies to --replay";
    return false;
  }
  if (startTime < 0) startTime = static_cast<int64_t>(std::time(nullptr));
  return true;
}
