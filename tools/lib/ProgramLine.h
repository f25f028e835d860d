// A program's argument vector and environment as posix_spawn and execve
// take them: the program and its arguments, and this process's environment
// with NAME=value pairs added. The handheld host starts its children with
// it, and the tests theirs.
#pragma once

#include <string>
#include <vector>

class ProgramLine {
 public:
  ProgramLine(const std::string& program, const std::vector<std::string>& arguments,
              const std::vector<std::string>& environment);
  ProgramLine(const ProgramLine&) = delete;
  ProgramLine& operator=(const ProgramLine&) = delete;

  char** argv() { return argv_.data(); }
  char** envp() { return envp_.data(); }

 private:
  std::vector<std::string> args_, env_;
  std::vector<char*> argv_, envp_;
};
