#include "HostOptions.h"

#include "Number.h"
#include "ReceiverRate.h"

namespace {

CommandLine::Action Text(std::string& target) {
  return [&target](const std::string& value, std::string&) {
    target = value;
    return true;
  };
}

CommandLine::Action Flag(bool& target) {
  return [&target](const std::string&, std::string&) { return target = true; };
}

}  // namespace

bool HostOptions::ParseSleeve(const std::string& text, DWORD* sleeveId) {
  long long value = 0;
  if (text == "gps")
    *sleeveId = kGpsSleeve;
  else if (text == "second")
    *sleeveId = kSecondSleeve;
  else if (Number::Integer(text, 1, 0xFFFFFFFFll, &value, true) == Number::Read::kOk)
    *sleeveId = static_cast<DWORD>(value);
  else
    return false;
  return true;
}

CommandLine::Options HostOptions::RateOptions() {
  return {
      {nullptr, "--receiver-baud", nullptr, "N",
       "no hunt: the receiver is at N baud (57600: left alone)",
       [this](const std::string& value, std::string& error) {
         long long given = 0;
         if (ReceiverRate::ParseBaud(value, &given)) {
           baud = static_cast<int>(given);
           return true;
         }
         error = "--receiver-baud " + value +
                 ": not a receiver line rate (4800, 9600, 19200, 38400, 57600, 115200)";
         return false;
       }},
      {nullptr, "--keep-rate", nullptr, nullptr, "leave the receiver at 57600 baud at the end",
       Flag(keepRate)},
  };
}

CommandLine::Options HostOptions::SimulatorOptions() {
  return {
      {nullptr, "--scenario", nullptr, "NAME",
       "the receiver simulator's scenario (receiver-sim --help)", Text(scenario)},
      {nullptr, "--replay", nullptr, "FILE", "the simulator replays this capture", Text(replay)},
  };
}

CommandLine::Options HostOptions::SleeveOptions() {
  return {
      {nullptr, "--sleeve", nullptr, "second",
       "insert the second sleeve kind, its package installed too\n"
       "(or gps, or a sleeve ID such as 0x01000001)",
       [this](const std::string& value, std::string& error) {
         if (ParseSleeve(value, &sleeveId)) {
           sleeve = value;
           return true;
         }
         error =
             "--sleeve " + value + ": not a sleeve (gps, second or a sleeve ID such as 0x01000001)";
         return false;
       }},
  };
}

CommandLine::Options HostOptions::ViewerOptions() {
  return {
      {nullptr, "--headless", nullptr, nullptr, "no X11 window even when $DISPLAY is set",
       Flag(headless)},
      {nullptr, "--screenshot", nullptr, "FILE",
       "write the screen there (headless: every 3 s; default\n"
       "$TMPDIR/handheld-screen.png), and the last screen at the end",
       Text(screenshot)},
  };
}

CommandLine::Words HostOptions::SimulatorArguments() const {
  if (!replay.empty()) return {"--replay", replay};
  if (!scenario.empty()) return {"--scenario", scenario};
  return {};
}

std::string HostOptions::SimulatorDescription() const {
  if (!replay.empty()) return "replay " + replay;
  return "scenario " + (scenario.empty() ? std::string("normal") : scenario);
}
