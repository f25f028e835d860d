// receiver-rate: finds the line rate of a SiRF receiver on a serial device
// and brings it to NMEA at 57600 baud, or gives it back as it was found.
//
//   receiver-rate DEVICE [--receiver-baud N] [--restore RATE,PROTOCOL]
//
// What was done goes to standard output, a failure to standard error.
// Exit code 0 on success, 1 on failure, 2 for a usage error; Ctrl-C ends a
// hunt early.
#include <csignal>
#include <cstdio>
#include <string>

#include "CommandLine.h"
#include "ReceiverRate.h"

namespace {

volatile sig_atomic_t gStop = 0;

void OnSignal(int) { gStop = 1; }

struct Settings {
  long long givenBaud = 0;
  bool restore = false;
  ReceiverRate::Setting setting;
};

CommandLine::Options Table(Settings& s) {
  return {
      {nullptr, "--receiver-baud", nullptr, "N",
       "no hunt: the receiver is at N baud (57600: the\n"
       "device is not touched)",
       [&s](const std::string& v, std::string& e) {
         if (ReceiverRate::ParseBaud(v, &s.givenBaud)) return true;
         e = "--receiver-baud: unsupported rate";
         return false;
       }},
      {nullptr, "--restore", nullptr, "RATE,PROTOCOL",
       "switch a receiver at 57600 baud back to RATE in\n"
       "PROTOCOL (nmea or binary), e.g. 4800,nmea",
       [&s](const std::string& v, std::string& e) {
         s.restore = true;
         if (ReceiverRate::ParseSetting(v, s.setting)) return true;
         e = "--restore: expected RATE,nmea or RATE,binary";
         return false;
       }},
  };
}

std::string Usage() {
  Settings unused;
  return "Usage: receiver-rate DEVICE [--receiver-baud N] [--restore RATE,PROTOCOL]\n"
         "Finds the SiRF receiver on DEVICE (a serial device or pseudo-terminal) by\n"
         "listening at 57600, 4800, 9600, 19200, 38400 and 115200 baud in turn, and\n"
         "switches it to NMEA at 57600 baud, the viewer's rate.\n" +
         CommandLine::Help(Table(unused), 27);
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  CommandLine::Options options = Table(settings);
  options.push_back({nullptr, "--help", nullptr, nullptr, "show this text", nullptr});
  CommandLine::Words devices;
  std::string error;
  switch (CommandLine::Parse(options, CommandLine::Arguments(argc, argv), &devices, error)) {
    case CommandLine::Parsed::kHelp: return CommandLine::ShowHelp(Usage());
    case CommandLine::Parsed::kWrong: return CommandLine::Refuse("receiver-rate", error, Usage());
    case CommandLine::Parsed::kDone: break;
  }
  if (devices.empty() || devices[0].empty())
    return CommandLine::Refuse("receiver-rate", "no device given", Usage());
  if (devices.size() > 1)
    return CommandLine::Refuse("receiver-rate", "unexpected argument " + devices[1], Usage());
  if (settings.restore && settings.givenBaud != 0)
    return CommandLine::Refuse("receiver-rate", "--restore and --receiver-baud exclude each other",
                               Usage());

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  ReceiverRate rate(devices[0]);
  rate.SetStop([] { return gStop != 0; });
  std::string report;
  const bool ok = settings.restore
                      ? rate.Restore(settings.setting, report)
                      : rate.BringToViewerRate(static_cast<int>(settings.givenBaud), report);
  std::fprintf(ok ? stdout : stderr, "%s%s\n", ok ? "" : "receiver-rate: ", report.c_str());
  return ok ? 0 : 1;
}
