// Command line of the receiver simulator: where it runs, what it answers, and
// the sky it reports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the receiver does at power-up.
enum class StartMode { Nmea, Binary, Silent };

// Which software version texts the receiver sends for a binary version poll.
enum class BinaryVersions { Both, BaseOnly, MakerOnly, None };

// How the receiver behaves on the paths of a version query.
struct Behaviour {
  StartMode start = StartMode::Nmea;
  int nmeaVersionAnswers = 2;         // 0: PSRF200 ignored; 1: only selector 2 answered; 2: both
  bool honourBinarySwitch = true;     // PSRF100 to binary is obeyed
  bool binaryOutput = true;           // in binary mode frames are sent at all
  BinaryVersions binaryVersions = BinaryVersions::Both;
  bool honourNmeaSwitch = true;       // message 129 brings NMEA back (else: silence)
  bool noise = false;                 // line noise and corrupted sentences/frames
  bool refuseSets = false;            // set messages answered with 12 instead of 11
};

struct Satellite {
  int prn = 0;
  int elevation = 0;  // degrees
  int azimuth = 0;    // degrees
  int snr = 0;        // dB-Hz, 0 = in view but not tracked
};

enum class FixKind { None, TwoD, ThreeD };

struct SimOptions {
  // Line
  std::string device;      // a real tty; empty = new pseudo-terminal
  std::string linkPath;    // symbolic link to the pseudo-terminal
  int baud = 57600;
  bool checkLineSettings = true;
  double seconds = 0;      // 0 = until interrupted
  bool verbose = false;

  // Behaviour
  std::string scenario = "normal";
  Behaviour behaviour;
  std::string nmeaVersion2 = "GSW2-2.05.024-C1Prod1.1";
  std::string nmeaVersion1 = "Dovrin GPS Sleeve 1.04";
  std::string baseVersion = "GSW2-2.05.024-C1Prod1.1";
  std::string makerVersion = "Dovrin GPS Sleeve 1.04";
  uint32_t seed = 1;

  // Sky
  double latitude = 52.3731;   // degrees, north positive
  double longitude = 4.8922;   // degrees, east positive
  double altitude = 12.0;      // metres above sea level
  int64_t startTime = -1;      // UTC seconds since 1970; -1 = now
  double speedKnots = 0;
  double courseDegrees = 0;
  FixKind fix = FixKind::ThreeD;
  std::vector<Satellite> satellites;

  // Replay
  std::string replayFile;
  bool loop = false;
  bool burst = false;      // the whole capture at the line rate, not cycle by cycle

  // Parses argv. On false, `error` says why (empty when --help was given and
  // printed).
  bool Parse(int argc, char** argv, std::string& error);
  static std::string HelpText();
  // Applies a named scenario to `behaviour`; false for an unknown name.
  static bool ApplyScenario(const std::string& name, Behaviour& behaviour);
  static std::vector<std::string> ScenarioNames();
};
