#include "CabOptions.h"

#include <sstream>
#include <string_view>

namespace {

// One command-line option: its name, its argument, its help lines and what
// it sets. The table drives both parsing and --help.
struct OptionEntry {
  const char* name;
  const char* argument;  // null for a flag
  const char* help;      // lines separated by \n
  std::string CabOptions::*field;
};

const OptionEntry kOptions[] = {
    {"--inf", "FILE", "the installation script (required)", &CabOptions::script},
    {"--source", "DIR", "the folder of the built files the script names\n(required)",
     &CabOptions::source},
    {"--output", "FILE", "the cabinet to write (required); replaced whole,\nor left alone on failure",
     &CabOptions::output},
    {"--help", nullptr, "show this text", nullptr},
};

const size_t kHelpColumn = 18;

}  // namespace

std::string CabOptions::HelpText() {
  std::string text =
      "Usage: cab-builder --inf FILE --source DIR --output FILE\n"
      "\n"
      "Builds a handheld installation cabinet: an uncompressed Microsoft Cabinet\n"
      "whose member NAME.000 holds the installation instructions read from the\n"
      "script, followed by the setup DLL as NAME.999 and the files to install\n"
      "under their numbers, in descending order.\n"
      "\n"
      "Options:\n";
  for (const OptionEntry& entry : kOptions) {
    std::string head = std::string("  ") + entry.name;
    if (entry.argument != nullptr) head += std::string(" ") + entry.argument;
    std::stringstream lines(entry.help);
    std::string line;
    while (std::getline(lines, line)) {
      head.resize(kHelpColumn, ' ');
      text += head + line + "\n";
      head.clear();
    }
  }
  return text;
}

bool CabOptions::Parse(int argc, char** argv, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view name = argv[i];
    const OptionEntry* entry = nullptr;
    for (const OptionEntry& candidate : kOptions)
      if (name == candidate.name) entry = &candidate;
    if (entry == nullptr) {
      error = "unknown option " + std::string(name) + " (see --help)";
      return false;
    }
    if (entry->field == nullptr) {
      error.clear();
      return false;
    }
    if (i + 1 >= argc || std::string_view(argv[i + 1]).empty()) {
      error = std::string(entry->name) + " needs " + entry->argument;
      return false;
    }
    this->*(entry->field) = argv[++i];
  }
  if (script.empty() || source.empty() || output.empty()) {
    error = "--inf, --source and --output are all required (see --help)";
    return false;
  }
  return true;
}
