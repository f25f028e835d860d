// An installation script in the handheld's authoring format (.inf), the
// part of it that a package of this project uses:
//
//   [Version]           Signature="$Windows NT$", Provider="<name>",
//                       CESignature="$Windows CE$"
//   [CEStrings]         AppName="<name>", InstallDir=<folder>
//   [CEDevice]          VersionMin=<major>.<minor>, VersionMax=... (optional)
//   [DefaultInstall]    CESetupDLL=<source file>, CopyFiles=<sections>,
//                       AddReg=<sections>
//   [SourceDisksNames]  <disk> = ,"<description>",,[<relative folder>]
//   [SourceDisksFiles]  <source file> = <disk>
//   [DestinationDirs]   <copy section> = 0,<folder>  (or DefaultDestDir)
//   [<copy section>]    "<installed name>","<source file>",,<flags>
//   [<addreg section>]  HKLM,<key>,<value name>,<type>,<data>
//
// Keys and section names are matched without regard to case; fields are
// separated by commas and may be quoted ("" is a quote inside quotes); ';'
// outside quotes starts a comment. %AppName% and %InstallDir% are replaced
// by their [CEStrings] texts; a folder is a %CEn% macro or %InstallDir%
// followed by folder names. Types are 0x00000000 (string) and 0x00010001
// (32-bit number, decimal or 0x hexadecimal). Flags are those of the
// cabinet's FILES entries (0x80000000 shared). Anything else is refused
// with its line.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "Status.h"

namespace handheld::detail {

class InfScript {
 public:
  static constexpr size_t kMaxSize = 1 << 20;
  static constexpr size_t kMaxLine = 1024;

  struct File {
    std::vector<std::string> folder;  // {"%CE2%"}, {"%CE1%", "GpsSleeve"}
    std::string name;                 // installed name
    std::string source;               // relative to the source folder
    uint32_t flags = 0;
  };
  struct Value {
    std::string key;  // below HKEY_LOCAL_MACHINE
    std::string name;
    uint32_t type = 0;  // 0x00000000 string, 0x00010001 number
    std::string text;
    uint32_t number = 0;
  };

  // Reads and parses the script at `path`. ERROR_FILE_NOT_FOUND or
  // CabControlFile::kInvalidData with one line in `reason` ("<path>:<line>: ...").
  Status Load(const std::string& path, std::string* reason);
  // Parses `text`; a refusal's reason starts with "<line>: ".
  Status Parse(std::string_view text, std::string* reason);

  const std::string& appName() const { return appName_; }
  const std::string& provider() const { return provider_; }
  const std::string& installDir() const { return installDir_; }  // "%CE1%\GpsSleeve"
  const std::string& setupSource() const { return setupSource_; }  // empty when none
  const uint32_t* versionMin() const { return versionMin_; }       // major, minor
  const uint32_t* versionMax() const { return versionMax_; }
  const std::vector<File>& files() const { return files_; }
  const std::vector<Value>& values() const { return values_; }

 private:
  struct Line {
    int number = 0;
    std::string key;                  // before '=', when the section has keys
    std::vector<std::string> fields;  // after '=' (or the whole line)
  };
  struct Section {
    std::string name;
    int number = 0;  // the line of its header
    bool used = false;
    std::vector<std::string> raw;
    std::vector<int> rawNumbers;
    std::vector<Line> lines;
  };

  static const std::string* One(const std::vector<Line>& lines, const char* key, int* number);
  Status Split(std::string_view text, std::string* reason);
  Status Keys(Section* section, std::initializer_list<const char*> allowed, std::string* reason);
  std::string Source(const std::string& name) const;
  Status Destination(const std::string& name, int line, std::vector<std::string>* folder,
                     std::string* reason);
  Section* Find(const std::string& name);
  Status Fields(Section& section, bool keyed, std::string* reason);
  Status ReadHead(std::string* reason);
  Status ReadDisks(std::string* reason);
  Status ReadInstall(std::string* reason);
  Status ReadCopySection(const std::string& name, int line, std::string* reason);
  Status ReadRegSection(const std::string& name, int line, std::string* reason);
  Status Expand(const std::string& text, int line, bool folder, std::string* out,
                std::string* reason) const;
  Status Folder(const std::string& text, int line, std::vector<std::string>* out,
                std::string* reason) const;

  std::vector<Section> sections_;
  std::vector<std::pair<std::string, std::string>> sourceFiles_;  // name, path
  std::string appName_, provider_, installDir_, setupSource_;
  uint32_t versionMin_[2] = {0, 0};
  uint32_t versionMax_[2] = {0, 0};
  std::vector<File> files_;
  std::vector<Value> values_;
};

}  // namespace handheld::detail
