#include "ProgramLine.h"

extern char** environ;

ProgramLine::ProgramLine(const std::string& program, const std::vector<std::string>& arguments,
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
