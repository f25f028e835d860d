// The cabinet's control file reader on hostile bytes, in memory: whatever
// it accepts names only folders and files inside the device, and writes
// and reads back the same.
//
// Input: byte 0 chooses whether the rest is read as it stands (even) or
// with its signature and length field mended to fit (odd), so that runs
// get past the header to the sections; the rest is the control file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "CabControlFile.h"
#include "FuzzCheck.h"

namespace {

using handheld::detail::CabControlFile;

// A device path that stays inside the device: rooted, without "." or ".."
// parts, without host separators or drives.
bool InsideDevice(const std::string& path) {
  if (path.empty() || path[0] != '\\') return false;
  if (path.find_first_of("/:") != std::string::npos) return false;
  size_t at = 1;
  for (;;) {
    size_t end = path.find('\\', at);
    std::string part = path.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (part.empty() || part == "." || part == "..") return false;
    if (end == std::string::npos) return true;
    at = end + 1;
  }
}

void CheckContents(const CabControlFile::Contents& contents) {
  FUZZ_CHECK(!contents.appName.empty() && !contents.provider.empty());
  for (const auto& file : contents.files) {
    FUZZ_CHECK(CabControlFile::NameRefusal(file.name) == nullptr);
    bool found = false;
    for (const auto& directory : contents.directories) {
      if (directory.id != file.directory) continue;
      found = true;
      FUZZ_CHECK(InsideDevice(CabControlFile::DevicePath(directory.parts) + "\\" + file.name));
    }
    FUZZ_CHECK(found);
  }
  for (const auto& hive : contents.hives) FUZZ_CHECK(hive.root == CabControlFile::kRootLocalMachine);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::vector<uint8_t> bytes(data + 1, data + size);
  if ((data[0] & 1) && bytes.size() >= CabControlFile::kHeaderSize) {
    const uint8_t signature[4] = {'M', 'S', 'C', 'E'};
    for (size_t i = 0; i < 4; ++i) bytes[i] = signature[i];
    for (size_t i = 0; i < 4; ++i) bytes[8 + i] = static_cast<uint8_t>(bytes.size() >> (8 * i));
  }
  CabControlFile::Contents contents;
  std::string reason;
  if (!CabControlFile::Read(bytes.data(), bytes.size(), &contents, &reason).ok()) {
    FUZZ_CHECK(!reason.empty() && contents.files.empty() && contents.appName.empty());
    return 0;
  }
  CheckContents(contents);
  std::vector<uint8_t> written;
  FUZZ_CHECK(CabControlFile::Write(contents, &written, &reason).ok());
  CabControlFile::Contents again;
  FUZZ_CHECK(CabControlFile::Read(written.data(), written.size(), &again, &reason).ok());
  FUZZ_CHECK(again.appName == contents.appName && again.files.size() == contents.files.size() &&
             again.values.size() == contents.values.size() && again.links.size() == contents.links.size());
  for (size_t i = 0; i < contents.files.size(); ++i) FUZZ_CHECK(again.files[i].name == contents.files[i].name);
  return 0;
}
