// The package installer with the repository's package and its real
// plug-in, bus driver, sleeve library and client driver, on a handheld in a
// temporary device folder whose GPS sleeve is a pty. The loader has no ROM
// here, unless a test needs a library the package does not bring, so what
// runs is what the installer put into "\Windows".
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "SetupTesting.h"
#include "handheld_package.h"

namespace bustest {
namespace {

namespace fs = std::filesystem;
using handheld::MessageBoxRequest;

constexpr char16_t kSharedKey[] = u"SOFTWARE\\Apps\\Shared";
constexpr char16_t kRecordKey[] = u"SOFTWARE\\Apps\\GpsSleeve";

// Every key and value below `key`, one line each, in order.
void DumpKey(HKEY key, const std::u16string& path, std::ostringstream* out) {
  WCHAR name[256];
  BYTE data[1024];
  for (DWORD i = 0;; ++i) {
    DWORD chars = 256, bytes = sizeof data, type = 0;
    if (RegEnumValueW(key, i, name, &chars, nullptr, &type, data, &bytes) != ERROR_SUCCESS)
      break;
    *out << handheld::ToUtf8(path) << " : " << handheld::ToUtf8(name) << " " << type << " "
         << std::string(reinterpret_cast<char*>(data), bytes) << "\n";
  }
  for (DWORD i = 0;; ++i) {
    DWORD chars = 256;
    if (RegEnumKeyExW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    HKEY sub = nullptr;
    std::u16string subPath = path + u"\\" + name;
    *out << handheld::ToUtf8(subPath) << "\n";
    if (RegOpenKeyExW(key, name, 0, 0, &sub) == ERROR_SUCCESS) {
      DumpKey(sub, subPath, out);
      RegCloseKey(sub);
    }
  }
}

// The handheld as it stands: its whole registry and every file with its
// contents.
std::string Snapshot() {
  std::ostringstream out;
  DumpKey(HKEY_LOCAL_MACHINE, u"", &out);
  std::error_code error;
  for (const auto& entry :
       fs::recursive_directory_iterator(handheld::HostPath(u"\\"), error)) {
    out << entry.path().string() << "\n";
    if (entry.is_regular_file()) {
      std::ifstream file(entry.path(), std::ios::binary);
      out << file.rdbuf() << "\n";
    }
  }
  return out.str();
}

bool Installed(const char16_t* handheldPath) {
  return fs::exists(handheld::HostPath(handheldPath));
}

bool Loadable(const char16_t* name) {
  HMODULE module = LoadLibraryW(name);
  if (module) FreeLibrary(module);
  return module != nullptr;
}

bool HasValue(const char16_t* key, const char16_t* name, DWORD* number = nullptr) {
  HKEY open = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, 0, &open) != ERROR_SUCCESS) return false;
  DWORD value = 0, bytes = sizeof value;
  LONG rc = RegQueryValueExW(open, name, nullptr, nullptr,
                             number ? reinterpret_cast<BYTE*>(&value) : nullptr,
                             number ? &bytes : nullptr);
  RegCloseKey(open);
  if (number) *number = value;
  return rc == ERROR_SUCCESS;
}

bool KeyExists(const char16_t* key) {
  HKEY open = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, 0, &open) != ERROR_SUCCESS) return false;
  RegCloseKey(open);
  return true;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class PackageInstaller : public SetupTest {
 protected:
  void SetUp() override {
    SetupTest::SetUp();
    // The handheld's card services, and the sleeve's wiring to its receiver.
    HKEY detect = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\PCMCIA\\Detect", 0, nullptr, 0, 0,
                              nullptr, &detect, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(detect);
    HKEY gps = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kGpsKey, 0, nullptr, 0, 0, nullptr, &gps,
                              nullptr),
              ERROR_SUCCESS);
    const std::u16string host = handheld::FromUtf8(peer_.slavePath());
    RegSetValueExW(gps, handheld::kHostDeviceValue, 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(host.c_str()),
                   static_cast<DWORD>((host.size() + 1) * sizeof(char16_t)));
    RegCloseKey(gps);
    handheld::SetModuleFolders({});
  }

  handheld::PackageOutcome Install(const std::string& file = handheld::DefaultPackageFile()) {
    return handheld::InstallPackage(file, [this](const std::string& line) { lines_.push_back(line); });
  }

  handheld::PackageOutcome Uninstall(const std::string& name) {
    return handheld::UninstallPackage(name,
                                      [this](const std::string& line) { lines_.push_back(line); });
  }

  // A package file in the device folder: the repository's with `extra`
  // lines after it, or `extra` alone.
  std::string PackageFile(const std::string& extra, bool withDefault = true) {
    std::string path = device_.path() + "/test-" + std::to_string(++files_) + ".package";
    std::ofstream(path) << (withDefault ? ReadAll(handheld::DefaultPackageFile()) + "\n" : "")
                        << extra;
    return path;
  }

  void InstallWithTheSleeveAttached() {
    handheld::InsertSleeve(kGpsSleeve);
    handheld::PackageOutcome outcome = Install();
    ASSERT_TRUE(outcome.ok) << outcome.reason;
    ASSERT_TRUE(WaitUntil([] { return Listed(kGpsKey); }, 7000));
  }

  std::vector<std::string> lines_;
  int files_ = 0;
};

TEST_F(PackageInstaller, InstallsRunsReinstallsAndUninstallsThePackage) {
  EXPECT_FALSE(Loadable(u"Tessiv.dll"));
  EXPECT_FALSE(Loadable(u"FERRIX.DLL"));
  InstallWithTheSleeveAttached();
  EXPECT_TRUE(Listed(kBusKey));
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(handheld::InstalledPackages(), std::vector<std::string>{"GpsSleeve"});
  for (const char16_t* file : {u"\\Windows\\Tessiv.dll", u"\\Windows\\Ferrix.dll"}) {
    DWORD count = 0;
    EXPECT_TRUE(HasValue(kSharedKey, file, &count));
    EXPECT_EQ(count, 1u);
  }
  EXPECT_EQ(lines_.front(), "Installing GpsSleeve");
  EXPECT_EQ(lines_.back(), "GpsSleeve installed");

  // Over the running system: both drivers go before the files are replaced,
  // and come back as new devices.
  std::vector<ActiveRecord> before = ActiveRecords();
  ASSERT_EQ(before.size(), 2u);
  ASSERT_TRUE(Install().ok);
  ASSERT_TRUE(WaitUntil([] { return Listed(kGpsKey); }, 7000));
  for (const ActiveRecord& now : ActiveRecords())
    for (const ActiveRecord& old : before) EXPECT_NE(now.hnd, old.hnd);
  DWORD count = 0;
  EXPECT_TRUE(HasValue(kSharedKey, u"\\Windows\\Tessiv.dll", &count));
  EXPECT_EQ(count, 1u);  // not counted twice

  ASSERT_TRUE(Uninstall("GpsSleeve").ok);
  EXPECT_TRUE(ActiveRecords().empty());
  EXPECT_FALSE(Loadable(u"Tessiv.dll"));
  EXPECT_FALSE(Loadable(u"FERRIX.DLL"));
  EXPECT_FALSE(fs::exists(handheld::HostPath(u"\\Windows\\AppMgr\\GpsSleeve.dll")));
  EXPECT_FALSE(KeyExists(kRecordKey));
  EXPECT_FALSE(KeyExists(kBusKey));
  EXPECT_FALSE(HasValue(kSharedKey, u"\\Windows\\Tessiv.dll"));
  EXPECT_TRUE(HasValue(kGpsKey, u"HostDevice"));  // the wiring stays
  EXPECT_FALSE(HasValue(kGpsKey, u"DLL"));
  EXPECT_TRUE(handheld::InstalledPackages().empty());
  EXPECT_FALSE(Uninstall("GpsSleeve").ok);
}

TEST_F(PackageInstaller, ABusyClientThatTheUserWillNotCloseCancelsWithNothingChanged) {
  handheld::SetModuleFolders({MODULE_FOLDER});  // the busy client comes from the ROM
  ASSERT_TRUE(handheld::testing::WriteDriverKey(kGpsKey, {u"BusyClient.dll", u"COM", 3, ""}));
  ASSERT_TRUE(handheld::testing::WriteDword(kGpsKey, u"Busy", 1));
  ASSERT_NE(ActivateDevice(kGpsKey, 0), nullptr);
  const std::string before = Snapshot();
  answer_ = [&](const MessageBoxRequest&) { return boxes_.size() < 2 ? IDRETRY : IDCANCEL; };
  handheld::PackageOutcome outcome = Install();
  EXPECT_FALSE(outcome.ok);
  EXPECT_NE(outcome.reason.find("cancelled"), std::string::npos) << outcome.reason;
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(boxes_[1].text,
            u"Could not unload driver Drivers\\Tessiv\\0100\\0001 - It may be in use by an "
            u"application.");
  EXPECT_EQ(Snapshot(), before);
  ASSERT_TRUE(handheld::testing::WriteDword(kGpsKey, u"Busy", 0));  // so it can go
}

TEST_F(PackageInstaller, AFailedInstallationIsUndone) {
  struct Case {
    const char* what;
    std::string extra;
    const char16_t* box;  // shown by the plug-in, or null
  };
  const Case cases[] = {
      {"a file that cannot be copied", "[Files]\nMissing.so -> \\Windows\\Missing.dll\n",
       nullptr},
      {"a bus driver that cannot start", "[Drivers\\BuiltIn\\Tessiv]\n\"DLL\"=\"Missing.dll\"\n",
       u"Failed to Load Tessiv Bus Driver!!"},
  };
  handheld::InsertSleeve(kGpsSleeve);
  ASSERT_TRUE(WaitUntil([] { return HasValue(u"SYSTEM\\CurrentControlSet\\AdvancedCPL\\DM",
                                             u"IDs"); }, 2000));
  for (const Case& c : cases) {
    boxes_.clear();
    const std::string before = Snapshot();
    handheld::PackageOutcome outcome = Install(PackageFile(c.extra));
    EXPECT_FALSE(outcome.ok) << c.what;
    EXPECT_NE(outcome.reason.find("undone"), std::string::npos) << c.what << outcome.reason;
    ASSERT_EQ(boxes_.size(), c.box ? 1u : 0u) << c.what;
    if (c.box) {
      EXPECT_EQ(boxes_[0].text, c.box) << c.what;
    }
    EXPECT_TRUE(ActiveRecords().empty()) << c.what;
    EXPECT_EQ(Snapshot(), before) << c.what;
  }
}

TEST_F(PackageInstaller, UninstallPutsTheBusDriverBackWhileAnotherPackageSharesIt) {
  // Another sleeve's package brings the same bus driver and sleeve library.
  const std::string second = PackageFile(
      "[Package]\nName=SecondSleeve\n"
      "[Files]\nTessiv.so -> \\Windows\\Tessiv.dll shared\nFerrix.so -> \\Windows\\Ferrix.dll "
      "shared\n"
      "[Drivers\\BuiltIn\\Tessiv]\n\"DLL\"=\"Tessiv.dll\"\n\"Prefix\"=\"OPT\"\n"
      "\"Order\"=dword:00000014\n",
      false);
  struct Case {
    const char* what;
    bool shared;
    bool prefixStored;
  };
  const Case cases[] = {
      {"only package", false, true},
      {"shared", true, true},
      {"shared, Prefix missing", true, false},
  };
  for (const Case& c : cases) {
    InstallWithTheSleeveAttached();
    if (c.shared) {
      ASSERT_TRUE(Install(second).ok) << c.what;
    }
    if (!c.prefixStored) {
      HKEY bus = nullptr;
      ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kBusKey, 0, 0, &bus), ERROR_SUCCESS);
      RegDeleteValueW(bus, u"Prefix");
      RegCloseKey(bus);
    }
    handheld::ClearOemRequests();
    ASSERT_TRUE(Uninstall("GpsSleeve").ok) << c.what;
    // The bus driver looked at the connector once as it stopped.
    auto presenceQueries = [] {
      size_t count = 0;
      for (const auto& request : handheld::OemRequests())
        count += request.code == handheld::kOemSleevePresence;
      return count;
    };

    EXPECT_FALSE(Installed(u"\\Windows\\SleeveSerial.dll")) << c.what;
    EXPECT_FALSE(KeyExists(kRecordKey)) << c.what;
    EXPECT_EQ(Installed(u"\\Windows\\Tessiv.dll"), c.shared) << c.what;
    DWORD count = 0;
    EXPECT_EQ(HasValue(kSharedKey, u"\\Windows\\Tessiv.dll", &count), c.shared) << c.what;
    EXPECT_EQ(count, c.shared ? 1u : 0u) << c.what;
    EXPECT_EQ(HasValue(kBusKey, u"DLL"), c.shared) << c.what;
    EXPECT_EQ(HasValue(kBusKey, u"Order"), c.shared) << c.what;
    EXPECT_EQ(HasValue(kBusKey, u"Prefix"), c.shared && c.prefixStored) << c.what;
    // Restarted and asked to scan: it looks at the connector again.
    const bool running = c.shared && c.prefixStored;
    EXPECT_EQ(Listed(kBusKey), running) << c.what;
    EXPECT_EQ(WaitUntil([&] { return presenceQueries() > 1; }, running ? 5000 : 300), running)
        << c.what;

    StopAllDrivers();
    if (c.shared) {
      ASSERT_TRUE(Uninstall("SecondSleeve").ok) << c.what;
    }
    EXPECT_TRUE(handheld::InstalledPackages().empty()) << c.what;
    handheld::RemoveSleeve();
  }
}

TEST_F(PackageInstaller, APackageFileItCannotReadChangesNothing) {
  struct Case {
    const char* text;
    const char* where;  // in the reason
  };
  const Case cases[] = {
      {"[Files]\nTessiv.so -> \\Windows\\Tessiv.dll\n", "no package name"},
      {"[Package]\nName=Shared\n", ":2:"},
      {"[Package]\nName=A\n[Files]\nTessiv.so \\Windows\\Tessiv.dll\n", ":4:"},
      {"[Package]\nName=A\n[Drivers\\X]\n\"Order\"=dword:123456789\n", ":4:"},
      {"[Package]\nName=A\n[Drivers\\X]\n\"DLL\"=\"Tessiv.dll\n", ":4:"},
      {"[Package]\nName=A\n[Drivers\\X\n", ":3:"},
      {"\"DLL\"=\"Tessiv.dll\"\n", ":1:"},
  };
  const std::string before = Snapshot();
  for (const Case& c : cases) {
    handheld::PackageOutcome outcome = Install(PackageFile(c.text, false));
    EXPECT_FALSE(outcome.ok) << c.text;
    EXPECT_NE(outcome.reason.find(c.where), std::string::npos) << outcome.reason;
  }
  EXPECT_FALSE(Install(device_.path() + "/none.package").ok);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(PackageInstaller, TheLoaderFindsOnlyWhatIsInstalled) {
  struct Case {
    std::vector<const char*> installed;  // built libraries copied into \Windows
    bool tessiv, ferrix;                 // loadable
  };
  const Case cases[] = {
      {{}, false, false},
      {{"Tessiv"}, false, false},  // without its import
      {{"Tessiv", "Ferrix"}, true, true},
  };
  const std::string windows = handheld::HostPath(u"\\Windows");
  for (const Case& c : cases) {
    fs::remove_all(windows);
    fs::create_directories(windows);
    for (const char* library : c.installed)
      fs::copy_file(std::string(MODULE_FOLDER) + "/" + library + ".so",
                    windows + "/" + library + ".dll");
    EXPECT_EQ(Loadable(u"Tessiv.dll"), c.tessiv) << c.installed.size();
    EXPECT_EQ(Loadable(u"\\Windows\\Tessiv.dll"), c.tessiv) << c.installed.size();
    EXPECT_EQ(Loadable(u"FERRIX.DLL"), c.ferrix) << c.installed.size();
  }
}

}  // namespace
}  // namespace bustest
