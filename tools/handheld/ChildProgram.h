// A program the handheld host runs beside itself (the viewer, the receiver
// simulator): started in a process group of its own, so that Ctrl-C on the
// host's terminal reaches the host alone, which then ends its children in
// order; watched without blocking; ended with a signal and, when it does
// not go, with SIGKILL. A child ends with its host (SIGTERM when the host
// dies, even by SIGKILL), so none is left running without one.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class ChildProgram {
 public:
  ChildProgram() = default;
  ~ChildProgram();  // a child still running is killed
  ChildProgram(const ChildProgram&) = delete;
  ChildProgram& operator=(const ChildProgram&) = delete;

  // Starts `program` with `arguments`, `environment` (NAME=value) added to
  // the host's. Standard input is /dev/null and standard error the host's;
  // standard output is the host's too, or a pipe that FirstLine reads.
  bool Start(const std::string& program, const std::vector<std::string>& arguments,
             const std::vector<std::string>& environment, bool pipeOutput, std::string* reason);
  // The first line the child wrote on the pipe; "" when none came within
  // the time or the child ended first.
  std::string FirstLine(int timeoutMs);

  bool Running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // Once the child has ended: true, with how ("exit code 0", "killed by
  // signal 9") and its code (128 + the signal for a signal); false while it
  // runs or when nothing was started.
  bool Ended(int* code, std::string* how);
  // Sends `signal`, waits up to `waitMs`, then kills. Answers how it ended.
  std::string Stop(int signal, int waitMs);

 private:
  pid_t pid_ = -1;
  int output_ = -1;
};
