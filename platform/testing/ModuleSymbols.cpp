#include "testing/ModuleSymbols.h"

#include <cstdio>

namespace handheld::testing {

std::set<std::string> DefinedDynamicSymbols(const std::string& path) {
  std::set<std::string> names;
  FILE* nm = popen(("nm -D --defined-only '" + path + "'").c_str(), "r");
  if (!nm) return names;
  char line[512];
  while (fgets(line, sizeof(line), nm)) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    names.insert(text.substr(text.find_last_of(' ') + 1));
  }
  pclose(nm);
  return names;
}

std::set<std::string> DllExports(const std::string& path) {
  std::set<std::string> names;
  FILE* objdump = popen(("x86_64-w64-mingw32-objdump -p '" + path + "'").c_str(), "r");
  if (!objdump) return names;
  // The names follow the table's heading, one a line ("\t[   0] Name"),
  // up to a blank line.
  bool inTable = false;
  char line[512];
  while (fgets(line, sizeof(line), objdump)) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    if (text.find("[Ordinal/Name Pointer] Table") != std::string::npos) {
      inTable = true;
    } else if (inTable && text.empty()) {
      inTable = false;
    } else if (inTable && text.find(']') != std::string::npos) {
      names.insert(text.substr(text.find_last_of(' ') + 1));
    }
  }
  pclose(objdump);
  return names;
}

}  // namespace handheld::testing
