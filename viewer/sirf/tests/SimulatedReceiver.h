// The receiver simulator as a child process: started with the given
// arguments and --verbose, its pseudo-terminal path read from the first line
// of its standard output, its report of what it received kept from its
// standard error.
#pragma once

#include <fcntl.h>
#include <poll.h>
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
#include <vector>

extern char** environ;

namespace receiver_test {

class SimulatedReceiver {
 public:
  SimulatedReceiver(const std::string& program, const std::vector<std::string>& arguments) {
    char logPattern[] = "/tmp/receiver-sim-log-XXXXXX";
    int logFd = mkstemp(logPattern);
    if (logFd < 0) return;
    close(logFd);
    logPath_ = logPattern;

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    // --seconds: a simulator left behind by a crashed test ends by itself.
    std::vector<std::string> args{program, "--verbose", "--seconds", "90"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logPath_.c_str(), O_WRONLY | O_APPEND, 0);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    out_ = out[0];
    if (pid_ > 0) path_ = ReadLine(5000);
  }

  ~SimulatedReceiver() {
    Stop();
    if (out_ >= 0) close(out_);
    if (!logPath_.empty()) std::remove(logPath_.c_str());
  }

  SimulatedReceiver(const SimulatedReceiver&) = delete;
  SimulatedReceiver& operator=(const SimulatedReceiver&) = delete;

  bool ok() const { return pid_ > 0 && !path_.empty(); }
  // The simulator's pseudo-terminal, the receiver's end of the line.
  const std::string& path() const { return path_; }

  // What the simulator reported so far: one line per sentence or message
  // received, per answer and per protocol switch.
  std::string Report() const {
    std::ifstream in(logPath_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100; ++i) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      usleep(20000);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  std::string ReadLine(int timeoutMs) {
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      char c;
      if (read(out_, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return "";
  }

  pid_t pid_ = -1;
  int out_ = -1;
  std::string path_;
  std::string logPath_;
};

// True when every piece occurs in `text`, in this order.
inline bool InOrder(const std::string& text, const std::vector<std::string>& pieces) {
  size_t at = 0;
  for (const std::string& piece : pieces) {
    size_t found = text.find(piece, at);
    if (found == std::string::npos) return false;
    at = found + piece.size();
  }
  return true;
}

inline size_t Occurrences(const std::string& text, const std::string& piece) {
  size_t count = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++count;
  return count;
}

}  // namespace receiver_test
