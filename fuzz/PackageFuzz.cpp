// The package installer with hostile package files: the input is a package
// file, which is read, installed (when it can be) and uninstalled again on
// a throw-away handheld. Whatever the file says, nothing outside the device
// folder's "files/" and its registry may change: the device folder sits in
// a parent folder of its own with a file beside it, and holds a file of its
// own outside "files/"; both must keep their contents and the parent must
// hold nothing new. Nor may an installation leave its journal or a
// half-copied file behind.
//
// Packages with a setup plug-in are skipped: the plug-in is code the
// package brings, run by design, and not what is tried here.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "FuzzCheck.h"
#include "handheld.h"
#include "handheld_package.h"

namespace {

namespace fs = std::filesystem;

constexpr char kBeside[] = "beside the device folder";
constexpr char kInside[] = "in the device folder, outside its files";

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
    FUZZ_CHECK((names == std::set<std::string>{"device", "input.package", "sentinel"}));
    FUZZ_CHECK(Contents(parent / "sentinel") == kBeside);
    FUZZ_CHECK(Contents(device / "sentinel") == kInside);
    FUZZ_CHECK(fs::is_directory(device / "files" / "My Documents"));
    for (const auto& entry : fs::directory_iterator(device)) {
      const std::string name = entry.path().filename();
      FUZZ_CHECK(name.rfind("installer-undo-", 0) != 0);
    }
    for (const auto& entry : fs::recursive_directory_iterator(device / "files")) {
      const std::string name = entry.path().filename();
      FUZZ_CHECK(!name.ends_with(".installing"));
    }
  }

  fs::path parent, device;
};

bool HasSetup(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text.find("setup") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Sandbox sandbox;
  if (size > 4096 || HasSetup(data, size)) return 0;
  const fs::path input = sandbox.parent / "input.package";
  std::ofstream(input, std::ios::binary).write(reinterpret_cast<const char*>(data),
                                               static_cast<std::streamsize>(size));
  handheld::InstallPackage(input.string(), {});
  for (const std::string& name : handheld::InstalledPackages())
    handheld::UninstallPackage(name, {});
  sandbox.Check();
  FUZZ_CHECK(handheld::InstalledPackages().empty());
  return 0;
}
