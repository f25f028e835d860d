// A package as its declarative file describes it: its name, its setup
// plug-in, the files it copies onto the handheld and the registry values it
// writes. The format (see setup/GpsSleeve.package):
//
//   ; comment
//   [Package]
//   Name=<name>                       no '\', not "Shared"
//   Setup=<built library>             optional
//   [Files]
//   <built library> -> <handheld path> [shared]
//   [<key below HKEY_LOCAL_MACHINE>]
//   "<value name>"="<text>"           \\ and \" escaped as in a .reg file
//   "<value name>"=dword:<hex>        up to 8 hexadecimal digits
//
// Sections may repeat. A built library is a file name in the source folder
// (the build's module folder) or an absolute host path.
#pragma once

#include <string>
#include <vector>

#include "windows.h"

namespace handheld::detail {

class PackageFile {
 public:
  struct File {
    std::string source;         // host path of the built library
    std::u16string target;      // handheld path, "\Windows\Tessiv.dll"
    bool shared = false;
    int line = 0;               // where the package file lists it
  };
  struct Value {
    std::u16string key;         // below HKEY_LOCAL_MACHINE
    std::u16string name;
    DWORD type = REG_SZ;        // REG_SZ or REG_DWORD
    std::u16string text;
    DWORD number = 0;
  };

  // Reads `path`, resolving relative sources against `sourceFolder`.
  // False with one line in `reason` when the file cannot be read (a folder,
  // a FIFO or another special file is refused without waiting on it), is
  // not UTF-8 text, or a line is not understood: a target the handheld
  // cannot hold or one listed twice, a name that cannot name a file, a NUL
  // character anywhere. Targets are kept resolved ("\Windows\Tessiv.dll").
  bool Load(const std::string& path, const std::string& sourceFolder, std::string* reason);

  const std::u16string& name() const { return name_; }
  const std::string& setup() const { return setup_; }  // empty when none
  const std::string& path() const { return path_; }
  const std::vector<File>& files() const { return files_; }
  const std::vector<Value>& values() const { return values_; }

 private:
  bool ParseLine(const std::string& line, const std::string& sourceFolder, std::string* reason);
  bool ParsePackageLine(const std::string& line, const std::string& sourceFolder,
                        std::string* reason);
  bool ParseFileLine(const std::string& line, const std::string& sourceFolder,
                     std::string* reason);
  bool ParseValueLine(const std::string& line, std::string* reason);

  std::string path_;
  int line_ = 0;  // the line being read

  std::string section_;
  std::u16string name_;
  std::string setup_;
  std::vector<File> files_;
  std::vector<Value> values_;
};

}  // namespace handheld::detail
