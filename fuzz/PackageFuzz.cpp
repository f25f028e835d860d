// The package installer with hostile cabinets: the input makes a cabinet,
// which is read, installed (when it can be) and uninstalled again on a
// throw-away handheld. Whatever the cabinet says, nothing outside the
// device folder's "files/" and its registry may change: the device folder
// sits in a parent folder of its own with a file beside it, and holds a
// file of its own outside "files/"; both must keep their contents, the
// parent must hold nothing new and the device folder nothing but its own.
// Nor may an installation leave its journal, a half-copied file or the
// plug-in's loading copy behind.
//
// Input: byte 0 even, the rest is the cabinet file as it stands (libgcab
// reads it); odd, the rest is the control file, wrapped into a cabinet
// with three small files (CabinetWrap.h) -- with its signature and length
// field mended to fit when bit 1 is set, so that runs get past the header.
//
// Cabinets with a setup plug-in (a member .999) are skipped: the plug-in is
// code the package brings, run by design, and not what is tried here.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "CabinetWrap.h"
#include "FuzzCheck.h"
#include "handheld.h"
#include "handheld_package.h"

namespace {

namespace fs = std::filesystem;

constexpr char kBeside[] = "beside the device folder";
constexpr char kInside[] = "in the device folder, outside its files";
// What the device folder may hold besides: its hive and control channel.
const std::set<std::string> kDeviceNames = {"files",           "sentinel",        "registry.db",
                                            "registry.db-wal", "registry.db-shm", "control"};

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The parent folder, the device folder in it and the two sentinels, for the
// whole run (in memory when /dev/shm is there).
struct Sandbox {
  Sandbox() {
    for (const fs::path& base : {fs::path("/dev/shm"), fs::temp_directory_path()}) {
      std::string pattern = (base / "package-fuzz-XXXXXX").string();
      if (mkdtemp(pattern.data()) != nullptr) {
        parent = pattern;
        break;
      }
    }
    if (parent.empty()) std::abort();
    device = parent / "device";
    fs::create_directories(device / "files" / "My Documents");
    std::ofstream(parent / "sentinel") << kBeside;
    std::ofstream(device / "sentinel") << kInside;
    handheld::SetDeviceFolder(device.string());
    handheld::SetModuleFolders({});
  }
  ~Sandbox() {
    std::error_code ignored;
    fs::remove_all(parent, ignored);
  }

  void Check() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(parent)) names.insert(entry.path().filename());
    FUZZ_CHECK((names == std::set<std::string>{"device", "input.CAB", "sentinel"}));
    FUZZ_CHECK(Contents(parent / "sentinel") == kBeside);
    FUZZ_CHECK(Contents(device / "sentinel") == kInside);
    FUZZ_CHECK(fs::is_directory(device / "files" / "My Documents"));
    for (const auto& entry : fs::directory_iterator(device))
      FUZZ_CHECK(kDeviceNames.count(entry.path().filename()) == 1);
    for (const auto& entry : fs::recursive_directory_iterator(device / "files")) {
      const std::string name = entry.path().filename();
      FUZZ_CHECK(!name.ends_with(".installing"));
    }
  }

  fs::path parent, device;
};

// Whether the bytes may hold a member .999 (its name ends so).
bool HasSetup(const std::vector<uint8_t>& bytes) {
  const std::string name = ".999";
  return std::search(bytes.begin(), bytes.end(), name.begin(), name.end()) != bytes.end();
}

// The cabinet the input stands for (see the top).
std::vector<uint8_t> Cabinet(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data + 1, data + size);
  if (!(data[0] & 1)) return bytes;
  if ((data[0] & 2) && bytes.size() >= 12) {
    const uint8_t signature[4] = {'M', 'S', 'C', 'E'};
    for (size_t i = 0; i < 4; ++i) bytes[i] = signature[i];
    for (size_t i = 0; i < 4; ++i) bytes[8 + i] = static_cast<uint8_t>(bytes.size() >> (8 * i));
  }
  return fuzzing::WrapInCabinet(bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Sandbox sandbox;
  if (size < 1 || size > 8192) return 0;
  const std::vector<uint8_t> cabinet = Cabinet(data, size);
  if (HasSetup(cabinet)) return 0;
  const fs::path input = sandbox.parent / "input.CAB";
  std::ofstream(input, std::ios::binary)
      .write(reinterpret_cast<const char*>(cabinet.data()), static_cast<std::streamsize>(cabinet.size()));
  handheld::InstallPackage(input.string(), {});
  for (const std::string& name : handheld::InstalledPackages())
    handheld::UninstallPackage(name, {});
  sandbox.Check();
  FUZZ_CHECK(handheld::InstalledPackages().empty());
  return 0;
}
