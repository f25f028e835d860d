// The installation instructions of a handheld cabinet: its control file, the
// cabinet member numbered 000. All integers are little-endian.
//
//   header (100 bytes)   "MSCE", the file's length, target processor,
//                        version and build limits, the entry count and file
//                        offset of each section, offset and length of the
//                        application and provider names and of the
//                        unsupported-platform list
//   STRINGS   id, length, text (NUL-terminated ASCII)
//   DIRS      id, length, string ids ending with 0 (the parts of a path;
//             the first may be a folder macro such as %CE2% = \Windows)
//   FILES     file id (= its member's number), directory id, file id again,
//             flags, name length, the installed name
//   REGHIVES  id, root (3 = HKEY_LOCAL_MACHINE), 0, length, string ids
//             ending with 0 (the key's path)
//   REGKEYS   id, hive id, substitute flag, type, length, value name and
//             data
//   LINKS     id, 0, base folder, target id, target kind, length, string
//             ids ending with 0
//
// Read treats its bytes as hostile: every count, offset, length and id is
// checked against the bytes and the tables it refers to, every text must be
// printable ASCII with its terminator inside its own length, and every
// folder and file name must stay inside the device: no "." or "..", no
// empty part, none of \ / : * ? " < > |, no name ending in a dot or a blank.
// Only HKEY_LOCAL_MACHINE and string and 32-bit values are understood.
// Write lays the contents out in section order and reads its own result
// back, so it never writes what Read refuses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Status.h"

namespace handheld::detail {

class CabControlFile {
 public:
  // The status of a refusal: the Win32 code ERROR_INVALID_DATA.
  static constexpr DWORD kInvalidData = 13;
  // FILES flags.
  static constexpr uint32_t kFileShared = 0x80000000;      // counted, kept while shared
  static constexpr uint32_t kFileKnownFlags = 0xF0000413;
  // REGKEYS types, and the flag "do not overwrite an existing value".
  static constexpr uint32_t kValueString = 0x00000000;
  static constexpr uint32_t kValueDword = 0x00010001;
  static constexpr uint32_t kValueKeepExisting = 0x00000002;
  static constexpr uint16_t kRootLocalMachine = 3;
  static constexpr size_t kHeaderSize = 100;
  static constexpr size_t kMaxSize = 1 << 20;
  static constexpr size_t kMaxName = 255;    // a file, folder, key or value name
  static constexpr size_t kMaxPath = 259;    // a whole device path or key path
  static constexpr size_t kMaxText = 4096;   // a string value

  struct Directory {
    uint16_t id = 0;
    std::vector<std::string> parts;  // parts[0] may be a folder macro
  };
  struct File {
    uint16_t id = 0;  // 1-998
    uint16_t directory = 0;
    uint32_t flags = 0;
    std::string name;
  };
  struct Hive {
    uint16_t id = 0;
    uint16_t root = kRootLocalMachine;
    std::vector<std::string> parts;
  };
  struct Value {
    uint16_t id = 0;
    uint16_t hive = 0;
    bool substitute = false;
    uint32_t type = kValueString;  // with kValueKeepExisting or not
    std::string name;              // empty: the key's default value
    std::string text;              // kValueString
    uint32_t number = 0;           // kValueDword
  };
  struct Link {
    uint16_t id = 0;
    uint16_t base = 0;    // 0 the install folder, 1-17 a %CEn% folder
    uint16_t target = 0;  // a file or directory id
    uint16_t kind = 0;    // 0 directory, 1 file
    std::vector<std::string> parts;
  };
  struct Contents {
    std::string appName;
    std::string provider;
    std::vector<std::string> unsupported;  // platform names
    uint32_t processor = 0;                // 0: any
    uint32_t versionMin[2] = {0, 0};       // major, minor; 0 = none
    uint32_t versionMax[2] = {0, 0};
    uint32_t buildMin = 0, buildMax = 0;
    std::vector<Directory> directories;
    std::vector<File> files;
    std::vector<Hive> hives;
    std::vector<Value> values;
    std::vector<Link> links;
  };

  // Parses `size` bytes at `data` into `contents`. kInvalidData with
  // one line in `reason` when any part is out of bounds or not understood.
  static Status Read(const uint8_t* data, size_t size, Contents* contents, std::string* reason);
  // Lays `contents` out as a control file. kInvalidData with the
  // reason when it does not fit the format or Read would refuse it.
  static Status Write(const Contents& contents, std::vector<uint8_t>* out, std::string* reason);

  // The device path of a directory's parts, "\Windows" for {"%CE2%"};
  // empty when the first part is a macro that names no folder.
  static std::string DevicePath(const std::vector<std::string>& parts);
  // The folder of "%CEn%" (any case), or null when it names none.
  static const char* MacroFolder(const std::string& macro);
  // Why `name` cannot be a file or folder name on the device, or null when
  // it can.
  static const char* NameRefusal(const std::string& name);
};

}  // namespace handheld::detail
