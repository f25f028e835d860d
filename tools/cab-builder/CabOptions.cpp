#include "CabOptions.h"

#include "CommandLine.h"

namespace {

// A path that must not be empty, for `name`.
CommandLine::Action Path(const char* name, std::string& target) {
  return [name, &target](const std::string& value, std::string& error) {
    if (value.empty()) {
      error = std::string(name) + " names no file or folder";
      return false;
    }
    target = value;
    return true;
  };
}

// The options, bound to `o`: the table drives both parsing and --help.
CommandLine::Options Table(CabOptions& o) {
  return {
      {nullptr, "--inf", nullptr, "FILE", "the installation script (required)",
       Path("--inf", o.script)},
      {nullptr, "--source", nullptr, "DIR",
       "the folder of the built files the script names\n(required)", Path("--source", o.source)},
      {nullptr, "--output", nullptr, "FILE",
       "the cabinet to write (required); replaced whole,\nor left alone on failure",
       Path("--output", o.output)},
      {nullptr, "--help", nullptr, nullptr, "show this text", nullptr},
  };
}

const size_t kHelpColumn = 18;

}  // namespace

std::string CabOptions::HelpText() {
  CabOptions unused;
  return "Usage: cab-builder --inf FILE --source DIR --output FILE\n"
         "\n"
         "Builds a handheld installation cabinet: an uncompressed Microsoft Cabinet\n"
         "whose member NAME.000 holds the installation instructions read from the\n"
         "script, followed by the setup DLL as NAME.999 and the files to install\n"
         "under their numbers, in descending order.\n"
         "\n"
         "Options:\n" +
         CommandLine::Help(Table(unused), kHelpColumn);
}

bool CabOptions::Parse(int argc, char** argv, std::string& error) {
  switch (CommandLine::Parse(Table(*this), CommandLine::Arguments(argc, argv), nullptr, error)) {
    case CommandLine::Parsed::kDone: break;
    case CommandLine::Parsed::kHelp: error.clear(); return false;
    case CommandLine::Parsed::kWrong: return false;
  }
  if (script.empty() || source.empty() || output.empty()) {
    error = "--inf, --source and --output are all required (see --help)";
    return false;
  }
  return true;
}
