// Command line of the cabinet builder: the installation script, the folder
// of the built files it names, and the cabinet to write.
#pragma once

#include <string>

struct CabOptions {
  std::string script;  // the .inf
  std::string source;  // folder of the built files (the disks' folders are below it)
  std::string output;  // the .CAB

  // Parses argv. On false, `error` says why (empty when --help was given).
  bool Parse(int argc, char** argv, std::string& error);
  static std::string HelpText();
};
