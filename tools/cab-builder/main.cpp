// cab-builder: turns an installation script and the built files it names
// into the handheld's installation cabinet.
#include <cstdio>
#include <string>

#include "CabBuilder.h"
#include "CabOptions.h"
#include "CommandLine.h"

int main(int argc, char** argv) {
  CabOptions options;
  std::string error;
  if (!options.Parse(argc, argv, error))
    return error.empty() ? CommandLine::ShowHelp(CabOptions::HelpText())
                         : CommandLine::Refuse("cab-builder", error);
  CabBuilder builder;
  if (!builder.Build(options.script, options.source, options.output, &error)) {
    std::fprintf(stderr, "cab-builder: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
