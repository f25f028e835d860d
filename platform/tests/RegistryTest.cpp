// The registry on a real hive in a temporary device folder.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "conformance/RegistryNames.h"
#include "handheld.h"
#include "testing/TempDevice.h"
#include "windows.h"

namespace {

using conformance::SubKeys;
using conformance::ValueNames;
using handheld::testing::TempDevice;

HKEY Create(HKEY root, const std::u16string& path, DWORD* disposition = nullptr) {
  HKEY key = nullptr;
  DWORD ignored = 0;
  EXPECT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, 0, nullptr, &key,
                            disposition ? disposition : &ignored),
            ERROR_SUCCESS)
      << handheld::ToUtf8(path);
  return key;
}

LONG Open(HKEY root, const std::u16string& path, HKEY* key) {
  return RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS, key);
}

LONG SetString(HKEY key, const char16_t* name, const std::u16string& text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * 2));
}

LONG SetDword(HKEY key, const char16_t* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
}

std::u16string GetString(HKEY key, const char16_t* name) {
  WCHAR buffer[256] = {};
  DWORD bytes = sizeof(buffer) - 2;
  DWORD type = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) !=
      ERROR_SUCCESS)
    return u"<missing>";
  return std::u16string(buffer);
}

using Names = std::vector<std::u16string>;

TEST(RegistryTest, NamesIgnoreCaseAndKeepTheirCreatedCase) {
  TempDevice device;
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Drivers\\Active\\MyPort");
  HKEY upper = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"DRIVERS\\active\\myport", &upper), ERROR_SUCCESS);

  ASSERT_EQ(SetString(key, u"Name", u"COM3:"), ERROR_SUCCESS);
  EXPECT_EQ(GetString(upper, u"NAME"), u"COM3:");
  ASSERT_EQ(SetString(upper, u"nAmE", u"COM4:"), ERROR_SUCCESS);  // overwrites, keeps "Name"
  EXPECT_EQ(ValueNames(key), Names{u"Name"});
  EXPECT_EQ(GetString(key, u"name"), u"COM4:");

  HKEY active = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"drivers\\ACTIVE", &active), ERROR_SUCCESS);
  EXPECT_EQ(SubKeys(active), Names{u"MyPort"});

  // Beyond ASCII: Latin-1, Latin Extended-A, Greek and Cyrillic letters.
  HKEY intl = Create(HKEY_LOCAL_MACHINE, u"Ärger\\Łódź\\Σοφία\\Москва");
  HKEY folded = nullptr;
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, u"äRGER\\łÓDŹ\\ΣΟΦΊΑ\\москва", &folded), ERROR_SUCCESS);
  RegCloseKey(folded);
  // Different letters stay different.
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, u"Arger", &folded), ERROR_FILE_NOT_FOUND);

  for (HKEY k : {key, upper, active, intl}) RegCloseKey(k);
}

TEST(RegistryTest, PredefinedRootsAreSeparateTrees) {
  TempDevice device;
  const HKEY roots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS};
  for (size_t i = 0; i < 4; ++i) {
    HKEY key = Create(roots[i], u"Software\\Shared");
    ASSERT_EQ(SetDword(key, u"Root", static_cast<DWORD>(i)), ERROR_SUCCESS);
    RegCloseKey(key);
  }
  for (size_t i = 0; i < 4; ++i) {
    HKEY key = nullptr;
    ASSERT_EQ(Open(roots[i], u"Software\\Shared", &key), ERROR_SUCCESS);
    DWORD value = 99, bytes = 4;
    EXPECT_EQ(RegQueryValueExW(key, u"Root", nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                               &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(value, i);
    RegCloseKey(key);
  }
  // The roots themselves cannot be closed for good nor deleted.
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_NE(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u""), ERROR_SUCCESS);
  HKEY key = nullptr;
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, u"Software\\Shared", &key), ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST(RegistryTest, EnumerationFollowsCreationOrder) {
  TempDevice device;
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Order");
  for (const char16_t* name : {u"zeta", u"Alpha", u"mid", u"10", u"9"}) {
    HKEY child = Create(key, name);
    RegCloseKey(child);
    ASSERT_EQ(SetDword(key, name, 1), ERROR_SUCCESS);
  }
  EXPECT_EQ(SubKeys(key), (Names{u"zeta", u"Alpha", u"mid", u"10", u"9"}));
  EXPECT_EQ(ValueNames(key), (Names{u"zeta", u"Alpha", u"mid", u"10", u"9"}));

  // Overwriting keeps a value's place; deleting closes the gap; a new one
  // goes last, even with the name of one deleted before.
  ASSERT_EQ(SetString(key, u"ALPHA", u"now a string"), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteValueW(key, u"zeta"), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, u"zeta", 2), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames(key), (Names{u"Alpha", u"mid", u"10", u"9", u"zeta"}));
  ASSERT_EQ(RegDeleteKeyW(key, u"Alpha"), ERROR_SUCCESS);
  RegCloseKey(Create(key, u"alpha"));
  EXPECT_EQ(SubKeys(key), (Names{u"zeta", u"mid", u"10", u"9", u"alpha"}));

  // RegEnumValue hands out type and data with the name.
  WCHAR name[16];
  DWORD chars = 16, type = 0, bytes = 64;
  WCHAR data[32];
  ASSERT_EQ(RegEnumValueW(key, 0, name, &chars, nullptr, &type, reinterpret_cast<BYTE*>(data),
                          &bytes),
            ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"Alpha");
  EXPECT_EQ(chars, 5u);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(bytes, 26u);
  EXPECT_EQ(std::u16string(data), u"now a string");
  RegCloseKey(key);
}

// The documented contract, where Wine adds a terminator of its own.
TEST(RegistryTest, AStringWithoutTerminatorIsStoredAsGiven) {
  TempDevice device;
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Bare");
  ASSERT_EQ(RegSetValueExW(key, u"Bare", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"ab"), 4),
            ERROR_SUCCESS);
  DWORD bytes = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"Bare", nullptr, nullptr, nullptr, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(bytes, 4u);
  RegCloseKey(key);
}

TEST(RegistryTest, HandlesOfDeletedKeysFailWithoutHarm) {
  TempDevice device;
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Drivers\\Active\\05");
  HKEY child = Create(key, u"sub");
  ASSERT_EQ(SetDword(key, u"Hnd", 7), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Drivers\\Active\\05"), ERROR_SUCCESS);
  // Even a new key of the same name is not the one these handles opened.
  RegCloseKey(Create(HKEY_LOCAL_MACHINE, u"Drivers\\Active\\05\\sub"));

  for (HKEY stale : {key, child}) {
    DWORD bytes = 4, value = 0, chars = 8, disposition = 0;
    WCHAR name[8];
    HKEY out = nullptr;
    EXPECT_EQ(RegQueryValueExW(stale, u"Hnd", nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                               &bytes),
              ERROR_KEY_DELETED);
    EXPECT_EQ(SetDword(stale, u"Hnd", 8), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteValueW(stale, u"Hnd"), ERROR_KEY_DELETED);
    EXPECT_EQ(RegEnumKeyExW(stale, 0, name, &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegEnumValueW(stale, 0, name, &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegQueryInfoKeyW(stale, nullptr, nullptr, nullptr, &value, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegCreateKeyExW(stale, u"x", 0, nullptr, 0, 0, nullptr, &out, &disposition),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegOpenKeyExW(stale, u"sub", 0, 0, &out), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteKeyW(stale, u"sub"), ERROR_KEY_DELETED);
    EXPECT_EQ(RegFlushKey(stale), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(stale), ERROR_SUCCESS);
  }
  // The new key holds nothing of the old one.
  HKEY fresh = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"Drivers\\Active\\05", &fresh), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames(fresh), Names{});
  RegCloseKey(fresh);
}

TEST(RegistryTest, InvalidHandlesAndArgumentsAreRefused) {
  TempDevice device;
  HKEY bogus = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x12345678));
  EXPECT_EQ(RegCloseKey(bogus), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
  HKEY out = nullptr;
  EXPECT_EQ(RegOpenKeyExW(bogus, u"x", 0, 0, &out), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyExW(nullptr, u"x", 0, 0, &out), ERROR_INVALID_HANDLE);
  EXPECT_EQ(SetDword(bogus, u"v", 1), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"x", 0, 0, nullptr), ERROR_INVALID_PARAMETER);

  // A closed handle stays invalid: handle values are not reused.
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Software");
  ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  HKEY next = Create(HKEY_LOCAL_MACHINE, u"Software");
  EXPECT_NE(next, key);
  EXPECT_EQ(SetDword(key, u"v", 1), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);

  // Over-long names.
  std::u16string longName(256, u'k');
  EXPECT_EQ(RegCreateKeyExW(next, longName.c_str(), 0, nullptr, 0, 0, nullptr, &out, nullptr),
            ERROR_INVALID_PARAMETER);
  longName.pop_back();
  EXPECT_EQ(RegCreateKeyExW(next, longName.c_str(), 0, nullptr, 0, 0, nullptr, &out, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(out);
  std::u16string longValue(16384, u'v');
  EXPECT_EQ(SetDword(next, longValue.c_str(), 1), ERROR_INVALID_PARAMETER);
  RegCloseKey(next);
}

// Keys and kernel objects take their values from one allocator: no two live
// handles share a value, and neither kind is accepted where the other
// belongs.
TEST(RegistryTest, KeysAndKernelHandlesAreKeptApart) {
  TempDevice device;
  std::set<uintptr_t> values;
  std::vector<HANDLE> events;
  std::vector<HKEY> keys;
  for (int i = 0; i < 20; ++i) {
    events.push_back(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    keys.push_back(Create(HKEY_LOCAL_MACHINE, u"Software\\Kinds"));
    EXPECT_TRUE(values.insert(reinterpret_cast<uintptr_t>(events.back())).second);
    EXPECT_TRUE(values.insert(reinterpret_cast<uintptr_t>(keys.back())).second);
  }
  HANDLE keyAsHandle = reinterpret_cast<HANDLE>(keys[0]);
  HKEY eventAsKey = reinterpret_cast<HKEY>(events[0]);
  const std::vector<std::pair<const char*, bool>> refused = {
      {"CloseHandle", CloseHandle(keyAsHandle) == FALSE},
      {"SetEvent", SetEvent(keyAsHandle) == FALSE},
      {"WaitForSingleObject", WaitForSingleObject(keyAsHandle, 0) == WAIT_FAILED},
      {"ReadFile", ReadFile(keyAsHandle, nullptr, 0, nullptr, nullptr) == FALSE},
  };
  for (const auto& [call, failed] : refused) EXPECT_TRUE(failed) << call;
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(SetDword(eventAsKey, u"v", 1), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(eventAsKey), ERROR_INVALID_HANDLE);
  // Both still work as what they are.
  EXPECT_TRUE(SetEvent(events[0]));
  EXPECT_EQ(WaitForSingleObject(events[0], 0), WAIT_OBJECT_0);
  EXPECT_EQ(SetDword(keys[0], u"v", 1), ERROR_SUCCESS);
  for (HANDLE h : events) EXPECT_TRUE(CloseHandle(h));
  for (HKEY k : keys) EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
}

// Names are UTF-16 of any content but unpaired surrogates, U+FFFE and U+FFFF:
// the hive cannot keep those as they were (they came back as other names,
// could not be read by the name enumeration gave, and a lookup with one
// found another value).
TEST(RegistryTest, NamesWithUnpairedSurrogatesAreRefused) {
  TempDevice device;
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Software");
  // A well-formed pair is a name like any other and round-trips.
  const std::u16string pair = u"x\U00010061";
  ASSERT_EQ(SetDword(key, pair.c_str(), 7), ERROR_SUCCESS);
  ASSERT_EQ(ValueNames(key), Names{pair});
  HKEY child = Create(key, pair);
  RegCloseKey(child);
  ASSERT_EQ(SubKeys(key), Names{pair});

  const char16_t kHigh = 0xD800;
  const char16_t kLow = 0xDC61;
  const std::u16string broken[] = {{u'x', kHigh, u'a'}, {u'x', kHigh, u'A'}, {u'x', kLow},
                                   {u'x', kHigh}, {kLow, kHigh}, {u'x', 0xFFFE}, {0xFFFF}};
  for (const std::u16string& name : broken) {
    SCOPED_TRACE(handheld::ToUtf8(name));
    EXPECT_EQ(SetDword(key, name.c_str(), 1), ERROR_INVALID_PARAMETER);
    DWORD bytes = 0;
    EXPECT_EQ(RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, &bytes),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueW(key, name.c_str()), ERROR_FILE_NOT_FOUND);
    HKEY out = nullptr;
    EXPECT_EQ(RegCreateKeyExW(key, name.c_str(), 0, nullptr, 0, 0, nullptr, &out, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Open(key, name, &out), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(key, name.c_str()), ERROR_FILE_NOT_FOUND);
  }
  EXPECT_EQ(ValueNames(key), Names{pair});
  EXPECT_EQ(SubKeys(key), Names{pair});
  RegCloseKey(key);
}

TEST(RegistryTest, ChangingTheDeviceFolderSwitchesHives) {
  TempDevice first;
  HKEY old = Create(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Tessiv");
  ASSERT_EQ(SetString(old, u"Prefix", u"OPT"), ERROR_SUCCESS);
  {
    TempDevice second;  // now the device folder
    HKEY key = nullptr;
    EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Tessiv", &key), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(std::filesystem::exists(second.hivePath()));
    // A key opened before the switch stays on its own hive.
    EXPECT_EQ(GetString(old, u"Prefix"), u"OPT");
    ASSERT_EQ(SetString(old, u"Dll", u"Tessiv.dll"), ERROR_SUCCESS);
  }
  handheld::SetDeviceFolder(first.path());
  HKEY key = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Tessiv", &key), ERROR_SUCCESS);
  EXPECT_EQ(GetString(key, u"Dll"), u"Tessiv.dll");
  RegCloseKey(key);
  RegCloseKey(old);

  // A hive file removed and the folder made afresh under the same name:
  // the next open starts on an empty hive instead of the deleted one.
  std::filesystem::remove_all(first.path());
  handheld::SetDeviceFolder(first.path());
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Tessiv", &key), ERROR_FILE_NOT_FOUND);
  RegCloseKey(Create(HKEY_LOCAL_MACHINE, u"Fresh"));
  EXPECT_TRUE(std::filesystem::exists(first.hivePath()));
}

TEST(RegistryTest, ThreadsShareTheHiveAndHandles) {
  TempDevice device;
  HKEY shared = Create(HKEY_LOCAL_MACHINE, u"Shared");
  constexpr int kThreads = 4;
  constexpr int kPerThread = 40;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        std::u16string name = handheld::FromUtf8("t" + std::to_string(t) + "-" + std::to_string(i));
        HKEY key = nullptr;
        DWORD disposition = 0;
        if (RegCreateKeyExW(shared, name.c_str(), 0, nullptr, 0, 0, nullptr, &key, &disposition) !=
                ERROR_SUCCESS ||
            disposition != REG_CREATED_NEW_KEY)
          ++failures;
        if (SetDword(shared, name.c_str(), static_cast<DWORD>(i)) != ERROR_SUCCESS) ++failures;
        if (SetString(key, u"Name", name) != ERROR_SUCCESS) ++failures;
        if (RegCloseKey(key) != ERROR_SUCCESS) ++failures;
        DWORD count = 0;
        if (RegQueryInfoKeyW(shared, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
          ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(SubKeys(shared).size(), static_cast<size_t>(kThreads * kPerThread));
  EXPECT_EQ(ValueNames(shared).size(), static_cast<size_t>(kThreads * kPerThread));
  RegCloseKey(shared);
}

TEST(RegistryTest, RegisterSerialPortListsTheHostDevice) {
  TempDevice device;
  // Someone else's entry "01" is left alone.
  HKEY other = Create(HKEY_LOCAL_MACHINE, u"Drivers\\Active\\01");
  ASSERT_EQ(SetString(other, u"Key", u"Drivers\\BuiltIn\\Tessiv"), ERROR_SUCCESS);
  RegCloseKey(other);

  std::u16string entry =
      handheld::RegisterSerialPort(u"COM3:", u"Drivers\\Tessiv\\0100\\0001", "/dev/pts/7");
  EXPECT_EQ(entry, u"02");
  HKEY key = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"Drivers\\Active\\" + entry, &key), ERROR_SUCCESS);
  EXPECT_EQ(GetString(key, u"Key"), u"Drivers\\Tessiv\\0100\\0001");
  EXPECT_EQ(GetString(key, u"Name"), u"COM3:");
  RegCloseKey(key);
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"Drivers\\Tessiv\\0100\\0001", &key), ERROR_SUCCESS);
  EXPECT_EQ(GetString(key, handheld::kHostDeviceValue), u"/dev/pts/7");
  DWORD bytes = 0;
  ASSERT_EQ(RegQueryValueExW(key, handheld::kHostDeviceValue, nullptr, nullptr, nullptr, &bytes),
            ERROR_SUCCESS);
  EXPECT_EQ(bytes, (10u + 1) * 2);  // terminator included
  RegCloseKey(key);
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"Drivers\\Active\\01", &key), ERROR_SUCCESS);
  EXPECT_EQ(GetString(key, u"Key"), u"Drivers\\BuiltIn\\Tessiv");
  RegCloseKey(key);

  EXPECT_EQ(handheld::RegisterSerialPort(u"COM4:", u"Drivers\\Serial\\Second", "/dev/ttyUSB0"),
            u"03");
}

// A hive that cannot be used says why, and no call pretends it is empty.
TEST(RegistryTest, AnUnusableHiveGivesItsReason) {
  TempDevice scratch;
  // A sound hive, closed (so registry.db alone holds it), then cut short.
  const std::string sound = scratch.path() + "/sound";
  handheld::SetDeviceFolder(sound);
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Tessiv");
  for (int i = 0; i < 200; ++i)
    SetString(key, handheld::FromUtf8("v" + std::to_string(i)).c_str(), std::u16string(100, u'x'));
  RegCloseKey(key);
  handheld::SetDeviceFolder(scratch.path() + "/elsewhere");
  RegCloseKey(Create(HKEY_LOCAL_MACHINE, u"Other"));  // lets go of the first hive
  ASSERT_FALSE(std::filesystem::exists(sound + "/registry.db-wal"));
  const auto size = std::filesystem::file_size(sound + "/registry.db");
  ASSERT_GT(size, 8192u);

  struct Case {
    const char* name;
    std::string folder;
    const char* reason;  // a part of the reason given
  };
  const std::string base = scratch.path();
  std::vector<Case> cases{
      {"truncated", base + "/truncated", "malformed"},
      {"garbage", base + "/garbage", "file is not a database"},
      {"a folder", base + "/folder", "Is a directory"},
      {"inside a device file", "/dev/null/x", "Not a directory"},
  };
  std::filesystem::create_directories(base + "/truncated");
  std::filesystem::copy_file(sound + "/registry.db", base + "/truncated/registry.db");
  std::filesystem::resize_file(base + "/truncated/registry.db", size / 2);
  scratch.MakeBrokenHives();
  for (const Case& c : cases) {
    handheld::SetDeviceFolder(c.folder);
    std::string reason;
    EXPECT_FALSE(handheld::CheckRegistryHive(&reason)) << c.name;
    EXPECT_FALSE(reason.empty()) << c.name;
    EXPECT_NE(reason.find(c.reason), std::string::npos) << c.name << ": " << reason;
    HKEY opened = nullptr;
    EXPECT_NE(Open(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Tessiv", &opened), ERROR_SUCCESS)
        << c.name;
  }
  handheld::SetDeviceFolder(sound);
  std::string reason;
  EXPECT_TRUE(handheld::CheckRegistryHive(&reason)) << reason;
}

// A hive removed under a process that uses it is not made afresh: an empty
// hive would pass for a handheld with nothing on it.
TEST(RegistryTest, AHiveRemovedWhileInUseIsNotMadeAfresh) {
  TempDevice scratch;
  const std::string folder = scratch.path() + "/device";
  handheld::SetDeviceFolder(folder);
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Drivers\\Active\\01");
  ASSERT_EQ(SetString(key, u"Name", u"OPT1:"), ERROR_SUCCESS);
  RegCloseKey(key);
  std::filesystem::remove_all(folder);
  std::string reason;
  EXPECT_FALSE(handheld::CheckRegistryHive(&reason));
  EXPECT_NE(reason.find("was removed while in use"), std::string::npos) << reason;
  HKEY opened = nullptr;
  if (Open(HKEY_LOCAL_MACHINE, u"Drivers\\Active\\01", &opened) == ERROR_SUCCESS) {
    EXPECT_EQ(GetString(opened, u"Name"), u"OPT1:");  // the hive in use, not a new one
    RegCloseKey(opened);
  }
  EXPECT_FALSE(std::filesystem::exists(folder));
}

// The device folder, the hive and its log are the user's alone, whatever
// the umask.
TEST(RegistryTest, TheHiveIsPrivateUnderAnyUmask) {
  TempDevice scratch;
  const std::string folder = scratch.path() + "/made/device";
  handheld::SetDeviceFolder(folder);
  const mode_t saved = umask(0);
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Private");
  ASSERT_EQ(SetString(key, u"Value", u"x"), ERROR_SUCCESS);
  umask(saved);
  auto mode = [](const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
  };
  EXPECT_EQ(mode(scratch.path() + "/made"), 0700);
  EXPECT_EQ(mode(folder), 0700);
  EXPECT_EQ(mode(folder + "/registry.db"), 0600);
  for (const char* suffix : {"-wal", "-shm"}) {
    if (std::filesystem::exists(folder + "/registry.db" + suffix)) {
      EXPECT_EQ(mode(folder + "/registry.db" + suffix), 0600) << suffix;
    }
  }
  RegCloseKey(key);
}

}  // namespace
