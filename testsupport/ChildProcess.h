// Test support: a program run as a child process. Its standard output and
// standard error go to files of their own, so a child that writes much is
// never held up by a full pipe, and both can be read at any time.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ProgramLine.h"

namespace testsupport {

// The whole of a file, or "" when there is none.
inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class ChildProcess {
 public:
  // Starts `program` with `arguments`; `environment` holds NAME=value pairs
  // set for the child on top of this process's environment, and standard
  // input is read from `input` (a file, or a FIFO the test writes into).
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment = {},
               const std::string& input = "/dev/null") {
    char pattern[] = "/tmp/child-process-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    folder_ = pattern;
    ProgramLine line(program, arguments, environment);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (folder_ + "/out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (folder_ + "/err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, line.argv(), line.envp()) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }

  // A child still running is killed.
  ~ChildProcess() {
    if (pid_ > 0) Stop(SIGKILL, 5000);
    if (!folder_.empty()) {
      std::remove((folder_ + "/out").c_str());
      std::remove((folder_ + "/err").c_str());
      rmdir(folder_.c_str());
    }
  }

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0 || status_ >= 0; }
  pid_t pid() const { return pid_; }

  std::string Output() const { return Slurp(folder_ + "/out"); }
  std::string Errors() const { return Slurp(folder_ + "/err"); }

  // The first line of standard output, without its LF; "" when none came
  // within the time or the child ended without one.
  std::string FirstLine(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      std::string out = Output();
      size_t end = out.find('\n');
      if (end != std::string::npos) return out.substr(0, end);
      if (std::chrono::steady_clock::now() >= deadline || Wait(0) >= 0) return "";
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  // Waits for the child to end: its exit status, 128 + the signal that
  // ended it, or -1 when it still runs after timeoutMs.
  int Wait(int timeoutMs) {
    if (pid_ <= 0) return status_;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      int raw = 0;
      if (waitpid(pid_, &raw, WNOHANG) == pid_) {
        pid_ = -1;
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        return status_;
      }
      if (std::chrono::steady_clock::now() >= deadline) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  // Sends `signal` and waits as Wait does; a child that ignores it is
  // killed after the time and answers -1.
  int Stop(int signal = SIGTERM, int timeoutMs = 3000) {
    if (pid_ <= 0) return status_;
    kill(pid_, signal);
    int status = Wait(timeoutMs);
    if (status >= 0) return status;
    kill(pid_, SIGKILL);
    Wait(5000);
    return -1;
  }

 private:
  std::string folder_;
  pid_t pid_ = -1;
  int status_ = -1;
};

// A child run to its end (killed after timeoutMs): status as Wait answers
// it, and what it wrote.
struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

inline Outcome Run(const std::string& program, const std::vector<std::string>& arguments,
                   int timeoutMs = 30000, const std::vector<std::string>& environment = {},
                   const std::string& input = "/dev/null") {
  ChildProcess child(program, arguments, environment, input);
  Outcome outcome;
  outcome.status = child.Wait(timeoutMs);
  if (outcome.status < 0) child.Stop(SIGKILL);
  outcome.out = child.Output();
  outcome.err = child.Errors();
  return outcome;
}

}  // namespace testsupport
