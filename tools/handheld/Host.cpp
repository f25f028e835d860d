#include "Host.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "PostedMessage.h"
#include "handheld.h"
#include "handheld_package.h"

namespace {

using handheld::FromUtf8;
using handheld::ToUtf8;
using handheld::ActiveDriver;
using handheld::ActiveDrivers;
using Clock = std::chrono::steady_clock;

constexpr DWORD kGpsSleeve = HostOptions::kGpsSleeve;
constexpr DWORD kSecondSleeve = HostOptions::kSecondSleeve;
constexpr char16_t kIdentityKey[] = u"SYSTEM\\CurrentControlSet\\AdvancedCPL\\DM";
constexpr char16_t kBusName[] = u"OPT1:";
constexpr UINT kWmCommand = 0x0111;
constexpr int kExitCommand = 40002;
// How long the bus driver may take for a client: its identity wait (5 s)
// and the activation.
constexpr DWORD kClientWaitMs = 7000;
constexpr auto kScreenshotEvery = std::chrono::seconds(3);
constexpr auto kCursorLookEvery = std::chrono::milliseconds(250);
constexpr auto kProgressEvery = std::chrono::seconds(5);

// ---- the registry, as the host reads and writes it ----

std::u16string ReadText(const std::u16string& path, const char16_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, 0, &key) != ERROR_SUCCESS) return {};
  WCHAR text[512] = {};
  DWORD type = REG_NONE, bytes = sizeof text - sizeof(WCHAR);
  const LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(text), &bytes);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return {};
  text[bytes / sizeof(WCHAR)] = u'\0';
  return text;
}

bool ReadDword(const std::u16string& path, const char16_t* name, DWORD* value) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, 0, &key) != ERROR_SUCCESS) return false;
  DWORD type = REG_NONE, bytes = sizeof *value;
  const LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(value), &bytes);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS && type == REG_DWORD && bytes == sizeof *value;
}

bool WriteText(const std::u16string& path, const char16_t* name, const std::u16string& text) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, 0, &key) != ERROR_SUCCESS) return false;
  const LONG rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

bool KeyExists(const std::u16string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, 0, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

std::vector<std::u16string> Subkeys(const std::u16string& path) {
  std::vector<std::u16string> names;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, 0, &key) != ERROR_SUCCESS) return names;
  for (DWORD i = 0;; ++i) {
    WCHAR name[256];
    DWORD chars = 256;
    if (RegEnumKeyExW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    names.push_back(path + u"\\" + name);
  }
  RegCloseKey(key);
  return names;
}

// The sleeves' client keys, "Drivers\Tessiv\XXXX\XXXX".
std::vector<std::u16string> ClientKeys() {
  std::vector<std::u16string> keys;
  for (const std::u16string& upper : Subkeys(u"Drivers\\Tessiv"))
    for (const std::u16string& key : Subkeys(upper)) keys.push_back(key);
  return keys;
}

std::u16string ClientKey(DWORD sleeveId) {
  char text[32];
  std::snprintf(text, sizeof text, "Drivers\\Tessiv\\%04X\\%04X",
                static_cast<unsigned>(sleeveId >> 16), static_cast<unsigned>(sleeveId & 0xFFFF));
  return FromUtf8(text);
}

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

std::string SleeveName(DWORD sleeveId) {
  if (sleeveId == kGpsSleeve) return "the GPS sleeve (" + Hex(sleeveId) + ")";
  if (sleeveId == kSecondSleeve) return "the second sleeve kind (" + Hex(sleeveId) + ")";
  return "a sleeve " + Hex(sleeveId);
}

bool FindRecord(const std::u16string& key, ActiveDriver* found) {
  for (const ActiveDriver& record : ActiveDrivers())
    if (record.key == key) {
      *found = record;
      return true;
    }
  return false;
}

bool BusDriverLoaded() {
  for (const ActiveDriver& record : ActiveDrivers())
    if (record.name == kBusName) return true;
  return false;
}

// The client driver's record, if one is listed.
bool FindClient(ActiveDriver* found) {
  for (const ActiveDriver& record : ActiveDrivers())
    if (record.key.rfind(u"Drivers\\Tessiv\\", 0) == 0) {
      *found = record;
      return true;
    }
  return false;
}

std::string Seconds(Clock::duration elapsed) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(elapsed).count());
  return text;
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  std::istringstream in(line);
  while (std::getline(in, word, '\t'))
    if (!word.empty()) words.push_back(word);
  return words;
}

std::string HivePath() { return handheld::DeviceFolder() + "/registry.db"; }

bool ViewerReplyOk(const std::string& reply) {
  return reply == "ok" || reply.rfind("ok ", 0) == 0;
}

}  // namespace

Host::Host(Programs programs) : programs_(std::move(programs)) {}

Host::~Host() { Shutdown(); }

void Host::Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  if (transcript_) transcript_->push_back(line);
}

bool Host::Boot(std::string* reason) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const std::string folder = handheld::DeviceFolder();
  std::string why;
  if (!handheld::CheckRegistryHive(&why)) {
    *reason = "cannot use the registry hive in " + folder + ": " + why;
    return false;
  }
  // An installer that died mid-way is rolled back before anything uses the folder.
  if (const handheld::PackageOutcome recovered =
          handheld::RecoverInstallations([this](const std::string& line) { Say(line); });
      !recovered.ok) {
    *reason = recovered.reason;
    return false;
  }
  // The list of loaded drivers is volatile: nothing is loaded at boot.
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Drivers\\Active");
  HKEY key = nullptr;
  for (const char16_t* path : {u"Drivers\\Active", u"Drivers\\PCMCIA\\Detect", kIdentityKey}) {
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, 0, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
      *reason = "cannot use the registry hive in " + folder + ": cannot write to it";
      return false;
    }
    // No sleeve is attached at boot, so no identity is published.
    if (std::u16string(path) == kIdentityKey) RegDeleteValueW(key, u"IDs");
    RegCloseKey(key);
  }
  // Drivers load from what is installed in the handheld's "\Windows" only,
  // as from its ROM: nothing of an uninstalled package.
  handheld::SetModuleFolders({});
  booted_ = true;
  struct stat hive {};
  if (stat(HivePath().c_str(), &hive) == 0) hiveFile_ = {hive.st_dev, hive.st_ino};
  Say("Handheld booted in " + folder);

  struct BuiltIn {
    std::u16string key;
    DWORD order;
  };
  std::vector<BuiltIn> builtIns;
  for (const std::u16string& path : Subkeys(u"Drivers\\BuiltIn")) {
    if (ReadText(path, u"Dll").empty()) continue;
    DWORD order = 0xFFFFFFFF;
    ReadDword(path, u"Order", &order);
    builtIns.push_back({path, order});
  }
  std::stable_sort(builtIns.begin(), builtIns.end(),
                   [](const BuiltIn& a, const BuiltIn& b) { return a.order < b.order; });
  for (const BuiltIn& builtIn : builtIns) {
    if (ActivateDevice(builtIn.key.c_str(), 0) == nullptr) {
      Say("Built-in driver " + ToUtf8(builtIn.key) + " did not load (error " +
          std::to_string(GetLastError()) + ")");
      continue;
    }
    ActiveDriver record;
    FindRecord(builtIn.key, &record);
    Say("Built-in driver " + ToUtf8(builtIn.key) + " loaded as " + ToUtf8(record.name));
  }
  return true;
}

std::string Host::Answer(const std::string& line) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::vector<std::string> transcript;
  transcript_ = &transcript;
  std::string reason;
  const bool ok = Dispatch(SplitTabs(line), &reason);
  transcript_ = nullptr;
  std::string answer = ok ? "ok" : "error " + reason;
  for (const std::string& said : transcript) answer += "\n" + said;
  return answer;
}

bool Host::Run(const std::vector<std::string>& words, std::string* reason) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return Dispatch(words, reason);
}

// The commands: each checks its words and runs; false with no reason for
// words it cannot take, which Dispatch answers with the command's usage.
// One table, as long as its rows.
const std::vector<CommandLine::Command<Host>>& Host::Commands() {
  using Words = CommandLine::Words;
  using Parsed = CommandLine::Parsed;
  static const std::vector<CommandLine::Command<Host>> commands{
      {"install", "[CAB]",
       "a package's cabinet (default: the GPS sleeve's GpsSleeve.CAB,\n"
       "from share/gps-sleeve/packages when installed, else build/setup/)",
       [](Host& host, const Words& args, std::string* reason) {
         return args.size() <= 1 &&
                host.Install(args.empty() ? handheld::DefaultCabinet() : args[0], reason);
       }},
      {"uninstall", "[PACKAGE_NAME]", "(default: every installed package)",
       [](Host& host, const Words& args, std::string* reason) {
         return args.size() <= 1 && host.Uninstall(args.empty() ? "" : args[0], reason);
       }},
      {"insert", "[--sleeve gps|second|ID]", "a sleeve slid on (default: the GPS sleeve)",
       [](Host& host, const Words& args, std::string* reason) {
         HostOptions options;
         return CommandLine::Parse(options.SleeveOptions(), args, nullptr, *reason) ==
                    Parsed::kDone &&
                host.Insert(options.sleeveId, reason);
       }},
      {"remove", "", "the sleeve taken off",
       [](Host& host, const Words& args, std::string* reason) {
         return args.empty() && host.Remove(reason);
       }},
      {"receiver",
       "DEVICE [--receiver-baud N] [--keep-rate]\n"
       "--simulate [--scenario NAME | --replay FILE]",
       "a receiver on DEVICE, or the receiver simulator",
       [](Host& host, const Words& args, std::string* reason) {
         HostOptions options;
         const Words rest(args.begin() + (args.empty() ? 0 : 1), args.end());
         if (!args.empty() && args[0] != "--simulate") {
           if (CommandLine::Parse(options.RateOptions(), rest, nullptr, *reason) != Parsed::kDone ||
               !host.UseReceiverDevice(args[0], reason))
             return false;
           host.BringReceiverToViewerRate(args[0], options.baud, options.keepRate);
           return true;
         }
         if (args.empty() ||
             CommandLine::Parse(options.SimulatorOptions(), rest, nullptr, *reason) != Parsed::kDone ||
             (!options.scenario.empty() && !options.replay.empty()))
           return false;
         return host.SimulateReceiver(options.SimulatorArguments(), options.SimulatorDescription(),
                                      reason);
       }},
      {"start", "[--headless] [--screenshot FILE]", "the viewer",
       [](Host& host, const Words& args, std::string* reason) {
         HostOptions options;
         return CommandLine::Parse(options.ViewerOptions(), args, nullptr, *reason) ==
                    Parsed::kDone &&
                host.StartViewer(options.headless, options.screenshot, reason);
       }},
      {"post", "CLASS MESSAGE [WPARAM [LPARAM]]", "e.g. post QUELMAR WM_COMMAND 40002",
       [](Host& host, const Words& args, std::string* reason) {
         return args.size() >= 2 && args.size() <= 4 && host.Post(args, reason);
       }},
      {"screenshot", "FILE", "the viewer's screen written there",
       [](Host& host, const Words& args, std::string* reason) {
         return args.size() == 1 && host.Screenshot(args[0], reason);
       }},
      {"status", "", "what the handheld holds and runs",
       [](Host& host, const Words& args, std::string* reason) {
         return args.empty() && host.Status(reason);
       }},
      {"shutdown", "", "the viewer, the drivers, the simulator and the host end",
       [](Host& host, const Words& args, std::string*) {
         if (!args.empty()) return false;
         host.ShutdownLocked();
         return true;
       }},
  };
  return commands;
}

bool Host::Dispatch(const std::vector<std::string>& words, std::string* reason) {
  if (words.empty()) {
    *reason = "no command";
    return false;
  }
  if (shutDown_) {
    *reason = "the handheld is shutting down";
    return false;
  }
  const CommandLine::Command<Host>* command = CommandLine::Find(Commands(), words[0]);
  if (command == nullptr) {
    *reason = "unknown command " + words[0];
    return false;
  }
  reason->clear();
  if (command->run(*this, CommandLine::Words(words.begin() + 1, words.end()), reason)) return true;
  if (reason->empty()) *reason = CommandLine::Usage(*command);
  return false;
}

bool Host::Install(const std::string& cabinet, std::string* reason) {
  const handheld::PackageOutcome outcome =
      handheld::InstallPackage(cabinet, [this](const std::string& line) { Say(line); });
  if (!outcome.ok) {
    *reason = outcome.reason;
    return false;
  }
  if (!receiverDevice_.empty()) PointClientKeys();
  std::string loaded;
  for (const ActiveDriver& record : ActiveDrivers())
    loaded += (loaded.empty() ? "" : ", ") + ToUtf8(record.name) + " (" + ToUtf8(record.key) + ")";
  Say("Package installed; loaded drivers: " + (loaded.empty() ? std::string("none") : loaded));
  return true;
}

bool Host::Uninstall(const std::string& packageName, std::string* reason) {
  std::vector<std::string> names{packageName};
  if (packageName.empty()) {
    names = handheld::InstalledPackages();
    if (names.empty()) {
      *reason = "no package is installed";
      return false;
    }
    std::reverse(names.begin(), names.end());  // the last installed first
  }
  // The receiver belongs to the hardware, not to the package: its device
  // leaves the client keys first, so that the package's keys go whole.
  for (const std::u16string& key : ClientKeys()) {
    HKEY client = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, 0, &client) != ERROR_SUCCESS) continue;
    RegDeleteValueW(client, handheld::kHostDeviceValue);
    RegCloseKey(client);
  }
  for (const std::string& name : names) {
    const handheld::PackageOutcome outcome =
        handheld::UninstallPackage(name, [this](const std::string& line) { Say(line); });
    if (!outcome.ok) {
      if (!receiverDevice_.empty()) PointClientKeys();
      *reason = outcome.reason;
      return false;
    }
    Say("Package " + name + " uninstalled");
  }
  if (!receiverDevice_.empty()) PointClientKeys();
  return true;
}

void Host::SetViewerCursor(bool wait) {
  if (viewer_.Running()) ViewerCommand(wait ? "cursor wait" : "cursor arrow");
}

bool Host::Insert(DWORD sleeveId, std::string* reason) {
  const handheld::SleeveState before = handheld::GetSleeveState();
  if (before.attached) Say("Taking off " + SleeveName(before.sleeveId) + " first");
  handheld::InsertSleeve(sleeveId);
  Say("Inserted " + SleeveName(sleeveId));
  const std::u16string clientKey = ClientKey(sleeveId);
  const bool busDriver = BusDriverLoaded();
  const bool registered = KeyExists(clientKey);
  const Clock::time_point start = Clock::now();
  Clock::time_point nextProgress = start + std::chrono::seconds(1);
  bool published = false, loaded = false;
  ActiveDriver client;
  SetViewerCursor(true);
  while (Clock::now() - start < std::chrono::milliseconds(kClientWaitMs)) {
    DWORD ids = 0;
    if (!published && ReadDword(kIdentityKey, u"IDs", &ids) && ids == sleeveId) {
      published = true;
      Say("Identity published: \"IDs\" = " + Hex(ids) + " after " + Seconds(Clock::now() - start));
      if (!busDriver || !registered) break;
    }
    if (published && FindRecord(clientKey, &client)) {
      loaded = true;
      break;
    }
    if (Clock::now() >= nextProgress) {
      Say(std::string(published ? "  the bus driver is loading the client driver... "
                                : "  waiting for the sleeve's identity... ") +
          Seconds(Clock::now() - start));
      nextProgress += std::chrono::seconds(1);
    }
    Sleep(20);
  }
  SetViewerCursor(false);
  if (!published) {
    *reason = "the sleeve's identity was not published within " + Seconds(Clock::now() - start);
    return false;
  }
  if (!busDriver) {
    Say("No bus driver runs (install the package): nothing loads the sleeve's driver");
    return true;
  }
  if (!registered) {
    Say("No client driver is registered for this sleeve (" + ToUtf8(clientKey) +
        " does not exist): none loads");
    return true;
  }
  if (!loaded) {
    *reason = "the bus driver did not load the client driver from " + ToUtf8(clientKey);
    return false;
  }
  Say("Client driver loaded from " + ToUtf8(clientKey) + " as " + ToUtf8(client.name) +
      (handheld::GetSleeveState().powered ? " (sleeve power on)" : ""));
  return true;
}

bool Host::Remove(std::string* reason) {
  const handheld::SleeveState state = handheld::GetSleeveState();
  if (!state.attached) {
    *reason = "no sleeve is attached";
    return false;
  }
  ActiveDriver client;
  const bool hadClient = FindClient(&client);
  handheld::RemoveSleeve();
  Say("Took off " + SleeveName(state.sleeveId));
  if (!hadClient) return true;
  const Clock::time_point start = Clock::now();
  ActiveDriver still;
  while (FindClient(&still)) {
    if (Clock::now() - start > std::chrono::seconds(3)) {
      *reason = "the client driver " + ToUtf8(client.name) + " is still loaded";
      return false;
    }
    Sleep(20);
  }
  Say("Client driver " + ToUtf8(client.name) + " unloaded (" + ToUtf8(client.key) + ")");
  return true;
}

int Host::PointClientKeys() {
  int pointed = 0;
  for (const std::u16string& key : ClientKeys()) {
    if (ReadText(key, u"Prefix") != u"COM") continue;
    if (WriteText(key, handheld::kHostDeviceValue, FromUtf8(receiverDevice_))) {
      Say("Client driver key " + ToUtf8(key) + ": \"HostDevice\" = " + receiverDevice_);
      ++pointed;
    }
  }
  return pointed;
}

bool Host::CheckReceiverDevice(const std::string& device, std::string* reason) {
  struct stat info {};
  if (stat(device.c_str(), &info) != 0) {
    *reason = "no such device: " + device;
    return false;
  }
  if (!S_ISCHR(info.st_mode)) {
    *reason = device + " is not a serial device";
    return false;
  }
  const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *reason = "cannot open " + device + ": " + std::strerror(errno);
    return false;
  }
  const bool terminal = isatty(fd) != 0;
  close(fd);
  if (!terminal) {
    *reason = device + " is not a terminal (a receiver needs a serial device or a pseudo-terminal)";
    return false;
  }
  return true;
}

bool Host::UseReceiverDevice(const std::string& device, std::string* reason) {
  if (!CheckReceiverDevice(device, reason)) return false;
  HANDLE port = handheld::OpenHostSerialDevice(device, GENERIC_READ | GENERIC_WRITE);
  if (port == INVALID_HANDLE_VALUE) {
    *reason = "cannot open " + device + " as a serial port (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  CloseHandle(port);
  receiverDevice_ = device;
  if (PointClientKeys() == 0)
    Say("Receiver " + device + ": no sleeve serial driver is installed yet; it gets the device "
        "when the package is installed");
  else
    Say("Receiver on " + device);
  if (viewer_.Running()) Say("The viewer takes the new receiver at its next connect");
  return true;
}

void Host::BringReceiverToViewerRate(const std::string& device, int givenBaud, bool keepRate) {
  GiveReceiverRateBack();
  if (givenBaud == 0) {
    std::string rates;
    for (int baud : ReceiverRate::HuntRates()) rates += (rates.empty() ? "" : ", ") + std::to_string(baud);
    Say("Looking for the receiver's line rate on " + device + " (" + rates + " baud in turn)");
  }
  receiverRate_ = std::make_unique<ReceiverRate>(device);
  receiverRate_->SetStop(stopped_);
  keepRate_ = keepRate;
  std::string report;
  receiverRate_->BringToViewerRate(givenBaud, report);
  // A receiver that was not found is the viewer's to report, as on a
  // handheld without a working receiver.
  Say(report);
}

void Host::GiveReceiverRateBack() {
  std::unique_ptr<ReceiverRate> rate = std::move(receiverRate_);
  if (!rate || !rate->Found() || rate->FoundSetting() == ReceiverRate::kViewerSetting) return;
  if (keepRate_) {
    Say("receiver left at " + ReceiverRate::Describe(ReceiverRate::kViewerSetting) +
        " (--keep-rate); it was found at " + ReceiverRate::Describe(rate->FoundSetting()));
    return;
  }
  // Shutting down after Ctrl-C: the switch back is not cut short.
  rate->SetStop(nullptr);
  std::string report;
  rate->Restore(rate->FoundSetting(), report);
  Say(report);
}

void Host::StopSimulator() {
  if (!simulator_.Running()) return;
  const std::string pid = std::to_string(simulator_.pid());
  Say("Receiver simulator (pid " + pid + ") ended: " + simulator_.Stop(SIGTERM, 3000));
}

bool Host::SimulateReceiver(const std::vector<std::string>& simulatorArguments,
                            const std::string& description, std::string* reason) {
  StopSimulator();
  if (!simulator_.Start(programs_.receiverSim, simulatorArguments, {}, true, reason)) return false;
  const std::string pty = simulator_.FirstLine(5000);
  if (pty.empty()) {
    simulator_.Stop(SIGKILL, 1000);
    *reason = "the receiver simulator gave no pseudo-terminal (" + description + ")";
    return false;
  }
  simulatorDescription_ = description;
  Say("Receiver simulator (" + description + ", pid " + std::to_string(simulator_.pid()) +
      ") on " + pty);
  if (!UseReceiverDevice(pty, reason)) {
    StopSimulator();
    return false;
  }
  return true;
}

std::string Host::ViewerCommand(const std::string& command) {
  if (!viewer_.Running()) return "error the viewer is not running";
  return handheld::RemoteControl(command, viewer_.pid());
}

bool Host::CheckScreenshotPath(const std::string& path, std::string* reason) {
  const std::filesystem::path file(path);
  const std::string folder = file.has_parent_path() ? file.parent_path().string() : ".";
  struct stat info {};
  const char* problem = nullptr;
  if (stat(folder.c_str(), &info) != 0) problem = std::strerror(errno);
  else if (!S_ISDIR(info.st_mode)) problem = "not a folder";
  else if (access(folder.c_str(), W_OK | X_OK) != 0) problem = std::strerror(errno);
  if (problem) {
    *reason = "cannot write the screenshot " + path + ": " + folder + ": " + problem;
    return false;
  }
  if (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    *reason = "cannot write the screenshot " + path + ": not a file";
    return false;
  }
  return true;
}

bool Host::StartViewer(bool headless, const std::string& screenshot, std::string* reason) {
  if (!screenshot.empty() && !CheckScreenshotPath(screenshot, reason)) return false;
  if (viewer_.Running()) {
    *reason = "the viewer runs already (pid " + std::to_string(viewer_.pid()) + ")";
    return false;
  }
  const char* display = std::getenv("DISPLAY");
  viewerHeadless_ = headless || !display || !*display;
  std::vector<std::string> environment{"HANDHELD_DEVICE=" + handheld::DeviceFolder()};
  if (viewerHeadless_) environment.push_back("HANDHELD_HEADLESS=1");
  if (!viewer_.Start(programs_.viewer, {}, environment, false, reason)) return false;
  screenshot_ = screenshot;
  lastScreenshot_ = Clock::now();
  viewerEnded_.clear();
  titleShown_ = versionWait_ = false;
  Say("Viewer quelmar started (pid " + std::to_string(viewer_.pid()) + "), " +
      (viewerHeadless_ ? std::string("headless") : "in a window on display " + std::string(display)));
  if (!screenshot.empty())
    Say("Screen written to " + screenshot + (viewerHeadless_ ? " every 3 s" : " at the end"));
  return true;
}

bool Host::Post(const std::vector<std::string>& words, std::string* reason) {
  PostedMessage message;
  if (!PostedMessage::Parse(CommandLine::Words(words.begin() + 1, words.end()), &message, reason))
    return false;
  const std::string reply = ViewerCommand(message.Command(words[0]));
  if (!ViewerReplyOk(reply)) {
    *reason = reply.substr(reply.find(' ') + 1);
    return false;
  }
  Say("Posted message " + std::to_string(message.message) + " (" + std::to_string(message.wParam) +
      ", " + std::to_string(message.lParam) + ") to the viewer's window " + words[0]);
  return true;
}

bool Host::Screenshot(const std::string& path, std::string* reason) {
  if (!CheckScreenshotPath(path, reason)) return false;
  const std::string reply = ViewerCommand("screenshot " + path);
  if (!ViewerReplyOk(reply)) {
    *reason = reply.substr(reply.find(' ') + 1);
    return false;
  }
  Say("Screenshot of the viewer's screen in " + path);
  return true;
}

bool Host::Status(std::string* reason) {
  std::string why;
  if (!handheld::CheckRegistryHive(&why)) {
    *reason = "cannot use the registry hive in " + handheld::DeviceFolder() + ": " + why;
    return false;
  }
  Say("Device folder: " + handheld::DeviceFolder());
  const handheld::SleeveState sleeve = handheld::GetSleeveState();
  Say("Sleeve: " + (sleeve.attached ? SleeveName(sleeve.sleeveId) : std::string("none attached")));
  Say(std::string("Sleeve power: ") + (sleeve.powered ? "on" : "off"));
  DWORD ids = 0;
  Say("Identity (\"IDs\"): " +
      (ReadDword(kIdentityKey, u"IDs", &ids) ? Hex(ids) : std::string("not published")));
  const std::vector<ActiveDriver> records = ActiveDrivers();
  std::string loaded;
  for (const ActiveDriver& record : records)
    loaded += (loaded.empty() ? "" : ", ") + ToUtf8(record.name.empty() ? record.key : record.name);
  if (!booted_) {
    // Without a host nothing is loaded: the list is what an ended host left.
    Say("Loaded drivers: none");
    if (!records.empty())
      Say("Drivers\\Active: left by a host that has ended (" + loaded + "); cleared at the next boot");
  } else {
    Say("Loaded drivers: " + (loaded.empty() ? std::string("none") : loaded));
    Say("Drivers\\Active:" + std::string(records.empty() ? " empty" : ""));
    for (const ActiveDriver& record : records)
      Say("  " + ToUtf8(record.subkey) + ": Key=" + ToUtf8(record.key) + " Name=" +
          ToUtf8(record.name) + " Hnd=" + std::to_string(record.hnd));
  }
  std::string packages;
  for (const std::string& name : handheld::InstalledPackages())
    packages += (packages.empty() ? "" : ", ") + name;
  Say("Installed packages: " + (packages.empty() ? std::string("none") : packages));
  if (simulator_.Running())
    Say("Receiver: simulator (" + simulatorDescription_ + ", pid " +
        std::to_string(simulator_.pid()) + ") on " + receiverDevice_);
  else
    Say("Receiver: " + (receiverDevice_.empty() ? std::string("none") : receiverDevice_));
  if (viewer_.Running()) {
    const std::string title = ViewerCommand("title QUELMAR");
    Say("Viewer: running (pid " + std::to_string(viewer_.pid()) + "), title \"" +
        (title.rfind("ok ", 0) == 0 ? title.substr(3) : std::string()) + "\"");
  } else {
    Say("Viewer: not running" + (viewerEnded_.empty() ? "" : " (ended: " + viewerEnded_ + ")"));
  }
  return true;
}

void Host::WatchVersionQuery() {
  const Clock::time_point now = Clock::now();
  if (now - lastCursorLook_ < kCursorLookEvery) return;
  lastCursorLook_ = now;
  if (!titleShown_) {
    const std::string title = ViewerCommand("title QUELMAR");
    if (title.rfind("ok ", 0) == 0) {
      titleShown_ = true;
      Say("Viewer window up, title \"" + title.substr(3) + "\"");
    }
  }
  const std::string cursor = ViewerCommand("cursor");
  if (cursor == "ok wait" && !versionWait_) {
    versionWait_ = true;
    versionStart_ = versionProgress_ = now;
    Say("Viewer reads the receiver's software version (up to 25 s; wait cursor on its screen)");
  } else if (cursor == "ok wait" && now - versionProgress_ >= kProgressEvery) {
    versionProgress_ = now;
    Say("  still reading the version... " + Seconds(now - versionStart_));
  } else if (cursor == "ok arrow" && versionWait_) {
    versionWait_ = false;
    Say("Version query done after " + Seconds(now - versionStart_) +
        " (the version stands on the status page)");
  }
}

bool Host::FolderLost() {
  if (!booted_ || shutDown_) return false;
  struct stat hive {};
  if (stat(HivePath().c_str(), &hive) == 0 && hive.st_dev == hiveFile_.first &&
      hive.st_ino == hiveFile_.second)
    return false;
  Say("The registry hive " + HivePath() + " was removed or replaced under the running host: " +
      "the handheld shuts down");
  folderLost_ = true;
  ShutdownLocked();
  return true;
}

bool Host::Watch(int* viewerCode) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (FolderLost()) return false;
  int code = 0;
  std::string how;
  if (simulator_.Ended(&code, &how))
    Say("Receiver simulator ended: " + how + "; the viewer's port has no receiver behind it now");
  if (viewer_.Ended(&code, &how)) {
    viewerEnded_ = how;
    Say("Viewer ended: " + how);
    if (code < 128) {
      *viewerCode = code;
      return true;
    }
    return false;
  }
  if (!viewer_.Running()) return false;
  WatchVersionQuery();
  if (viewerHeadless_ && !screenshot_.empty() && Clock::now() - lastScreenshot_ >= kScreenshotEvery) {
    lastScreenshot_ = Clock::now();
    // Written beside and renamed, so a reader never sees half a picture.
    const std::string partial = screenshot_ + ".part.png";
    if (ViewerReplyOk(ViewerCommand("screenshot " + partial))) {
      std::error_code ignored;
      std::filesystem::rename(partial, screenshot_, ignored);
    }
  }
  return false;
}

void Host::StopViewer() {
  if (!viewer_.Running()) return;
  if (!screenshot_.empty()) ViewerCommand("screenshot " + screenshot_);
  // Exit from its menu, as a person would end it; asked to end by a signal
  // when its control channel cannot be reached (its folder removed).
  const bool asked = ViewerReplyOk(ViewerCommand(
      "post QUELMAR " + std::to_string(kWmCommand) + " " + std::to_string(kExitCommand) + " 0"));
  if (!asked) Say("The viewer's control channel does not answer: ending it with SIGTERM");
  viewerEnded_ = viewer_.Stop(asked ? 0 : SIGTERM, 5000);
  // Stop(0) only waited: a viewer that did not end was killed.
  Say("Viewer ended: " + viewerEnded_);
}

void Host::Shutdown() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  ShutdownLocked();
}

bool Host::ShutDown() const { return shutDown_; }

void Host::ShutdownLocked() {
  if (shutDown_) return;
  shutDown_ = true;
  StopViewer();
  GiveReceiverRateBack();
  if (booted_) {
    // The drivers, the last loaded first: the bus driver unloads its client.
    std::vector<ActiveDriver> records = ActiveDrivers();
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
      if (it->key.rfind(u"Drivers\\Tessiv\\", 0) == 0) continue;  // its bus driver's
      if (DeactivateDevice(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(it->hnd))))
        Say("Driver " + ToUtf8(it->name) + " (" + ToUtf8(it->key) + ") deinitialised");
    }
    for (const ActiveDriver& left : ActiveDrivers())
      if (DeactivateDevice(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(left.hnd))))
        Say("Driver " + ToUtf8(left.name) + " (" + ToUtf8(left.key) + ") deinitialised");
    if (handheld::GetSleeveState().attached) handheld::RemoveSleeve();
  }
  StopSimulator();
  if (booted_) Say("Handheld shut down");
}
