// A program's argument vector and environment as posix_spawn takes them:
// the program and its arguments, and this process's environment with
// NAME=value pairs added. Shared by the tests' child processes and the
// handheld host's.
#pragma once

#include <string>
#include <vector>

extern char** environ;

namespace testsupport {

class ProgramLine {
 public:
  ProgramLine(const std::string& program, const std::vector<std::string>& arguments,
              const std::vector<std::string>& environment)
      : args_{program} {
    args_.insert(args_.end(), arguments.begin(), arguments.end());
    for (char** e = environ; *e != nullptr; ++e) env_.push_back(*e);
    env_.insert(env_.end(), environment.begin(), environment.end());
    for (std::string& a : args_) argv_.push_back(a.data());
    argv_.push_back(nullptr);
    for (std::string& e : env_) envp_.push_back(e.data());
    envp_.push_back(nullptr);
  }
  ProgramLine(const ProgramLine&) = delete;
  ProgramLine& operator=(const ProgramLine&) = delete;

  char** argv() { return argv_.data(); }
  char** envp() { return envp_.data(); }

 private:
  std::vector<std::string> args_, env_;
  std::vector<char*> argv_, envp_;
};

}  // namespace testsupport
