// handheld: the simulated handheld's host and the project's main command.
//
//   handheld [OPTIONS]            the typical run: package installed, GPS
//                                 sleeve inserted, the viewer on the receiver
//   handheld [--device-folder DIR] host          boot and wait for commands
//   handheld [--device-folder DIR] COMMAND ...   one command to the running
//                                 host (install, uninstall and status also
//                                 work without one)
// See UsageText() for the whole list.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "CommandLine.h"
#include "Host.h"
#include "HostOptions.h"
#include "Number.h"
#include "handheld.h"
#include "handheld_package.h"

namespace {

volatile sig_atomic_t gStop = 0;
void OnSignal(int signal) { gStop = signal; }

// The typical run's options: the receiver, the shared groups, the run's own.
struct RunOptions {
  std::string receiver;
  HostOptions host;
  bool noSleeve = false;
  double seconds = 0;

  CommandLine::Options Table() {
    CommandLine::Options table{
        {nullptr, "--receiver", nullptr, "DEVICE",
         "a real receiver on this serial device (or pseudo-terminal);\n"
         "its line rate is found (57600, 4800, 9600, 19200, 38400,\n"
         "115200 baud), it is switched to NMEA at 57600 for the\n"
         "viewer and switched back as found at the end",
         [this](const std::string& value, std::string&) {
           receiver = value;
           return true;
         }}};
    for (const CommandLine::Options& group :
         {host.RateOptions(), host.SimulatorOptions(), host.SleeveOptions()})
      table.insert(table.end(), group.begin(), group.end());
    table.push_back({nullptr, "--no-sleeve", nullptr, nullptr, "insert no sleeve",
                     [this](const std::string&, std::string&) { return noSleeve = true; }});
    // --seconds between the viewer's --headless and --screenshot.
    const CommandLine::Options viewer = host.ViewerOptions();
    table.push_back(viewer[0]);
    table.push_back({nullptr, "--seconds", nullptr, "N", "end cleanly after N seconds",
                     [this](const std::string& value, std::string& error) {
                       if (Number::Real(value, 0, 1e9, &seconds) == Number::Read::kOk &&
                           seconds > 0)
                         return true;
                       error = "--seconds " + value +
                               ": not a number of seconds above 0, at most 1e9";
                       return false;
                     }});
    table.insert(table.end(), viewer.begin() + 1, viewer.end());
    return table;
  }
};

std::string UsageText() {
  RunOptions unused;
  return "Usage: handheld [--device-folder DIR] [OPTIONS]        the typical run\n"
         "       handheld [--device-folder DIR] host             boot, then serve commands\n"
         "       handheld [--device-folder DIR] COMMAND [ARGS]   a command to the running host\n"
         "\n"
         "The typical run boots a handheld in a fresh temporary device folder (or DIR, or\n"
         "$HANDHELD_DEVICE), installs the package, attaches the receiver, inserts the GPS\n"
         "sleeve, starts the viewer quelmar and runs until the viewer ends (its exit code\n"
         "is the handheld's) or Ctrl-C. Its options:\n" +
         CommandLine::Help(unused.Table(), 22) +
         "\n"
         "Commands (to the host that runs on the device folder):\n" +
         CommandLine::CommandHelp(Host::Commands(), 30) +
         "Without a running host, install, uninstall and status work on the device folder\n"
         "directly. Exit status: 0 done, 1 not possible (the reason on standard error),\n"
         "2 wrong command line; the typical run ends with the viewer's exit code.\n";
}

// A wrong command line named (when there is a what), then the usage.
int Usage(const std::string& what = "") {
  return CommandLine::Refuse("handheld", what, UsageText());
}

bool KnownCommand(const std::string& word) {
  return CommandLine::Find(Host::Commands(), word) != nullptr;
}

int Fail(const std::string& reason) {
  std::fprintf(stderr, "handheld: %s\n", reason.c_str());
  return 1;
}

// The programs beside this one when installed together, else the build's.
Host::Programs FindPrograms() {
  Host::Programs programs{RECEIVER_SIM_PATH, QUELMAR_PATH};
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    const std::filesystem::path dir = self.parent_path();
    if (std::filesystem::exists(dir / "receiver-sim")) programs.receiverSim = dir / "receiver-sim";
    if (std::filesystem::exists(dir / "quelmar")) programs.viewer = dir / "quelmar";
  }
  return programs;
}

void CatchSignals() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

// What the options cannot do together; "" when nothing.
std::string Clash(const RunOptions& options) {
  const int receivers =
      !options.receiver.empty() + !options.host.scenario.empty() + !options.host.replay.empty();
  if (receivers > 1) return "--receiver, --scenario and --replay exclude each other";
  if ((options.host.baud != 0 || options.host.keepRate) && options.receiver.empty())
    return "--receiver-baud and --keep-rate need --receiver";
  return "";
}

// What the typical run cannot do, told before it boots; "" when nothing.
std::string RunProblem(const RunOptions& options) {
  std::string reason;
  const std::string& screenshot = options.host.screenshot;
  if (!screenshot.empty() && !Host::CheckScreenshotPath(screenshot, &reason)) return reason;
  if (!options.receiver.empty() && !Host::CheckReceiverDevice(options.receiver, &reason))
    return reason;
  return "";
}

std::string Absolute(const std::string& path) {
  return path.empty() ? path : std::filesystem::absolute(path).string();
}

// Serves commands until Ctrl-C, `shutdown`, the deadline or (in the typical
// run) the viewer's own end; then shuts the handheld down. The viewer's
// exit code when it ended by itself, else 0.
int Serve(Host& host, bool endWithViewer, double seconds) {
  const auto start = std::chrono::steady_clock::now();
  int code = 0;
  while (!gStop && !host.ShutDown()) {
    int viewerCode = 0;
    if (host.Watch(&viewerCode) && endWithViewer) {
      code = viewerCode;
      std::printf("The viewer ended with exit code %d\n", viewerCode);
      break;
    }
    if (seconds > 0 && std::chrono::steady_clock::now() - start >= std::chrono::duration<double>(seconds)) {
      std::printf("%g seconds are up\n", seconds);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (gStop) std::printf("Interrupted (%s)\n", strsignal(gStop));
  host.Shutdown();
  return host.Lost() ? 1 : code;
}

// Ends the host's commands before the host they reach goes.
struct CommandsServed {
  ~CommandsServed() { handheld::StopServingHostCommands(); }
};

bool StartHost(Host& host, std::string* reason) {
  if (!handheld::ServeHostCommands([&host](const std::string& line) { return host.Answer(line); },
                                   reason))
    return false;
  return host.Boot(reason);
}

// The host commands of the typical run: the packages installed, the
// receiver attached, the sleeve slid on, the viewer started.
std::vector<std::vector<std::string>> TypicalSteps(RunOptions& options, bool headless,
                                                   const std::string& screenshot) {
  std::vector<std::vector<std::string>> steps{{"install"}};
  // The second sleeve kind's package too.
  if (!options.noSleeve && options.host.sleeveId == HostOptions::kSecondSleeve)
    steps.push_back({"install", (std::filesystem::path(handheld::DefaultCabinet()).parent_path() /
                                 "SecondSleeve.CAB").string()});
  if (!options.receiver.empty()) {
    std::vector<std::string> receiver{"receiver", Absolute(options.receiver)};
    if (options.host.baud != 0)
      receiver.insert(receiver.end(), {"--receiver-baud", std::to_string(options.host.baud)});
    if (options.host.keepRate) receiver.push_back("--keep-rate");
    steps.push_back(receiver);
  } else {
    options.host.replay = Absolute(options.host.replay);
    std::vector<std::string> simulate{"receiver", "--simulate"};
    for (const std::string& word : options.host.SimulatorArguments()) simulate.push_back(word);
    steps.push_back(simulate);
  }
  if (!options.noSleeve) steps.push_back({"insert", "--sleeve", options.host.sleeve});
  std::vector<std::string> start{"start"};
  if (headless) start.push_back("--headless");
  if (!screenshot.empty()) start.insert(start.end(), {"--screenshot", screenshot});
  steps.push_back(start);
  return steps;
}

int TypicalRun(const std::vector<std::string>& args, bool folderNamed) {
  RunOptions options;
  std::string wrong;
  if (CommandLine::Parse(options.Table(), args, nullptr, wrong) != CommandLine::Parsed::kDone)
    return Usage(wrong);
  if (const std::string clash = Clash(options); !clash.empty()) return Usage(clash);
  if (const std::string problem = RunProblem(options); !problem.empty()) return Fail(problem);
  std::string temporary;
  if (!folderNamed) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/handheld-XXXXXX";
    if (!mkdtemp(pattern.data())) return Fail("cannot make a temporary device folder");
    temporary = pattern;
    handheld::SetDeviceFolder(temporary);
  }
  const char* display = std::getenv("DISPLAY");
  const bool headless = options.host.headless || !display || !*display;
  std::string screenshot = Absolute(options.host.screenshot);
  if (screenshot.empty() && headless) {
    const char* tmp = std::getenv("TMPDIR");
    screenshot = std::string(tmp && *tmp ? tmp : "/tmp") + "/handheld-screen.png";
  }
  CatchSignals();
  int code = 0;
  {
    Host host(FindPrograms());
    host.SetStopTest([] { return gStop != 0; });
    CommandsServed served;
    std::string reason;
    const std::vector<std::vector<std::string>> steps = TypicalSteps(options, headless, screenshot);
    bool ok = StartHost(host, &reason);
    for (size_t i = 0; ok && i < steps.size() && !gStop; ++i) ok = host.Run(steps[i], &reason);
    if (ok) {
      std::printf("Running; Ctrl-C (or `handheld --device-folder %s shutdown`) ends it\n",
                  handheld::DeviceFolder().c_str());
      std::fflush(stdout);
      code = Serve(host, true, options.seconds);
    } else {
      host.Shutdown();
      code = Fail(reason);
    }
  }
  if (!temporary.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(temporary, ignored);
  }
  return code;
}

// The host's answer: its lines printed, the reason of a failure on
// standard error.
int PrintAnswer(const std::string& answer) {
  const size_t end = answer.find('\n');
  const std::string first = answer.substr(0, end);
  if (end != std::string::npos) std::printf("%s\n", answer.substr(end + 1).c_str());
  if (first == "ok") return 0;
  return Fail(first.rfind("error ", 0) == 0 ? first.substr(6) : first);
}

// Why a device folder with no host on it cannot be read; "" when it can.
std::string FolderProblem(const std::string& folder) {
  struct stat info {};
  if (stat(folder.c_str(), &info) != 0)
    return errno == ENOENT ? "the device folder " + folder + " does not exist"
                           : "cannot use the device folder " + folder + ": " + std::strerror(errno);
  if (!S_ISDIR(info.st_mode)) return "the device folder " + folder + " is not a folder";
  if (stat((folder + "/registry.db").c_str(), &info) != 0 && errno == ENOENT)
    return "no registry hive in " + folder + " (no handheld has booted there)";
  return "";
}

int Command(std::vector<std::string> words) {
  const std::string& command = words[0];
  // Paths as this process sees them, for a host in another folder.
  for (size_t i = 1; i < words.size(); ++i) {
    const bool pathFollows = words[i - 1] == "--replay" || words[i - 1] == "--screenshot" ||
                             ((command == "screenshot" || command == "install") && i == 1) ||
                             (command == "receiver" && i == 1 && words[i] != "--simulate");
    if (pathFollows) words[i] = Absolute(words[i]);
  }
  std::string line;
  for (const std::string& word : words) line += (line.empty() ? "" : "\t") + word;
  std::string answer;
  switch (handheld::SendHostCommand(line, &answer)) {
    case handheld::HostExchange::kAnswered: {
      const int code = PrintAnswer(answer);
      if (command == "shutdown" && code == 0) {
        // Done once the host has gone from its socket.
        std::string ignored;
        for (int i = 0; i < 200 && handheld::SendHostCommand("", &ignored) ==
                                       handheld::HostExchange::kAnswered;
             ++i)
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      return code;
    }
    case handheld::HostExchange::kFailed:
      return Fail("the handheld host on " + handheld::DeviceFolder() + " did not answer: " + answer);
    case handheld::HostExchange::kNoHost:
      break;
  }
  const std::string folder = handheld::DeviceFolder();
  if (command == "status") {
    std::printf("No handheld host runs on %s\n", folder.c_str());
    if (const std::string problem = FolderProblem(folder); !problem.empty()) return Fail(problem);
    Host host(FindPrograms());
    std::string reason;
    return host.Run(words, &reason) ? 0 : Fail(reason);
  }
  if (command == "install" || command == "uninstall") {
    Host host(FindPrograms());
    CommandsServed served;
    std::string reason;
    const bool ok = StartHost(host, &reason) && host.Run(words, &reason);
    host.Shutdown();
    return ok ? 0 : Fail(reason);
  }
  std::string why = "no handheld host runs on " + folder;
  struct stat info {};
  if (stat(folder.c_str(), &info) != 0)
    why += " (the device folder does not exist; a host whose folder was removed shuts down by itself)";
  if (command == "shutdown") return Fail(why);
  return Fail(why + " (start one with `handheld host` or `handheld`)");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  bool folderNamed = std::getenv("HANDHELD_DEVICE") && *std::getenv("HANDHELD_DEVICE");
  // --device-folder anywhere on the line.
  for (size_t i = 0; i < args.size();) {
    if (args[i] != "--device-folder") {
      ++i;
      continue;
    }
    if (i + 1 == args.size()) return Usage("--device-folder needs a folder");
    if (args[i + 1].empty()) return Usage("--device-folder \"\" names no folder");
    handheld::SetDeviceFolder(Absolute(args[i + 1]));
    folderNamed = true;
    args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
  }
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h"))
    return CommandLine::ShowHelp(UsageText());
  if (args.empty() || args[0].rfind("--", 0) == 0) return TypicalRun(args, folderNamed);
  if (args[0] == "host") {
    if (args.size() != 1) return Usage();
    CatchSignals();
    Host host(FindPrograms());
    host.SetStopTest([] { return gStop != 0; });
    CommandsServed served;
    std::string reason;
    if (!StartHost(host, &reason)) return Fail(reason);
    std::printf("Handheld host running (pid %d); commands: handheld --device-folder %s COMMAND\n",
                static_cast<int>(getpid()), handheld::DeviceFolder().c_str());
    std::fflush(stdout);
    return Serve(host, false, 0);
  }
  if (!KnownCommand(args[0])) return Usage("unknown command " + args[0]);
  return Command(args);
}
