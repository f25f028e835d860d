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
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "ReceiverLink.h"
#include "ReceiverVersionQuery.h"
#include "ViewerState.h"
#include "handheld.h"

namespace {

const char16_t kPortName[] = u"COM3:";
const char16_t kSleeveDriverKey[] = u"Drivers\\Tessiv\\0100\\0001";
const char16_t kNoVersion[] = u"Failed to get SW Version";

// A device folder of its own, removed again when the tool ends: by the
// destructor on a normal exit, and by a watcher thread when SIGINT, SIGTERM
// or SIGHUP ends the tool (these signals are blocked in every other thread,
// so they reach only the watcher, which may do ordinary work).
class TemporaryDevice {
 public:
  TemporaryDevice() {
    sigset_t signals = EndingSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::error_code error;
    std::string pattern = (std::filesystem::temp_directory_path(error) / "receiver-version-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    std::thread(&TemporaryDevice::Watch, path_).detach();
  }
  ~TemporaryDevice() { Remove(path_); }
  TemporaryDevice(const TemporaryDevice&) = delete;
  TemporaryDevice& operator=(const TemporaryDevice&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }

 private:
  static sigset_t EndingSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, signal);
    return signals;
  }

  // Other threads may still be writing into the folder (the hive's log files
  // come and go at any time), so an entry made while it is being emptied
  // keeps it: empty it again until it is gone.
  static void Remove(const std::string& path) {
    if (path.empty()) return;
    std::error_code ignored;
    for (int attempt = 0; attempt < 100 && std::filesystem::exists(path, ignored); ++attempt)
      std::filesystem::remove_all(path, ignored);
  }

  // Waits for an ending signal, removes the folder and ends the process
  // by that signal.
  static void Watch(std::string path) {
    sigset_t signals = EndingSignals();
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) return;
    Remove(path);
    std::signal(signal, SIG_DFL);
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    raise(signal);
    _exit(128 + signal);
  }

  std::string path_;
};

int Run(const std::string& hostDevice) {
  TemporaryDevice device;
  if (!device.ok()) {
    std::fprintf(stderr, "receiver-version: cannot create a temporary device folder\n");
    return 1;
  }
  handheld::SetDeviceFolder(device.path());
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
  if (argc == 2 && std::string(argv[1]) == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc != 2 || argv[1][0] == '\0') {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (!CheckHostDevice("receiver-version", argv[1])) return 1;
  return Run(argv[1]);
}
