// Runs conformance test programs with what their cases take for granted:
// two serial ports wired to each other (two pseudo-terminals whose far
// ends this runner joins), named to the cases by CONFORMANCE_PORT and
// CONFORMANCE_FAR_END, and a private place for the registry and files.
//   conformance-runner <program> [arguments...]
//     on the stand-in: a temporary device folder, the ports as COM5: and
//     COM6: in its registry
//   conformance-runner --wine <program.exe>...
//     under Wine: a temporary prefix whose com5 and com6 are the
//     pseudo-terminals, an Xvfb display, each program run in turn (and
//     once more if it fails, see RunUnderWine)
// The exit status is the first failing program's, else 0. Under Wine the
// failing programs' output comes first.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "handheld.h"
#include "testing/XvfbServer.h"

extern char** environ;

namespace {

// Two pseudo-terminals whose masters are joined: what one port writes the
// other reads. The runner holds each terminal open, so neither hangs up
// while a case closes and opens its port.
class PortPair {
 public:
  bool Open() {
    for (int i = 0; i < 2; ++i) {
      char name[128];
      if (openpty(&master_[i], &slave_[i], name, nullptr, nullptr) != 0) return false;
      termios raw{};
      tcgetattr(slave_[i], &raw);
      cfmakeraw(&raw);
      tcsetattr(slave_[i], TCSANOW, &raw);
      fcntl(master_[i], F_SETFL, fcntl(master_[i], F_GETFL) | O_NONBLOCK);
      path_[i] = name;
    }
    if (pipe(stop_) != 0) return false;
    relay_ = std::thread([this] { Relay(); });
    return true;
  }
  ~PortPair() {
    if (relay_.joinable()) {
      (void)!write(stop_[1], "x", 1);
      relay_.join();
    }
    for (int fd : {master_[0], master_[1], slave_[0], slave_[1], stop_[0], stop_[1]})
      if (fd >= 0) close(fd);
  }
  const std::string& path(int i) const { return path_[i]; }

 private:
  void Relay() {
    char buffer[4096];
    for (;;) {
      pollfd fds[3] = {{master_[0], POLLIN, 0}, {master_[1], POLLIN, 0}, {stop_[0], POLLIN, 0}};
      if (poll(fds, 3, -1) < 0) continue;
      if (fds[2].revents != 0) return;
      for (int i = 0; i < 2; ++i) {
        if ((fds[i].revents & POLLIN) == 0) continue;
        const ssize_t got = read(master_[i], buffer, sizeof buffer);
        for (ssize_t done = 0; got > 0 && done < got;) {
          const ssize_t put = write(master_[1 - i], buffer + done, got - done);
          if (put > 0)
            done += put;
          else
            poll(nullptr, 0, 1);  // the other terminal's buffer is full
        }
      }
      if (((fds[0].revents | fds[1].revents) & (POLLHUP | POLLERR)) != 0) poll(nullptr, 0, 5);
    }
  }
  int master_[2] = {-1, -1};
  int slave_[2] = {-1, -1};
  int stop_[2] = {-1, -1};
  std::string path_[2];
  std::thread relay_;
};

// Runs `line` and waits for it; its output goes to `output` when one is
// given, else to the runner's own.
int Run(const std::vector<std::string>& line, const std::vector<std::string>& extraEnvironment,
        const std::string& output = "") {
  std::vector<std::string> environment = extraEnvironment;
  for (char** e = environ; *e != nullptr; ++e) environment.emplace_back(*e);
  std::vector<char*> argv, envp;
  for (const std::string& a : line) argv.push_back(const_cast<char*>(a.c_str()));
  for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!output.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  }
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    std::fprintf(stderr, "conformance-runner: cannot run %s: %s\n", argv[0],
                 std::strerror(spawned));
    return 127;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  std::fprintf(stderr, "conformance-runner: %s ended by signal %d\n", argv[0], WTERMSIG(status));
  return 128 + WTERMSIG(status);
}

std::string TemporaryFolder(const char* kind) {
  std::string pattern =
      std::filesystem::temp_directory_path().string() + "/conformance-" + kind + "-XXXXXX";
  return mkdtemp(pattern.data()) != nullptr ? pattern : "";
}

int OnTheStandIn(const PortPair& ports, std::vector<std::string> line) {
  const std::string device = TemporaryFolder("device");
  if (device.empty()) return 125;
  handheld::SetDeviceFolder(device);
  handheld::RegisterSerialPort(u"COM5:", u"Drivers\\Conformance\\5", ports.path(0));
  handheld::RegisterSerialPort(u"COM6:", u"Drivers\\Conformance\\6", ports.path(1));
  const int status = Run(
      line, {"HANDHELD_DEVICE=" + device, "CONFORMANCE_PORT=COM5:", "CONFORMANCE_FAR_END=COM6:"});
  std::filesystem::remove_all(device);
  return status;
}

std::string OutputPath(const std::string& prefix, size_t program, int run) {
  return prefix + "/output-" + std::to_string(program) + "-" + std::to_string(run) + ".txt";
}

void CopyOut(const std::string& path) {
  std::fflush(stdout);
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
      std::fwrite(buffer, 1, got, stdout);
    std::fclose(file);
  }
  std::fflush(stdout);
}

// A program under Wine: the status of each run, 0 for none.
struct WineRuns {
  int first = 0;
  int second = 0;
  bool Failed() const { return first != 0 && second != 0; }
};

// Runs a program under Wine, ended if it runs past its time. One that
// fails is run once more: Wine on a loaded machine now and then loses a
// wake-up, and a case that fails twice in a row is a finding. The log
// shows both runs.
WineRuns RunUnderWine(const std::string& program, const std::vector<std::string>& environment,
                      const std::string& prefix, size_t index) {
  const std::vector<std::string> line = {"timeout", "--kill-after=10", "180", "wine", program};
  WineRuns runs;
  runs.first = Run(line, environment, OutputPath(prefix, index, 1));
  if (runs.first != 0) runs.second = Run(line, environment, OutputPath(prefix, index, 2));
  return runs;
}

void Report(const std::string& program, const WineRuns& runs, const std::string& prefix,
            size_t index) {
  std::printf("==== %s: %s\n", program.c_str(),
              runs.first == 0 ? "passed"
              : runs.Failed() ? "FAILED twice"
                              : "passed when run again");
  CopyOut(OutputPath(prefix, index, 1));
  if (runs.first == 0) return;
  std::printf("==== %s run again (the first run's status %d):\n", program.c_str(), runs.first);
  CopyOut(OutputPath(prefix, index, 2));
}

int UnderWine(const PortPair& ports, const std::vector<std::string>& programs) {
  handheld::testing::XvfbServer xvfb;
  if (xvfb.display().empty()) {
    std::fprintf(stderr, "conformance-runner: Xvfb did not start\n");
    return 125;
  }
  const std::string prefix = TemporaryFolder("wine");
  if (prefix.empty()) return 125;
  const std::vector<std::string> environment = {"WINEPREFIX=" + prefix,
                                                "WINEARCH=win64",
                                                "WINEDEBUG=-all",
                                                "WINEDLLOVERRIDES=mscoree,mshtml=",
                                                "DISPLAY=" + xvfb.display(),
                                                "CONFORMANCE_PORT=COM5:",
                                                "CONFORMANCE_FAR_END=COM6:"};
  int status = Run({"wineboot", "-i"}, environment);
  std::vector<WineRuns> results;
  if (status == 0) {
    std::filesystem::create_directories(prefix + "/dosdevices");
    std::filesystem::create_symlink(ports.path(0), prefix + "/dosdevices/com5");
    std::filesystem::create_symlink(ports.path(1), prefix + "/dosdevices/com6");
    // Run from C:, so that a path from the root ("\\x.log") lands on it.
    if (chdir((prefix + "/drive_c").c_str()) != 0) status = 125;
    for (size_t i = 0; status == 0 && i < programs.size(); ++i) {
      results.push_back(RunUnderWine(programs[i], environment, prefix, i));
    }
  }
  // The failing programs' output first, so that it leads the log.
  for (bool failing : {true, false}) {
    for (size_t i = 0; i < results.size(); ++i) {
      if (results[i].Failed() != failing) continue;
      Report(programs[i], results[i], prefix, i);
      if (failing && status == 0) status = results[i].second;
    }
  }
  Run({"wineserver", "-k"}, environment);
  std::filesystem::remove_all(prefix);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: conformance-runner [--wine] <program> [arguments...]\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  PortPair ports;
  if (!ports.Open()) {
    std::fprintf(stderr, "conformance-runner: no pseudo-terminals: %s\n", std::strerror(errno));
    return 125;
  }
  std::vector<std::string> rest(argv + 1, argv + argc);
  if (rest[0] == "--wine") return UnderWine(ports, {rest.begin() + 1, rest.end()});
  return OnTheStandIn(ports, rest);
}
