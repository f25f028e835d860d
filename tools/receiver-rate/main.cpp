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
#include <cstdlib>
#include <string>

#include "ReceiverRate.h"

namespace {

volatile sig_atomic_t gStop = 0;

void OnSignal(int) { gStop = 1; }

const char kUsage[] =
    "Usage: receiver-rate DEVICE [--receiver-baud N] [--restore RATE,PROTOCOL]\n"
    "Finds the SiRF receiver on DEVICE (a serial device or pseudo-terminal) by\n"
    "listening at 57600, 4800, 9600, 19200, 38400 and 115200 baud in turn, and\n"
    "switches it to NMEA at 57600 baud, the viewer's rate.\n"
    "  --receiver-baud N        no hunt: the receiver is at N baud (57600: the\n"
    "                           device is not touched)\n"
    "  --restore RATE,PROTOCOL  switch a receiver at 57600 baud back to RATE in\n"
    "                           PROTOCOL (nmea or binary), e.g. 4800,nmea\n";

int Usage(const char* why) {
  std::fprintf(stderr, "receiver-rate: %s\n%s", why, kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string device;
  long givenBaud = 0;
  bool restore = false;
  ReceiverRate::Setting setting;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--receiver-baud" && i + 1 < argc) {
      char* end = nullptr;
      givenBaud = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || !ReceiverRate::ValidBaud(givenBaud))
        return Usage("--receiver-baud: unsupported rate");
    } else if (arg == "--restore" && i + 1 < argc) {
      restore = true;
      if (!ReceiverRate::ParseSetting(argv[++i], setting))
        return Usage("--restore: expected RATE,nmea or RATE,binary");
    } else if (arg.empty() || arg[0] == '-' || !device.empty()) {
      return Usage(("unexpected argument " + arg).c_str());
    } else {
      device = arg;
    }
  }
  if (device.empty()) return Usage("no device given");
  if (restore && givenBaud != 0) return Usage("--restore and --receiver-baud exclude each other");

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  ReceiverRate rate(device);
  rate.SetStop([] { return gStop != 0; });
  std::string report;
  const bool ok = restore ? rate.Restore(setting, report) : rate.BringToViewerRate(givenBaud, report);
  std::fprintf(ok ? stdout : stderr, "%s%s\n", ok ? "" : "receiver-rate: ", report.c_str());
  return ok ? 0 : 1;
}
