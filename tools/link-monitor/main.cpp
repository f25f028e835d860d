// link-monitor: the viewer's receiver link and status in a terminal.
//
//   link-monitor [--device DEVICE] [--seconds N]
//   link-monitor --device DEVICE --list-only
//
// Finds the receiver's COM port in the handheld's registry the way the
// viewer does (with --device, DEVICE is first listed there as the GPS
// sleeve's port "COM3:", replacing the list of active drivers as a boot
// does), opens it at 57600 baud, reads the receiver's software version as
// the viewer does at start-up, and then every 500 ms drains the complete
// sentences, decodes them and prints a status line. With --list-only it
// only lists DEVICE and ends, so that quelmar finds it.
#include <windows.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "CommandLine.h"
#include "NmeaReader.h"
#include "Number.h"
#include "ReceiverLink.h"
#include "ReceiverVersionQuery.h"
#include "SerialSession.h"
#include "ViewerState.h"
#include "handheld.h"

namespace {

const DWORD kPollMs = 500;
// Silence after which the monitor says that nothing comes.
const DWORD kSilenceMs = 5000;

volatile std::sig_atomic_t stopRequested = 0;
void OnSignal(int) { stopRequested = 1; }

bool ListPort(const std::string& hostDevice) {
  if (!CheckHostDevice("link-monitor", hostDevice) || !CheckHive("link-monitor")) return false;
  RegDeleteKey(HKEY_LOCAL_MACHINE, TEXT("Drivers\\Active"));
  handheld::RegisterSerialPort(u"COM3:", u"Drivers\\Tessiv\\0100\\0001", hostDevice);
  return true;
}

// Drains the reader's complete sentences into its records, as the viewer's
// poll does; returns how many were accepted.
int Drain(NmeaReader& reader) {
  int accepted = 0;
  char sentence[NmeaReader::kSentenceBufferSize];
  WORD length = 0;
  while (reader.HasSentence()) {
    if (!reader.ReadSentence(sentence, length)) continue;
    reader.DecodeSentence(sentence);
    ++accepted;
  }
  return accepted;
}

void PrintStatus(const NmeaReader& reader) {
  const GsvRecord& gsv = reader.Gsv();
  const GsaRecord& gsa = reader.Gsa();
  const RmcRecord& rmc = reader.Rmc();
  int tracked = 0, sum = 0, best = 0, worst = 0;
  for (const SatelliteRow& row : gsv.channels) {
    if (row.prn <= 0 || row.snr == 0) continue;
    if (tracked == 0 || row.snr < worst) worst = row.snr;
    if (row.snr > best) best = row.snr;
    sum += row.snr;
    ++tracked;
  }
  const char* fix = gsa.fixMode == '3' ? "3D" : gsa.fixMode == '2' ? "2D" : "none";
  std::printf("UTC %-10s fix %-4s %s  %s %c  %s %c  satellites %2d  signal %2d/%2d/%2d dB\n",
              rmc.utcTime, fix, rmc.status == 'A' ? "valid  " : "invalid", rmc.latitude,
              rmc.latHemisphere ? rmc.latHemisphere : ' ', rmc.longitude,
              rmc.lonHemisphere ? rmc.lonHemisphere : ' ', tracked, best,
              tracked ? sum / tracked : 0, worst);
  std::fflush(stdout);
}

int Run(const char* device, long seconds, bool listOnly) {
  if (device != nullptr && !ListPort(device)) return 1;
  if (listOnly) return 0;
  WCHAR port[kReceiverPortChars];
  WCHAR version[kReceiverVersionChars];
  if (!StartReceiverLink("link-monitor", port, version)) return 1;
  std::printf("Receiver port %s at %u baud\n", handheld::ToUtf8(port).c_str(),
              ViewerState::session->BaudRate());
  std::printf("Receiver software version: %s\n", handheld::ToUtf8(version).c_str());
  std::fflush(stdout);

  const DWORD start = GetTickCount();
  DWORD lastPrinted = 0;
  DWORD lastData = start;
  bool silenceSaid = false;
  while (!stopRequested && (seconds <= 0 || GetTickCount() - start < DWORD(seconds) * 1000)) {
    Sleep(kPollMs);
    // The session closes itself when its device is removed.
    if (!ViewerState::session->IsOpen()) {
      std::fprintf(stderr, "link-monitor: the receiver has gone (its port hung up)\n");
      ViewerState::DeleteSession();
      return 1;
    }
    NmeaReader* reader = ViewerState::currentReader;
    if (reader == nullptr) continue;
    if (Drain(*reader) > 0) {
      lastData = GetTickCount();
      silenceSaid = false;
    } else if (!silenceSaid && GetTickCount() - lastData >= kSilenceMs) {
      std::fprintf(stderr, "link-monitor: no data from the receiver for %u s\n",
                   static_cast<unsigned>(kSilenceMs / 1000));
      silenceSaid = true;
    }
    if (reader->Rmc().count != lastPrinted) {
      lastPrinted = reader->Rmc().count;
      PrintStatus(*reader);
    }
  }
  ViewerState::DeleteSession();
  return 0;
}

struct Settings {
  std::string device;
  long seconds = 0;
  bool listOnly = false;
};

// Seconds are whole and their milliseconds fit the tick count.
const long kMaxSeconds = 0xFFFFFFFFul / 1000;

CommandLine::Options Table(Settings& s) {
  return {
      {nullptr, "--device", nullptr, "DEVICE",
       "list this serial device or pseudo-terminal as the GPS\n"
       "sleeve's port COM3: in the handheld's registry first",
       [&s](const std::string& v, std::string&) {
         s.device = v;
         return true;
       }},
      {nullptr, "--seconds", nullptr, "N",
       "stop after N seconds, 1 to 4294967 (default: run until\n"
       "interrupted)",
       [&s](const std::string& v, std::string& e) {
         long long number = 0;
         if (Number::Integer(v, 1, kMaxSeconds, &number) == Number::Read::kOk) {
           s.seconds = static_cast<long>(number);
           return true;
         }
         e = "--seconds: " + v + " is not a whole number from 1 to 4294967";
         return false;
       }},
      {nullptr, "--list-only", nullptr, nullptr, "only list DEVICE (for quelmar) and end",
       [&s](const std::string&, std::string&) {
         s.listOnly = true;
         return true;
       }},
      {nullptr, "--help", nullptr, nullptr, "show this text", nullptr},
  };
}

std::string Usage() {
  Settings unused;
  return "Usage: link-monitor [--device DEVICE] [--seconds N]\n"
         "       link-monitor --device DEVICE --list-only\n"
         "Shows the GPS receiver's status as the viewer reads it.\n" +
         CommandLine::Help(Table(unused), 19) +
         "The handheld's device folder is $HANDHELD_DEVICE (see the README).\n";
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  std::string error;
  switch (CommandLine::Parse(Table(settings), CommandLine::Arguments(argc, argv), nullptr, error)) {
    case CommandLine::Parsed::kHelp: return CommandLine::ShowHelp(Usage());
    case CommandLine::Parsed::kWrong: return CommandLine::Refuse("link-monitor", error, Usage());
    case CommandLine::Parsed::kDone: break;
  }
  if (settings.listOnly && settings.device.empty())
    return CommandLine::Refuse("link-monitor", "--list-only needs --device", Usage());
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  return Run(settings.device.empty() ? nullptr : settings.device.c_str(), settings.seconds,
             settings.listOnly);
}
