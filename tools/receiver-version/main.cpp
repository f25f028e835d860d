// receiver-version: reads a GPS receiver's software version the way the
// viewer does at start-up and prints it.
//
//   receiver-version DEVICE
//
// DEVICE is a host serial device or pseudo-terminal. It is listed as the GPS
// sleeve's COM port in a temporary device folder, found again with the
// viewer's own port search, opened at 57600 baud with a sentence reader
// attached, and asked for its version (NMEA first, SiRF binary if need be;
// the receiver is left in NMEA). The text goes to standard output in UTF-8;
// message boxes are printed on standard error. Exit code 0 when a version
// was read, 1 otherwise, 2 for a usage error.
#include <windows.h>

#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "CommandLine.h"
#include "ReceiverLink.h"
#include "ReceiverVersionQuery.h"
#include "ViewerState.h"
#include "handheld.h"

namespace {

const char16_t kPortName[] = u"COM3:";
const char16_t kSleeveDriverKey[] = u"Drivers\\Tessiv\\0100\\0001";
const char16_t kNoVersion[] = u"Failed to get SW Version";

// The tool runs its query in a child process with a device folder of its
// own, which this process removes once nothing can write into it any more:
// after the child has ended, or after killing it when SIGINT, SIGTERM or
// SIGHUP ends the tool. (Removing it beside the query's threads would race
// with them: the hive makes its files, and the folder itself, again at any
// time.)
sigset_t AwaitedSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&signals, signal);
  return signals;
}

int Run(const std::string& hostDevice, const std::string& folder);

int RunInOwnFolder(const std::string& hostDevice) {
  sigset_t signals = AwaitedSignals();
  std::signal(SIGCHLD, SIG_DFL);  // an ignored one would leave nothing to wait for
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::error_code error;
  std::string folder =
      (std::filesystem::temp_directory_path(error) / "receiver-version-XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr) {
    std::fprintf(stderr, "receiver-version: cannot create a temporary device folder\n");
    return 1;
  }
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    std::exit(Run(hostDevice, folder));
  }
  int status = 0;
  int ending = 0;
  if (child < 0) {
    std::perror("receiver-version: fork");
    status = 1 << 8;
  } else {
    for (;;) {
      int signal = 0;
      if (sigwait(&signals, &signal) != 0) continue;
      if (signal != SIGCHLD) {
        ending = signal;
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        break;
      }
      if (waitpid(child, &status, WNOHANG) == child) break;
    }
  }
  std::filesystem::remove_all(folder, error);
  if (ending) {
    std::signal(ending, SIG_DFL);
    sigset_t end;
    sigemptyset(&end);
    sigaddset(&end, ending);
    pthread_sigmask(SIG_UNBLOCK, &end, nullptr);
    raise(ending);
    return 128 + ending;
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

int Run(const std::string& hostDevice, const std::string& folder) {
  handheld::SetDeviceFolder(folder);
  handheld::RegisterSerialPort(kPortName, kSleeveDriverKey, hostDevice);

  WCHAR port[kReceiverPortChars];
  WCHAR version[kReceiverVersionChars];
  if (!StartReceiverLink("receiver-version", port, version)) return 1;
  ViewerState::DeleteSession();

  std::printf("%s\n", handheld::ToUtf8(version).c_str());
  std::fflush(stdout);
  const bool read = version[0] != 0 && lstrcmp(version, kNoVersion) != 0;
  return read ? 0 : 1;
}

const char kUsage[] =
    "Usage: receiver-version DEVICE\n"
    "Reads the software version of the GPS receiver on DEVICE (a serial\n"
    "device or pseudo-terminal) as the viewer does and prints it.\n";

}  // namespace

int main(int argc, char** argv) {
  const CommandLine::Options options{
      {nullptr, "--help", nullptr, nullptr, "show this text", nullptr}};
  CommandLine::Words devices;
  std::string error;
  switch (CommandLine::Parse(options, CommandLine::Arguments(argc, argv), &devices, error)) {
    case CommandLine::Parsed::kHelp: return CommandLine::ShowHelp(kUsage);
    case CommandLine::Parsed::kWrong: return CommandLine::Refuse("receiver-version", error, kUsage);
    case CommandLine::Parsed::kDone: break;
  }
  if (devices.size() != 1 || devices[0].empty())
    return CommandLine::Refuse("receiver-version", "", kUsage);
  if (!CheckHostDevice("receiver-version", devices[0])) return 1;
  return RunInOwnFolder(devices[0]);
}
