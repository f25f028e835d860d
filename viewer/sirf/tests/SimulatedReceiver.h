// The receiver simulator as a child process: started with the given
// arguments and --verbose, its pseudo-terminal path read from the first line
// of its standard output, its report of what it received kept from its
// standard error.
#pragma once

#include <signal.h>

#include <string>
#include <vector>

#include "ChildProcess.h"

namespace receiver_test {

class SimulatedReceiver {
 public:
  SimulatedReceiver(const std::string& program, const std::vector<std::string>& arguments)
      : child_(program, WithBound(arguments)), path_(child_.FirstLine(5000)) {}

  SimulatedReceiver(const SimulatedReceiver&) = delete;
  SimulatedReceiver& operator=(const SimulatedReceiver&) = delete;

  bool ok() const { return child_.Started() && !path_.empty(); }
  // The simulator's pseudo-terminal, the receiver's end of the line.
  const std::string& path() const { return path_; }

  // What the simulator reported so far: one line per sentence or message
  // received, per answer and per protocol switch.
  std::string Report() const { return child_.Errors(); }

  void Stop() { child_.Stop(SIGTERM, 2000); }

 private:
  // --seconds: a simulator left behind by a crashed test ends by itself.
  static std::vector<std::string> WithBound(const std::vector<std::string>& arguments) {
    std::vector<std::string> args{"--verbose", "--seconds", "90"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    return args;
  }

  testsupport::ChildProcess child_;
  std::string path_;
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
