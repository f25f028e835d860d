// A package as its cabinet holds it: the control file (member .000) read by
// CabControlFile, the setup plug-in (member .999) and the files to install
// (every other member, its number being its file id), resolved into what
// the installer does -- each file's handheld path and bytes, each registry
// value below HKEY_LOCAL_MACHINE.
//
// Load refuses, with one line naming the cabinet and the part, anything it
// could not install whole: a cabinet that cannot be read (CabinetFile), a
// control file that is missing, twice there or refused (its counts,
// offsets, lengths, strings and names are all checked), a processor or
// handheld version the control file excludes, a member without its file
// entry or a file entry without its member, a target the path gate
// refuses or that two entries share, a package name that cannot name a
// record, shortcuts and self-registering files (which this installer does
// not make). A value marked for substitution has its %CEn% folders
// replaced; other text is kept as it stands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CabControlFile.h"
#include "StoredValue.h"

namespace handheld::detail {

class CabinetPackage {
 public:
  // FILES flags the installer acts on.
  static constexpr uint32_t kKeepExisting = 0x00000010;  // not over an existing target
  static constexpr uint32_t kOnlyIfThere = 0x00000400;   // only over an existing target
  static constexpr uint32_t kSelfRegister = 0x10000000;

  struct File {
    int number = 0;             // its member's number
    std::u16string target;      // handheld path, "\Windows\Tessiv.dll"
    std::vector<uint8_t> bytes;
    bool shared = false;
    uint32_t flags = 0;
  };
  struct Value {
    std::u16string key;  // below HKEY_LOCAL_MACHINE
    std::u16string name;
    StoredValue value;   // REG_SZ or REG_DWORD
    bool keepExisting = false;
  };

  bool Load(const std::string& path, std::string* reason);

  // A member's number as its name ends, ".003".
  static std::string Suffix(int number);

  const std::string& path() const { return path_; }
  const std::u16string& name() const { return name_; }
  bool hasSetup() const { return hasSetup_; }
  const std::vector<uint8_t>& setup() const { return setup_; }
  const std::vector<File>& files() const { return files_; }
  const std::vector<Value>& values() const { return values_; }

 private:
  bool Fail(const std::string& why, std::string* reason) const;
  bool CheckHandheld(const CabControlFile::Contents& control, std::string* reason) const;
  bool TakeFiles(const CabControlFile::Contents& control,
                 std::vector<std::vector<uint8_t>*>* members, std::string* reason);
  bool TakeValues(const CabControlFile::Contents& control, std::string* reason);

  std::string path_;
  std::u16string name_;
  bool hasSetup_ = false;
  std::vector<uint8_t> setup_;
  std::vector<File> files_;
  std::vector<Value> values_;
};

}  // namespace handheld::detail
