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

}  // namespace handheld::testing
