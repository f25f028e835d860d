// A Microsoft Cabinet file read whole into memory with libgcab, the way the
// package installer takes a package: the file is read without waiting on
// anything that is not a regular file, at most kMaxSize bytes of it, and
// libgcab reads only those bytes (it never sees the file system). Before a
// member is unpacked, the sizes its header declares are checked: at most
// kMaxMembers members holding at most kMaxSize bytes together, so a
// cabinet cannot make the installer unpack more than that. Only
// uncompressed and MSZIP folders are unpacked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace handheld::detail {

class CabinetFile {
 public:
  static constexpr size_t kMaxSize = size_t(64) << 20;
  static constexpr size_t kMaxMembers = 1000;

  struct Member {
    std::string name;  // as the cabinet stores it ("00TESSIV.001")
    std::vector<uint8_t> bytes;
  };

  // Reads the cabinet at `path`; false with one line in `reason` ("cannot
  // read the cabinet <path>: ...") when the file cannot be read, is no
  // cabinet, is cut short or holds more than the limits.
  bool Load(const std::string& path, std::string* reason);

  const std::vector<Member>& members() const { return members_; }
  std::vector<Member>& members() { return members_; }

 private:
  bool Unpack(const std::vector<uint8_t>& bytes, std::string* reason);

  std::vector<Member> members_;
};

}  // namespace handheld::detail
