// The registry: keys made, opened, enumerated and deleted, and values of
// each type the programs store, with their sizes reported as the calls
// promise. Each case works below a key of its own, removed at its end.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "Conformance.h"
#include "RegistryNames.h"

namespace {

using conformance::SubKeys;
using conformance::ValueNames;
using conformance::WString;

HKEY Create(HKEY root, const WString& path, DWORD* disposition = nullptr) {
  HKEY key = nullptr;
  DWORD ignored = 0;
  EXPECT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            disposition ? disposition : &ignored),
            ERROR_SUCCESS);
  return key;
}

LONG Open(HKEY root, const WString& path, HKEY* key) {
  return RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS, key);
}

LONG SetString(HKEY key, const WCHAR* name, const WString& text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * 2));
}

LONG SetDword(HKEY key, const WCHAR* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
}

WString GetString(HKEY key, const WCHAR* name) {
  WCHAR buffer[256] = {};
  DWORD bytes = sizeof(buffer) - 2;
  DWORD type = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) !=
      ERROR_SUCCESS)
    return TEXT("<missing>");
  return WString(buffer);
}

using Names = std::vector<WString>;

// Removes `name` below `parent` with everything below it, deepest first.
void DeleteTree(HKEY parent, const WCHAR* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(parent, name, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  for (const WString& child : SubKeys(key)) DeleteTree(key, child.c_str());
  RegCloseKey(key);
  RegDeleteKeyW(parent, name);
}

// A fresh key of the case's own under HKEY_LOCAL_MACHINE\Software.
class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    for (const char* c = info->name(); *c != 0; ++c) name_ += static_cast<WCHAR>(*c);
    software_ = Create(HKEY_LOCAL_MACHINE, TEXT("Software\\Conformance"));
    DeleteTree(software_, name_.c_str());
    root_ = Create(software_, name_);
  }
  void TearDown() override {
    RegCloseKey(root_);
    DeleteTree(software_, name_.c_str());
    RegCloseKey(software_);
  }
  WString name_;
  HKEY software_ = nullptr;
  HKEY root_ = nullptr;
};

TEST_F(Registry, CreateMakesIntermediateKeysAndReportsDisposition) {
  DWORD disposition = 0;
  HKEY deep = Create(root_, TEXT("Drivers\\Tessiv\\0100\\0001"), &disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);

  HKEY again = Create(root_, TEXT("drivers\\TESSIV\\0100\\0001\\"), &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);

  HKEY middle = nullptr;
  ASSERT_EQ(Open(root_, TEXT("Drivers\\Tessiv"), &middle), ERROR_SUCCESS);
  EXPECT_EQ(SubKeys(middle), Names{TEXT("0100")});

  HKEY missing = reinterpret_cast<HKEY>(0x1234);
  EXPECT_EQ(Open(root_, TEXT("Drivers\\Tessiv\\0100\\0002"), &missing), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(missing, nullptr);  // what a failed open leaves

  // A relative create below an open key, and an open of the key itself.
  HKEY child = Create(middle, TEXT("0100\\0010"), &disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  HKEY same = nullptr;
  ASSERT_EQ(RegOpenKeyExW(child, nullptr, 0, KEY_ALL_ACCESS, &same), ERROR_SUCCESS);
  EXPECT_NE(same, child);
  ASSERT_EQ(SetDword(same, TEXT("Socket"), 1), ERROR_SUCCESS);
  DWORD value = 0, bytes = 4;
  EXPECT_EQ(RegQueryValueExW(child, TEXT("Socket"), nullptr, nullptr,
                             reinterpret_cast<BYTE*>(&value), &bytes),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 1u);

  // Every handle is distinct and closes once.
  for (HKEY key : {deep, again, middle, child, same}) EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(deep), ERROR_INVALID_HANDLE);
}

TEST_F(Registry, QueryValueReportsSizesAndLeavesShortBuffersAlone) {
  HKEY key = Create(root_, TEXT("Drivers\\Active\\01"));
  ASSERT_EQ(SetString(key, TEXT("Key"), TEXT("Drivers\\Tessiv\\0100\\0001")), ERROR_SUCCESS);
  const DWORD stringBytes = (24 + 1) * 2;

  // No buffer: the size alone.
  DWORD type = 0, bytes = 0;
  EXPECT_EQ(RegQueryValueExW(key, TEXT("Key"), nullptr, &type, nullptr, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(bytes, stringBytes);

  // One byte short: ERROR_MORE_DATA, the needed size, the buffer unchanged.
  WCHAR buffer[64];
  WString com1 = TEXT("COM1:");
  std::memcpy(buffer, com1.c_str(), 12);
  bytes = stringBytes - 1;
  type = 0;
  EXPECT_EQ(
      RegQueryValueExW(key, TEXT("Key"), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes),
      ERROR_MORE_DATA);
  EXPECT_EQ(bytes, stringBytes);
  EXPECT_EQ(WString(buffer), TEXT("COM1:"));

  // Exactly enough.
  bytes = stringBytes;
  EXPECT_EQ(
      RegQueryValueExW(key, TEXT("Key"), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes),
      ERROR_SUCCESS);
  EXPECT_EQ(bytes, stringBytes);
  EXPECT_EQ(WString(buffer), TEXT("Drivers\\Tessiv\\0100\\0001"));

  // An empty string is its terminator.
  ASSERT_EQ(SetString(key, TEXT("Empty"), TEXT("")), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(key, TEXT("Empty"), nullptr, nullptr, nullptr, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(bytes, 2u);

  // DWORD, binary (also empty), multi-string, the default value.
  ASSERT_EQ(SetDword(key, TEXT("Hnd"), 0xDEADBEEF), ERROR_SUCCESS);
  DWORD hnd = 0;
  bytes = 4;
  EXPECT_EQ(
      RegQueryValueExW(key, TEXT("Hnd"), nullptr, &type, reinterpret_cast<BYTE*>(&hnd), &bytes),
      ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(hnd, 0xDEADBEEFu);
  const BYTE blob[] = {0, 1, 2, 0xFF, 0};
  ASSERT_EQ(RegSetValueExW(key, TEXT("Blob"), 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, TEXT("Nothing"), 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
  BYTE out[8] = {};
  bytes = sizeof out;
  EXPECT_EQ(RegQueryValueExW(key, TEXT("Blob"), nullptr, &type, out, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_BINARY);
  ASSERT_EQ(bytes, sizeof blob);
  EXPECT_EQ(std::memcmp(out, blob, sizeof blob), 0);
  bytes = sizeof out;
  EXPECT_EQ(RegQueryValueExW(key, TEXT("Nothing"), nullptr, &type, out, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(bytes, 0u);
  const WCHAR multi[] = TEXT("one\0two\0");
  ASSERT_EQ(RegSetValueExW(key, TEXT("Multi"), 0, REG_MULTI_SZ,
                           reinterpret_cast<const BYTE*>(multi), sizeof multi),
            ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(key, TEXT("Multi"), nullptr, &type, nullptr, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_MULTI_SZ);
  EXPECT_EQ(bytes, sizeof multi);
  ASSERT_EQ(SetString(key, nullptr, TEXT("default")), ERROR_SUCCESS);
  EXPECT_EQ(GetString(key, TEXT("")), TEXT("default"));

  // Missing values, bad arguments, deletion.
  EXPECT_EQ(RegQueryValueExW(key, TEXT("Absent"), nullptr, nullptr, nullptr, &bytes),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExW(key, TEXT("Key"), nullptr, nullptr, out, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExW(key, TEXT("Bad"), 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
  EXPECT_EQ(RegDeleteValueW(key, TEXT("HND")), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(key, TEXT("Hnd")), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExW(key, TEXT("Hnd"), nullptr, nullptr, nullptr, &bytes),
            ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(Registry, EnumerationReportsNamesAndDataThatDoNotFit) {
  HKEY key = Create(root_, TEXT("Fit"));
  RegCloseKey(Create(key, TEXT("abc")));
  RegCloseKey(Create(key, TEXT("abcdefgh")));
  ASSERT_EQ(SetString(key, TEXT("abc"), TEXT("0123456789")), ERROR_SUCCESS);

  WCHAR name[16];
  DWORD chars = 3;  // room for two characters and the terminator
  EXPECT_EQ(RegEnumKeyExW(key, 0, name, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  chars = 4;
  EXPECT_EQ(RegEnumKeyExW(key, 0, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(chars, 3u);
  EXPECT_EQ(WString(name), TEXT("abc"));
  // An 8-character buffer holds names of up to 7 characters.
  chars = 8;
  EXPECT_EQ(RegEnumKeyExW(key, 1, name, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  chars = 4;
  EXPECT_EQ(RegEnumKeyExW(key, 2, name, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);

  // Class and last-write time of a subkey.
  WCHAR keyClass[4] = {TEXT('x'), 0};
  DWORD classChars = 4;
  FILETIME written{};
  chars = 16;
  EXPECT_EQ(RegEnumKeyExW(key, 0, name, &chars, nullptr, keyClass, &classChars, &written),
            ERROR_SUCCESS);
  EXPECT_EQ(classChars, 0u);
  EXPECT_EQ(keyClass[0], 0);
  EXPECT_GT(written.dwHighDateTime, 0x01D00000u);  // after 2015

  chars = 3;
  DWORD bytes = 64;
  BYTE data[64];
  EXPECT_EQ(RegEnumValueW(key, 0, name, &chars, nullptr, nullptr, data, &bytes), ERROR_MORE_DATA);
  chars = 4;
  bytes = 21;
  DWORD type = 0;
  EXPECT_EQ(RegEnumValueW(key, 0, name, &chars, nullptr, &type, data, &bytes), ERROR_MORE_DATA);
  EXPECT_EQ(bytes, 22u);
  chars = 4;
  bytes = 0;
  EXPECT_EQ(RegEnumValueW(key, 0, name, &chars, nullptr, &type, nullptr, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(bytes, 22u);
  EXPECT_EQ(chars, 3u);
  EXPECT_EQ(RegEnumValueW(key, 1, name, &chars, nullptr, &type, nullptr, &bytes),
            ERROR_NO_MORE_ITEMS);
  RegCloseKey(key);
}

TEST_F(Registry, DeleteKeyRemovesTheWholeSubtree) {
  HKEY leaf = Create(root_, TEXT("Drivers\\PCMCIA\\Detect\\40\\deeper"));
  ASSERT_EQ(SetString(leaf, TEXT("Dll"), TEXT("Tessiv.DLL")), ERROR_SUCCESS);
  RegCloseKey(leaf);
  HKEY detect = nullptr;
  ASSERT_EQ(Open(root_, TEXT("Drivers\\PCMCIA\\Detect"), &detect), ERROR_SUCCESS);
  RegCloseKey(Create(detect, TEXT("41")));

  // A key without subkeys goes on both.
  RegCloseKey(Create(detect, TEXT("42")));
  EXPECT_EQ(RegDeleteKeyW(detect, TEXT("42")), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(detect, TEXT("42")), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyW(detect, nullptr), ERROR_INVALID_PARAMETER);

  HANDHELD_BEHAVIOUR(
      "RegDeleteKey of a key with subkeys: the handheld's deletes the key with all of its "
      "subkeys; desktop Windows deletes only a key without subkeys (ERROR_ACCESS_DENIED)") {
    EXPECT_EQ(RegDeleteKeyW(detect, TEXT("40")), ERROR_SUCCESS);
    EXPECT_EQ(SubKeys(detect), Names{TEXT("41")});
    HKEY gone = nullptr;
    EXPECT_EQ(Open(detect, TEXT("40\\deeper"), &gone), ERROR_FILE_NOT_FOUND);
    // A new key of the same name starts empty.
    DWORD disposition = 0;
    leaf = Create(detect, TEXT("40\\deeper"), &disposition);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_EQ(ValueNames(leaf), Names{});
    RegCloseKey(leaf);
    // By a longer path, ignoring case.
    EXPECT_EQ(RegDeleteKeyW(root_, TEXT("DRIVERS\\pcmcia")), ERROR_SUCCESS);
    HKEY drivers = nullptr;
    ASSERT_EQ(Open(root_, TEXT("Drivers"), &drivers), ERROR_SUCCESS);
    EXPECT_EQ(SubKeys(drivers), Names{});
    RegCloseKey(drivers);
  }
  RegCloseKey(detect);
}

// The port search takes the first matching entry in enumeration order.
TEST_F(Registry, SubkeysAreEnumeratedInTheOrderTheyWereMade) {
  for (const WCHAR* name : {TEXT("zeta"), TEXT("Alpha"), TEXT("mid")})
    RegCloseKey(Create(root_, name));
  HANDHELD_BEHAVIOUR(
      "the order of subkeys: the handheld enumerates them in the order they were made; desktop "
      "Windows in the order of their names") {
    EXPECT_EQ(SubKeys(root_), (Names{TEXT("zeta"), TEXT("Alpha"), TEXT("mid")}));
  }
  Names sorted = SubKeys(root_);
  std::sort(sorted.begin(), sorted.end(),
            [](const WString& x, const WString& y) { return lstrcmpiW(x.c_str(), y.c_str()) < 0; });
  EXPECT_EQ(sorted, (Names{TEXT("Alpha"), TEXT("mid"), TEXT("zeta")}));  // each once
}

// The programs open and create keys asking for no access rights, as the
// handheld takes none.
TEST_F(Registry, KeysOpenedWithoutAccessRightsAreReadAndWritten) {
  HANDHELD_BEHAVIOUR(
      "access rights of RegOpenKeyEx and RegCreateKeyEx: the handheld supports none (samDesired "
      "must be 0) and every key it opens may be read and written; desktop Windows grants only "
      "the rights asked for, and none for 0") {
    HKEY created = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root_, TEXT("Plain"), 0, nullptr, 0, 0, nullptr, &created, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(SetDword(created, TEXT("Hnd"), 7), ERROR_SUCCESS);
    RegCloseKey(created);
    HKEY opened = nullptr;
    ASSERT_EQ(RegOpenKeyExW(root_, TEXT("Plain"), 0, 0, &opened), ERROR_SUCCESS);
    DWORD value = 0, bytes = sizeof value;
    EXPECT_EQ(RegQueryValueExW(opened, TEXT("Hnd"), nullptr, nullptr,
                               reinterpret_cast<BYTE*>(&value), &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(value, 7u);
    EXPECT_EQ(SetDword(opened, TEXT("Hnd"), 8), ERROR_SUCCESS);
    RegCloseKey(opened);
  }
}

// A path that begins with a backslash names no key.
TEST_F(Registry, APathBeginningWithABackslashIsRefused) {
  HKEY key = reinterpret_cast<HKEY>(uintptr_t{0x1234});
  EXPECT_EQ(
      RegCreateKeyExW(root_, TEXT("\\Lead"), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
      ERROR_BAD_PATHNAME);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(RegOpenKeyExW(root_, TEXT("\\Lead"), 0, KEY_ALL_ACCESS, &key), ERROR_BAD_PATHNAME);
  RegCloseKey(Create(root_, TEXT("Lead")));
  EXPECT_EQ(RegOpenKeyExW(root_, TEXT("\\Lead"), 0, KEY_ALL_ACCESS, &key), ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegOpenKeyExW(root_, TEXT("Lead\\"), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(Registry, QueryInfoKeyCountsAndMaxima) {
  HKEY key = Create(root_, TEXT("Info"));
  DWORD subKeys = 9, maxSub = 9, values = 9, maxName = 9, maxBytes = 9, maxClass = 9;
  ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, &maxSub, &maxClass, &values,
                             &maxName, &maxBytes, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys + maxSub + values + maxName + maxBytes + maxClass, 0u);

  RegCloseKey(Create(key, TEXT("a")));
  RegCloseKey(Create(key, TEXT("abcdef\\ignored-grandchild-with-a-long-name")));
  ASSERT_EQ(SetDword(key, TEXT("Order"), 1), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, TEXT("Prefix"), TEXT("OPT")), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, TEXT("LongestValueName"), TEXT("")), ERROR_SUCCESS);
  FILETIME written{};
  ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, &maxSub, &maxClass, &values,
                             &maxName, &maxBytes, nullptr, &written),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 2u);
  EXPECT_EQ(maxSub, 6u);
  EXPECT_EQ(values, 3u);
  EXPECT_EQ(maxName, 16u);
  EXPECT_EQ(maxBytes, 8u);
  EXPECT_EQ(maxClass, 0u);
  EXPECT_GT(written.dwHighDateTime, 0x01D00000u);
  RegCloseKey(key);
}

}  // namespace
