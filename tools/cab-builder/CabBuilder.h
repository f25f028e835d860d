// Builds the handheld's installation cabinet from an installation script
// and the built files it names: the control file (member .000) first, then
// the setup DLL (.999) and the files to install in descending order of
// their numbers, all uncompressed, each under an 8.3 name.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "CabControlFile.h"
#include "InfScript.h"

class CabBuilder {
 public:
  static constexpr size_t kMaxMember = 64u << 20;

  // False with one line in `reason` when the script is refused, a file is
  // missing or the cabinet cannot be written; `output` is then untouched.
  bool Build(const std::string& script, const std::string& source, const std::string& output,
             std::string* reason);

  // The 8.3 name of member `number` whose real name is `realName`: up to
  // eight characters of its base name in upper case (padded on the left
  // with '0', cut to six and "~N" when longer), a dot and three digits.
  std::string MemberName(const std::string& realName, int number);

 private:
  struct Member {
    std::string name;
    std::vector<uint8_t> bytes;
  };

  static handheld::detail::CabControlFile::Contents Control(const handheld::detail::InfScript& inf);
  bool AddFile(const std::string& path, const std::string& realName, int number,
               std::string* reason);
  bool Write(const std::string& output, std::string* reason) const;

  std::vector<Member> members_;
  std::map<std::string, int> cuts_;  // names cut to six characters, and how often
};
