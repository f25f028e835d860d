// receiver-sim: a SiRF GPS receiver on a pseudo-terminal or a serial port.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "CaptureReader.h"
#include "CommandLine.h"
#include "Receiver.h"
#include "Replay.h"
#include "SerialLine.h"
#include "SimOptions.h"

namespace {

volatile sig_atomic_t gStop = 0;

void OnSignal(int) { gStop = 1; }

void Warn(const std::string& text) { std::fprintf(stderr, "receiver-sim: %s\n", text.c_str()); }

using Clock = std::chrono::steady_clock;

int MsUntil(Clock::time_point when) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count();
  return ms < 0 ? 0 : static_cast<int>(std::min<long long>(ms, 1000));
}

// SIGINT, SIGTERM and SIGHUP end the run; they are only let through while
// waiting, with the mask this gives.
sigset_t CatchEndingSignals() {
  sigset_t blocked, waitMask;
  sigemptyset(&blocked);
  for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&blocked, number);
  sigprocmask(SIG_BLOCK, &blocked, &waitMask);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int number : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(number, &action, nullptr);
    sigdelset(&waitMask, number);
  }
  signal(SIGPIPE, SIG_IGN);
  return waitMask;
}

// The receiver's life on the line until its time is up or a signal ends
// it: a second of output each second (or the replay's bytes when due), and
// whatever the line brings.
void Serve(const SimOptions& options, SerialLine& line, Receiver& receiver, Replay* replay,
           const sigset_t& waitMask) {
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(options.seconds));
  auto nextSecond = start;
  while (!gStop) {
    auto now = Clock::now();
    if (options.seconds > 0 && now >= end) break;

    int replayWait = -1;
    if (replay) {
      replayWait = replay->Step(line, now);
    } else if (now >= nextSecond) {
      receiver.OnSecond();
      nextSecond += std::chrono::seconds(1);
    }

    int wait = line.Pump();
    int untilDue = replay ? (replayWait < 0 ? 1000 : replayWait) : MsUntil(nextSecond);
    wait = wait < 0 ? untilDue : std::min(wait, untilDue);
    if (options.seconds > 0) wait = std::min(wait, MsUntil(end) + 1);
    // A pseudo-terminal without a listener reports a hang-up at once; look
    // again a little later instead of spinning.
    bool listener = line.HasListener();
    if (!listener) wait = std::min(wait, 20);

    // (A hung-up descriptor would make the wait return at once, and the
    // signals let through only while waiting would never arrive.)
    pollfd p{listener ? line.Fd() : -1, POLLIN, 0};
    timespec timeout{wait / 1000, (wait % 1000) * 1000000L};
    int ready = ppoll(&p, 1, &timeout, &waitMask);
    if (ready > 0 && (p.revents & POLLIN)) {
      auto bytes = line.Receive();
      if (!bytes.empty()) receiver.OnBytes(bytes);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  SimOptions options;
  std::string error;
  if (!options.Parse(argc, argv, error))
    return error.empty() ? CommandLine::ShowHelp(SimOptions::HelpText())
                         : CommandLine::Refuse("receiver-sim", error);

  if (options.makerVersion.find("Dovrin") == std::string::npos)
    Warn("the maker's version text has no \"Dovrin\" in it: a viewer takes it for a base version");

  std::vector<uint8_t> replayStream;
  if (!options.replayFile.empty() && !CaptureReader::Load(options.replayFile, replayStream, error)) {
    Warn(error);
    return 1;
  }
  if (!options.replayFile.empty() && replayStream.empty())
    Warn(options.replayFile + ": nothing to replay (the file is empty or holds only comments)");

  const sigset_t waitMask = CatchEndingSignals();

  SerialLine line;
  line.SetCheckLineSettings(options.checkLineSettings);
  line.onWarning = Warn;
  bool opened = options.device.empty() ? line.OpenPty(options.baud, options.linkPath, error)
                                       : line.OpenDevice(options.device, options.baud, error);
  if (!opened) {
    Warn(error);
    return 1;
  }
  std::printf("%s\n", line.Path().c_str());
  std::fflush(stdout);

  bool replaying = !options.replayFile.empty();
  Receiver receiver(options, line, replaying);
  if (options.verbose) {
    Warn(std::string("on ") + line.Path() + ", scenario " + options.scenario + ", starting in " +
         (replaying ? "replay of " + options.replayFile
                    : std::string(Receiver::ModeName(receiver.mode()))));
  }

  Replay replay(replayStream, options.burst, options.loop, [&options](const std::string& text) {
    if (options.verbose) Warn(text);
  });
  Serve(options, line, receiver, replaying ? &replay : nullptr, waitMask);
  if (options.verbose) Warn(gStop ? "interrupted, stopping" : "time is up, stopping");
  line.Close();
  return 0;
}
