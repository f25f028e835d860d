// The package installer with the build's cabinets and their real plug-in,
// bus driver, sleeve library and client driver, on a handheld in a
// temporary device folder whose GPS sleeve is a pty. The loader has no ROM
// here, unless a test needs a library the package does not bring, so what
// runs is what the installer put into "\Windows". Changed and broken
// cabinets are made from the build's with cabextract and gcab
// (CabinetDraft).
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CabinetDraft.h"
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

// Adds a file to install to the draft: a folder entry for `folder` when
// none has it, the file entry and its member, numbered after the others.
void AddFile(CabinetDraft& draft, const std::vector<std::string>& folder, const std::string& name,
             std::vector<uint8_t> bytes, uint32_t flags = 0) {
  CabinetDraft::Control::Contents contents = draft.Contents();
  uint16_t directory = 0;
  for (const auto& entry : contents.directories)
    if (entry.parts == folder) directory = entry.id;
  if (directory == 0) {
    directory = static_cast<uint16_t>(contents.directories.size() + 1);
    contents.directories.push_back({directory, folder});
  }
  const auto number = static_cast<uint16_t>(contents.files.size() + 1);
  contents.files.push_back({number, directory, flags, name});
  draft.SetContents(contents);
  draft.Add("000EXTRA.00" + std::to_string(number), std::move(bytes));
}

// Changes the bus driver's "DLL" in the draft.
void SetBusDriverDll(CabinetDraft& draft, const std::string& dll) {
  CabinetDraft::Control::Contents contents = draft.Contents();
  for (auto& value : contents.values)
    for (const auto& hive : contents.hives)
      if (hive.id == value.hive && hive.parts == std::vector<std::string>{"Drivers", "BuiltIn", "Tessiv"} &&
          value.name == "DLL")
        value.text = dll;
  draft.SetContents(contents);
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

  handheld::PackageOutcome Install(const std::string& cabinet = handheld::DefaultCabinet()) {
    return handheld::InstallPackage(cabinet, [this](const std::string& line) { lines_.push_back(line); });
  }

  handheld::PackageOutcome Uninstall(const std::string& name) {
    return handheld::UninstallPackage(name,
                                      [this](const std::string& line) { lines_.push_back(line); });
  }

  // The build's cabinet `from` (the GPS sleeve's by default) as `change`
  // leaves it, in the device folder outside the handheld's files.
  std::string Variant(const std::function<void(CabinetDraft&)>& change,
                      const std::string& from = handheld::DefaultCabinet()) {
    const std::string folder = device_.path() + "/draft-" + std::to_string(++files_);
    CabinetDraft draft(from, folder);
    change(draft);
    return draft.Pack("Variant.CAB");
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
    std::function<void(CabinetDraft&)> change;
    const char16_t* box;  // shown by the plug-in, or null
  };
  // A file stands where the extra file's folder would be made.
  fs::create_directories(handheld::HostPath(u"\\Windows"));
  std::ofstream(handheld::HostPath(u"\\Windows\\Blocked")) << "in the way";
  const Case cases[] = {
      {"a file whose folder cannot be made",
       [](CabinetDraft& draft) { AddFile(draft, {"%CE2%", "Blocked"}, "Extra.dll", {'x'}); },
       nullptr},
      {"a bus driver that cannot start",
       [](CabinetDraft& draft) { SetBusDriverDll(draft, "Missing.dll"); },
       u"Failed to Load Tessiv Bus Driver!!"},
  };
  handheld::InsertSleeve(kGpsSleeve);
  ASSERT_TRUE(WaitUntil([] { return HasValue(u"SYSTEM\\CurrentControlSet\\AdvancedCPL\\DM",
                                             u"IDs"); }, 2000));
  for (const Case& c : cases) {
    const std::string cabinet = Variant(c.change);
    boxes_.clear();
    const std::string before = Snapshot();
    handheld::PackageOutcome outcome = Install(cabinet);
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
  // Another sleeve's package brings the same bus driver and sleeve library
  // (here without a plug-in of its own).
  const std::string second = Variant([](CabinetDraft& draft) { draft.Remove(999); },
                                     std::string(CABINET_FOLDER) + "/SecondSleeve.CAB");
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

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) { return Le16(b, at) | Le16(b, at + 2) << 16; }

// Overwrites the control file's bytes at `at` with `text`.
void Patch(CabinetDraft& draft, size_t at, const std::string& text) {
  std::copy(text.begin(), text.end(), draft.control().begin() + static_cast<long>(at));
}

// Overwrites the first `text` in the control file with `with`, as long.
void Replace(CabinetDraft& draft, const std::string& text, const std::string& with) {
  std::vector<uint8_t>& b = draft.control();
  const auto at = std::search(b.begin(), b.end(), text.begin(), text.end());
  ASSERT_NE(at, b.end()) << text;
  Patch(draft, static_cast<size_t>(at - b.begin()), with);
}

// The control file's first FILES entry's name ("Tessiv.dll").
size_t FirstFileName(CabinetDraft& draft) { return Le32(draft.control(), 68) + 12; }

TEST_F(PackageInstaller, ACabinetItCannotReadOrRefusesChangesNothing) {
  using Change = std::function<void(CabinetDraft&)>;
  using Contents = CabinetDraft::Control::Contents;
  auto contents = [](std::function<void(Contents&)> edit) {
    return [edit](CabinetDraft& draft) {
      Contents c = draft.Contents();
      edit(c);
      draft.SetContents(c);
    };
  };
  struct Case {
    const char* what;
    Change change;
    std::string why;  // in the reason
  };
  // A file beside the device folder, which hostile cabinets aim at.
  const std::string beside = device_.path() + ".beside";
  std::ofstream(beside) << "the user's";
  fs::create_directories(handheld::HostPath(u"\\Windows\\Ferrix.dll"));
  const Case cases[] = {
      {"a control file cut short", [](CabinetDraft& d) { d.control().resize(60); },
       "control file cut short: 60 bytes, less than its 100-byte header"},
      {"a count past the end of its section, the last one",
       [](CabinetDraft& d) { Put16(&d.control(), 56, static_cast<uint16_t>(Le16(d.control(), 56) + 1)); },
       "REGKEYS entry 8 of 8 is cut short"},
      {"the application name without its terminator",
       [](CabinetDraft& d) { Patch(d, Le16(d.control(), 84) + Le16(d.control(), 86) - 1, "X"); },
       "application name has no terminator"},
      {"a string without its terminator",
       [](CabinetDraft& d) {
         const size_t at = Le32(d.control(), 60);
         Patch(d, at + 4 + Le16(d.control(), at + 2) - 1, "X");
       },
       "STRINGS entry 1 of 6 has no terminator"},
      {"a file named up out of its folder", [](CabinetDraft& d) { Patch(d, FirstFileName(d), "..\\..\\x.dl"); },
       "FILES entry 1 of 3 has a name with one of \\ / : * ? \" < > | in it"},
      {"a file named up out of its folder, the other way",
       [](CabinetDraft& d) { Patch(d, FirstFileName(d), "../../a.dl"); }, "FILES entry 1 of 3 has a name"},
      {"a folder up out of the device",
       [&](CabinetDraft& d) {
         contents([](Contents& c) { c.directories[0].parts = {"%CE2%", "@@", "@@", "sentinel"}; })(d);
         Replace(d, "@@", "..");  // which the writer would not write
       },
       "DIRS entry 1 of 1 names the folder itself or the one above it"},
      {"a folder macro that names no folder", [](CabinetDraft& d) { Replace(d, "%CE2%", "%CE9%"); },
       "DIRS entry 1 of 1 starts with a folder macro that names no folder"},
      {"a target where a folder stands", [](CabinetDraft&) {},
       "the target \\Windows\\Ferrix.dll (member .002) cannot be installed: it is a folder"},
      {"a member without its file entry", [](CabinetDraft& d) { d.Add("00EXTRA.004", {'x'}); },
       "its member .004 has no file entry"},
      {"a file entry without its member", [](CabinetDraft& d) { d.Remove(3); },
       "the file SleeveSerial.dll (member .003) is not in the cabinet"},
      {"a member without a number", [](CabinetDraft& d) { d.Add("README.TXT", {'x'}); },
       "its member README.TXT has no three-digit number"},
      {"two members of one number", [](CabinetDraft& d) { d.Add("0EXTRA.003", {'x'}); },
       "two of its members are numbered .003"},
      {"no control file", [](CabinetDraft& d) { d.Remove(0); }, "it holds no control file"},
      {"two files on one target",
       [](CabinetDraft& d) { AddFile(d, {"%CE2%"}, "TESSIV.DLL", {'x'}); },
       "the file TESSIV.DLL (member .004) goes where member .001 goes"},
      {"a value in the installer's own keys",
       contents([](Contents& c) {
         c.hives.push_back({99, 3, {"SOFTWARE", "Apps", "Shared"}});
         c.values.push_back({99, 99, false, 0x00010001, "\\Windows\\Tessiv.dll", "", 7});
       }),
       "is in SOFTWARE\\Apps, which only the installer writes"},
      {"the installer's own name", contents([](Contents& c) { c.appName = "shared"; }),
       "the application name shared cannot name a package"},
      {"a shortcut", contents([](Contents& c) { c.links.push_back({1, 11, 1, 1, {"Tessiv"}}); }),
       "it holds 1 shortcuts, which this installer does not make"},
      {"a self-registering file", contents([](Contents& c) { c.files[0].flags |= 0x10000000; }),
       "the file Tessiv.dll (member .001) asks to register itself"},
      {"a later handheld", contents([](Contents& c) { c.versionMin[0] = 4; }),
       "it needs Windows CE 4.0 or later; the handheld runs 3.0"},
      {"another processor", contents([](Contents& c) { c.processor = 4000; }),
       "it is made for processor 4000, not for the handheld's ARM"},
  };
  const std::string before = Snapshot();
  for (const Case& c : cases) {
    handheld::PackageOutcome outcome = Install(Variant(c.change));
    EXPECT_FALSE(outcome.ok) << c.what;
    EXPECT_NE(outcome.reason.find(c.why), std::string::npos) << c.what << ": " << outcome.reason;
    EXPECT_NE(outcome.reason.find("nothing was changed"), std::string::npos) << c.what << ": " << outcome.reason;
  }
  // Files that are no cabinet, or not a whole one, say what they are, and a
  // FIFO is not waited on.
  const std::vector<uint8_t> whole = ReadBytes(handheld::DefaultCabinet());
  const std::string cut = device_.path() + "/cut.CAB", head = device_.path() + "/head.CAB";
  const std::string text = device_.path() + "/text.CAB", fifo = device_.path() + "/fifo.CAB";
  WriteBytes(cut, std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(whole.size() / 2)));
  WriteBytes(head, std::vector<uint8_t>(whole.begin(), whole.begin() + 30));
  std::ofstream(text) << "[Version]\nSignature=\"$Windows NT$\"\n";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::pair<std::string, const char*> files[] = {
      {cut, "it is damaged or cut short"},
      {head, "it is no cabinet or is cut short"},
      {text, "it is no cabinet"},
      {device_.path() + "/none.CAB", "No such file"},
      {device_.path(), "it is a folder"},
      {fifo, "it is not a regular file"},
  };
  for (const auto& [file, why] : files) {
    handheld::PackageOutcome outcome = Install(file);
    EXPECT_FALSE(outcome.ok) << file;
    EXPECT_NE(outcome.reason.find("cannot read the cabinet " + file + ": " + why), std::string::npos)
        << outcome.reason;
  }
  EXPECT_EQ(Snapshot(), before);
  EXPECT_TRUE(handheld::InstalledPackages().empty());
  std::ifstream in(beside);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the user's");
  fs::remove(beside);
}

// Files and values marked to keep what stands there, or to go only over
// it: what is kept stays the user's at uninstalling, and what is left out
// is not the package's.
TEST_F(PackageInstaller, FlagsKeepWhatIsThereAndLeaveOutWhatIsNot) {
  fs::create_directories(handheld::HostPath(u"\\My Documents"));
  std::ofstream(handheld::HostPath(u"\\My Documents\\Kept.txt")) << "the user's";
  ASSERT_TRUE(handheld::testing::WriteDword(kBusKey, u"Order", 7));
  const std::string cabinet = Variant([](CabinetDraft& draft) {
    AddFile(draft, {"%CE5%"}, "Kept.txt", {'n', 'e', 'w'}, 0x00000010);
    AddFile(draft, {"%CE5%"}, "Absent.txt", {'n', 'e', 'w'}, 0x00000400);
    CabinetDraft::Control::Contents contents = draft.Contents();
    for (auto& value : contents.values)
      if (value.name == "Order") value.type |= CabinetDraft::Control::kValueKeepExisting;
    draft.SetContents(contents);
  });
  ASSERT_TRUE(Install(cabinet).ok);
  DWORD order = 0;
  EXPECT_TRUE(HasValue(kBusKey, u"Order", &order));
  EXPECT_EQ(order, 7u);
  EXPECT_FALSE(Installed(u"\\My Documents\\Absent.txt"));
  ASSERT_TRUE(Uninstall("GpsSleeve").ok);
  std::ifstream kept(handheld::HostPath(u"\\My Documents\\Kept.txt"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "the user's");
  EXPECT_TRUE(HasValue(kBusKey, u"Order", &order));
  EXPECT_EQ(order, 7u);
  EXPECT_FALSE(HasValue(kBusKey, u"DLL"));
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


// Writes fail past `bytes` while it lives, as on a full disk (SIGXFSZ is
// ignored so that the write only fails).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old_); }

 private:
  rlimit old_{};
};

// The lines of a snapshot in order: values put back come back last.
std::string SortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

// Files below the handheld's root whose names end in `suffix`.
std::vector<std::string> FilesEndingIn(const std::string& suffix) {
  std::vector<std::string> found;
  std::error_code error;
  for (const auto& entry : fs::recursive_directory_iterator(handheld::HostPath(u"\\"), error))
    if (entry.path().string().ends_with(suffix)) found.push_back(entry.path().string());
  return found;
}

bool WriteList(const char16_t* key, const char16_t* name, const std::u16string& entries) {
  HKEY open = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, 0, &open) != ERROR_SUCCESS) return false;
  LONG rc = RegSetValueExW(open, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(entries.data()),
                           static_cast<DWORD>((entries.size() + 1) * sizeof(char16_t)));
  RegCloseKey(open);
  return rc == ERROR_SUCCESS;
}

TEST_F(PackageInstaller, UninstallRemovesNothingOutsideTheDeviceFolder) {
  const std::string beside = device_.path() + ".beside";
  std::ofstream(beside) << "the user's";
  ASSERT_TRUE(Install().ok);
  // A record that lists a file beside the device folder, as a hostile hive
  // might.
  const std::u16string climbing =
      u"\\Windows\\..\\..\\..\\" + handheld::FromUtf8(fs::path(beside).filename().string());
  ASSERT_TRUE(WriteList(kRecordKey, u"Files", climbing + u'\0' + u"\\Windows\\Tessiv.dll" + u'\0'));
  ASSERT_TRUE(Uninstall("GpsSleeve").ok);
  EXPECT_FALSE(Installed(u"\\Windows\\Tessiv.dll"));
  EXPECT_TRUE(fs::exists(beside));
  fs::remove(beside);
}

TEST_F(PackageInstaller, AnUninstallThatCannotRecordItselfOrFinishRemovesNothing) {
  ASSERT_TRUE(Install().ok);
  const std::string before = Snapshot();
  {
    FileSizeLimit full(0);  // the registry cannot be written
    handheld::PackageOutcome outcome = Uninstall("GpsSleeve");
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.reason.find("nothing was removed"), std::string::npos) << outcome.reason;
  }
  EXPECT_EQ(Snapshot(), before);
  // A file that cannot be removed half-way: what went already comes back.
  const std::string serial = handheld::HostPath(u"\\Windows\\SleeveSerial.dll");
  fs::rename(serial, serial + ".kept");
  fs::create_directory(serial);
  StopAllDrivers();  // as the plug-in does first
  const std::string blocked = SortedLines(Snapshot());
  handheld::PackageOutcome outcome = Uninstall("GpsSleeve");
  EXPECT_FALSE(outcome.ok);
  EXPECT_NE(outcome.reason.find("put back"), std::string::npos) << outcome.reason;
  EXPECT_EQ(SortedLines(Snapshot()), blocked);
  EXPECT_EQ(handheld::InstalledPackages(), std::vector<std::string>{"GpsSleeve"});
  fs::remove(serial);
  fs::rename(serial + ".kept", serial);
  EXPECT_TRUE(Uninstall("GpsSleeve").ok);
}

TEST_F(PackageInstaller, AnInstallationOnAFullDiskLeavesNothingBehind) {
  // A library larger than the disk has room for.
  const std::string cabinet = Variant([](CabinetDraft& draft) {
    AddFile(draft, {"%CE2%"}, "Big.dll", std::vector<uint8_t>(24 << 20, 0x5A));
  });
  const std::string before = Snapshot();
  handheld::PackageOutcome outcome;
  {
    FileSizeLimit full(16 << 20);
    outcome = Install(cabinet);
  }
  EXPECT_FALSE(outcome.ok);
  EXPECT_NE(outcome.reason.find("undone"), std::string::npos) << outcome.reason;
  EXPECT_EQ(FilesEndingIn(".installing"), std::vector<std::string>{});
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(PackageInstaller, ThePackagesKeysGoWithTheLastPackageThatWroteThem) {
  const std::string second = std::string(CABINET_FOLDER) + "/SecondSleeve.CAB";
  ASSERT_TRUE(Install().ok);
  ASSERT_TRUE(Install(second).ok);
  // The host takes its receiver out of the client key before uninstalling.
  HKEY gps = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kGpsKey, 0, 0, &gps), ERROR_SUCCESS);
  RegDeleteValueW(gps, handheld::kHostDeviceValue);
  RegCloseKey(gps);
  ASSERT_TRUE(Uninstall("GpsSleeve").ok);
  EXPECT_TRUE(KeyExists(kBusKey));  // the second package's still
  ASSERT_TRUE(Uninstall("SecondSleeve").ok);
  for (const char16_t* key : {kBusKey, u"Drivers\\BuiltIn", kGpsKey, u"Drivers\\Tessiv",
                              kSharedKey, u"SOFTWARE\\Apps"})
    EXPECT_FALSE(KeyExists(key)) << handheld::ToUtf8(key);
  EXPECT_TRUE(KeyExists(u"Drivers\\PCMCIA\\Detect"));
}

// An installer killed before it was done: the next start finds its journal
// and rolls it back.
TEST(InterruptedInstallation, IsRolledBackAtTheNextStart) {
  handheld::testing::TempDevice device;
  CabinetDraft draft(handheld::DefaultCabinet(), device.path() + "/draft");
  SetBusDriverDll(draft, "Missing.dll");
  const std::string extra = draft.Pack("Extra.CAB");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Everything is written when the plug-in finds that the bus driver does
    // not start; the installer dies at its message.
    handheld::SetModuleFolders({});
    handheld::SetMessageBoxAnswerer([](const handheld::MessageBoxRequest&) {
      raise(SIGKILL);
      return IDOK;
    });
    handheld::InstallPackage(extra, {});
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  const std::string journal = device.path() + "/installer-undo-" + std::to_string(child);
  ASSERT_TRUE(fs::exists(journal));
  ASSERT_TRUE(fs::exists(handheld::HostPath(u"\\Windows\\Tessiv.dll")));

  std::vector<std::string> lines;
  handheld::PackageOutcome outcome =
      handheld::RecoverInstallations([&](const std::string& line) { lines.push_back(line); });
  EXPECT_TRUE(outcome.ok) << outcome.reason;
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("process " + std::to_string(child) + " did not finish was rolled back"),
            std::string::npos)
      << lines[0];
  EXPECT_FALSE(fs::exists(journal));
  EXPECT_FALSE(fs::exists(handheld::HostPath(u"\\Windows\\Tessiv.dll")));
  EXPECT_FALSE(fs::exists(handheld::HostPath(u"\\Windows\\AppMgr")));
  EXPECT_TRUE(handheld::InstalledPackages().empty());
  EXPECT_FALSE(KeyExists(kBusKey));
  EXPECT_FALSE(KeyExists(u"SOFTWARE\\Apps\\GpsSleeve"));
  lines.clear();
  EXPECT_TRUE(handheld::RecoverInstallations([&](const std::string& line) { lines.push_back(line); }).ok);
  EXPECT_TRUE(lines.empty());
}

}  // namespace
}  // namespace bustest
