// The packages' cabinets as the build writes them, checked with Debian's
// cabextract: every member unpacks byte for byte as the build's file, in
// the order the handheld expects, and the control file's header (read here
// with the test's own little-endian reads) says what the script says.
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CabControlFile.h"
#include "DeviceFolder.h"
#include "InfScript.h"
#include "CabinetPackage.h"
#include "testing/TempDevice.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct Package {
  const char* name;
  const char* controlMember;
  std::map<int, const char*> sources;  // member number -> built module
};

const Package kPackages[] = {
    {"GpsSleeve", "GPSSLE~1.000",
     {{999, "Kolvane.so"}, {3, "SleeveSerial.so"}, {2, "Ferrix.so"}, {1, "Tessiv.so"}}},
    {"SecondSleeve", "SECOND~1.000",
     {{999, "Kolvane.so"}, {3, "SleeveSerial.so"}, {2, "Ferrix.so"}, {1, "Tessiv.so"}}},
};

Bytes ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> ReadLines(const fs::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Runs `command` through the shell; its exit status, and its standard
// output in `out`.
int RunShell(const std::string& command, std::string* out) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  out->clear();
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out->append(buffer, n);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "cab-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data()) ? pattern : "";
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

uint32_t Le16(const Bytes& b, size_t at) { return at + 2 <= b.size() ? b[at] | b[at + 1] << 8 : 0xFFFFFFFF; }
uint32_t Le32(const Bytes& b, size_t at) {
  return at + 4 <= b.size() ? Le16(b, at) | Le16(b, at + 2) << 16 : 0xFFFFFFFF;
}
std::string Quoted(const std::string& line) {
  size_t open = line.find('"');
  return open == std::string::npos ? "" : line.substr(open + 1, line.find('"', open + 1) - open - 1);
}

class CabinetTest : public ::testing::TestWithParam<Package> {
 protected:
  fs::path Cabinet() const { return fs::path(CABINET_FOLDER) / (std::string(GetParam().name) + ".CAB"); }
  fs::path Script() const { return fs::path(SETUP_FOLDER) / (std::string(GetParam().name) + ".inf"); }
  // The cabinet unpacked by cabextract into the temp folder.
  void Unpack() {
    std::string out;
    ASSERT_EQ(RunShell("cabextract -q -d '" + temp_.path().string() + "' '" + Cabinet().string() + "'", &out), 0)
        << "cabextract did not unpack " << Cabinet();
  }
  TempFolder temp_;
};

TEST_P(CabinetTest, ListsTheControlFileFirstAndTheOthersInDescendingOrder) {
  std::string listing;
  ASSERT_EQ(RunShell("cabextract -l '" + Cabinet().string() + "'", &listing), 0) << listing;
  std::vector<std::string> names;
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);) {
    size_t bar = line.rfind("| ");
    if (bar != std::string::npos && line.find("Name") == std::string::npos) names.push_back(line.substr(bar + 2));
  }
  EXPECT_EQ(names, (std::vector<std::string>{GetParam().controlMember, "0KOLVANE.999",
                                             names.size() > 2 ? names[2] : "", "00FERRIX.002",
                                             "00TESSIV.001"}));
  ASSERT_EQ(names.size(), 5u);
  EXPECT_EQ(names[2].substr(8), ".003");
}

TEST_P(CabinetTest, UnpacksEveryMemberAsTheBuildWroteIt) {
  Unpack();
  std::set<int> seen;
  for (const fs::directory_entry& entry : fs::directory_iterator(temp_.path())) {
    std::string name = entry.path().filename().string();
    ASSERT_EQ(name.size(), 12u) << name;
    int number = std::stoi(name.substr(9));
    seen.insert(number);
    if (number == 0) continue;  // the control file, checked below
    ASSERT_TRUE(GetParam().sources.count(number)) << name;
    Bytes built = ReadBytes(fs::path(MODULE_FOLDER) / GetParam().sources.at(number));
    ASSERT_FALSE(built.empty());
    EXPECT_TRUE(ReadBytes(entry.path()) == built) << name << " differs from " << GetParam().sources.at(number);
  }
  EXPECT_EQ(seen, (std::set<int>{0, 1, 2, 3, 999}));
}

TEST_P(CabinetTest, ControlFileHeaderSaysWhatTheScriptSays) {
  Unpack();
  Bytes control = ReadBytes(temp_.path() / GetParam().controlMember);
  ASSERT_GE(control.size(), 100u);
  // What the script says, read line by line.
  std::string appName, provider;
  std::vector<std::string> fileLines;
  std::set<std::string> keys, parts = {"%CE2%"};
  size_t valueLines = 0;
  for (const std::string& line : ReadLines(Script())) {
    if (line.rfind("AppName", 0) == 0) appName = Quoted(line);
    if (line.rfind("Provider", 0) == 0) provider = Quoted(line);
    if (line.rfind("\"", 0) == 0) fileLines.push_back(line);
    if (line.rfind("HKLM,", 0) == 0) {
      ++valueLines;
      std::string key = line.substr(5, line.find(',', 5) - 5);
      keys.insert(key);
      std::istringstream split(key);
      for (std::string part; std::getline(split, part, '\\');) parts.insert(part);
    }
  }
  EXPECT_EQ(Le32(control, 0), 0x4543534Du);  // "MSCE"
  EXPECT_EQ(Le32(control, 8), control.size());
  EXPECT_EQ(Le16(control, 48), parts.size());     // STRINGS
  EXPECT_EQ(Le16(control, 50), 1u);               // DIRS: \Windows
  EXPECT_EQ(Le16(control, 52), fileLines.size()); // FILES
  EXPECT_EQ(Le16(control, 54), keys.size());      // REGHIVES
  EXPECT_EQ(Le16(control, 56), valueLines);       // REGKEYS
  EXPECT_EQ(Le16(control, 58), 0u);               // LINKS
  EXPECT_EQ(Le32(control, 24), 3u);               // at least CE 3.0
  EXPECT_EQ(std::string(control.begin() + Le16(control, 84), control.begin() + Le16(control, 84) + Le16(control, 86)),
            appName + '\0');
  EXPECT_EQ(std::string(control.begin() + Le16(control, 88), control.begin() + Le16(control, 88) + Le16(control, 90)),
            provider + '\0');
  // Each FILES entry: the script's installed name and flags, in its order.
  size_t at = Le32(control, 68);
  for (size_t i = 0; i < fileLines.size(); ++i) {
    ASSERT_LT(at + 12, control.size());
    EXPECT_EQ(Le16(control, at), i + 1);
    uint32_t flags = Le32(control, at + 6);
    size_t length = Le16(control, at + 10);
    EXPECT_EQ(std::string(control.begin() + at + 12, control.begin() + at + 12 + length), Quoted(fileLines[i]) + '\0');
    EXPECT_EQ(flags, std::stoul(fileLines[i].substr(fileLines[i].rfind(',') + 1), nullptr, 16));
    at += 12 + length;
  }
}

// What the installer takes from the cabinet is what the script says: the
// package's name, the plug-in and each file as the build made it, each
// file's target and sharing, each registry value.
TEST_P(CabinetTest, TheInstallerReadsWhatTheScriptSays) {
  using handheld::detail::CabControlFile;
  using handheld::detail::CabinetPackage;
  using handheld::detail::InfScript;
  handheld::testing::TempDevice device;  // the targets pass the path gate
  InfScript script;
  CabinetPackage package;
  std::string reason;
  ASSERT_TRUE(script.Load(Script().string(), &reason).ok()) << reason;
  ASSERT_TRUE(package.Load(Cabinet().string(), &reason)) << reason;
  EXPECT_EQ(handheld::FromUtf8(script.appName()), package.name());
  ASSERT_TRUE(package.hasSetup());
  EXPECT_TRUE(package.setup() == ReadBytes(fs::path(MODULE_FOLDER) / script.setupSource()));
  ASSERT_EQ(script.files().size(), package.files().size());
  for (size_t i = 0; i < package.files().size(); ++i) {
    const auto& file = script.files()[i];
    std::string target = CabControlFile::DevicePath(file.folder) + "\\" + file.name;
    EXPECT_EQ(handheld::FromUtf8(target), package.files()[i].target);
    EXPECT_TRUE(package.files()[i].bytes == ReadBytes(fs::path(MODULE_FOLDER) / file.source)) << target;
    EXPECT_EQ((file.flags & 0x80000000u) != 0, package.files()[i].shared) << target;
  }
  ASSERT_EQ(script.values().size(), package.values().size());
  for (size_t i = 0; i < package.values().size(); ++i) {
    const auto& value = script.values()[i];
    const auto& read = package.values()[i];
    EXPECT_EQ(handheld::FromUtf8(value.key), read.key);
    EXPECT_EQ(handheld::FromUtf8(value.name), read.name);
    if (value.type == 0x00010001) {
      EXPECT_EQ(read.value.type(), DWORD(REG_DWORD));
      EXPECT_EQ(read.value.number(), value.number);
    } else {
      EXPECT_EQ(read.value.type(), DWORD(REG_SZ));
      EXPECT_EQ(read.value.text(), handheld::FromUtf8(value.text));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Packages, CabinetTest, ::testing::ValuesIn(kPackages),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CabBuilderTest, HelpGoesToStandardOutput) {
  std::string out;
  EXPECT_EQ(RunShell(std::string(CAB_BUILDER) + " --help", &out), 0);
  EXPECT_EQ(out.rfind("Usage: cab-builder", 0), 0u) << out;
}

TEST(CabBuilderTest, RefusedScriptNamesItsLineAndWritesNothing) {
  TempFolder temp;
  fs::path script = temp.path() / "Bad.inf", cabinet = temp.path() / "Bad.CAB";
  std::ofstream(script) << "[Version]\nSignature = \"$Windows NT$\"\nSomething = 1\n[CEStrings]\nAppName = X\n";
  std::string out;
  EXPECT_EQ(RunShell(std::string(CAB_BUILDER) + " --inf '" + script.string() + "' --source '" + MODULE_FOLDER +
                    "' --output '" + cabinet.string() + "' 2>&1",
                &out),
            1);
  EXPECT_NE(out.find("Bad.inf:3: key Something is not one [Version] may hold"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(cabinet));
}

}  // namespace
