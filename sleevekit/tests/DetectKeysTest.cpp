// Detect registrations, active driver look-up and value tables on a real
// hive in a temporary device folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Ferrix.h"
#include "handheld.h"
#include "testing/TempDevice.h"

namespace {

constexpr char16_t kDetect[] = u"Drivers\\PCMCIA\\Detect";

HKEY Create(const std::u16string& path) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, 0, nullptr, &key,
                            &disposition),
            ERROR_SUCCESS);
  return key;
}

void SetString(HKEY key, const char16_t* name, const std::u16string& text) {
  EXPECT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * 2)),
            ERROR_SUCCESS);
}

// A subkey of the detect key, with a registration in it when dll is given.
void AddSubkey(const std::u16string& name, const std::u16string& dll = u"",
               const std::u16string& entry = u"") {
  HKEY key = Create(std::u16string(kDetect) + u"\\" + name);
  if (!dll.empty()) {
    SetString(key, u"Dll", dll);
    SetString(key, u"Entry", entry);
  }
  RegCloseKey(key);
}

std::u16string ReadString(const std::u16string& path, const char16_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, 0, &key) != ERROR_SUCCESS)
    return u"<no key>";
  WCHAR buffer[300] = {};
  DWORD bytes = sizeof(buffer) - 2;
  LONG status =
      RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes);
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? std::u16string(buffer) : u"<no value>";
}

std::vector<std::u16string> DetectSubkeys() {
  std::vector<std::u16string> names;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDetect, 0, 0, &key) != ERROR_SUCCESS) return names;
  for (DWORD i = 0;; ++i) {
    WCHAR name[64];
    DWORD chars = 64;
    if (RegEnumKeyExW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    names.emplace_back(name);
  }
  RegCloseKey(key);
  return names;
}

using Names = std::vector<std::u16string>;

class DetectKeys : public ::testing::Test {
 protected:
  void SetUp() override { RegCloseKey(Create(kDetect)); }
  handheld::testing::TempDevice device_;
};

TEST_F(DetectKeys, WithoutTheDetectKeyNothingIsDone) {
  ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, kDetect), ERROR_SUCCESS);
  EXPECT_EQ(AddDetectKey(u"Tessiv.DLL", u"DetectSleeve"), 0u);
  EXPECT_EQ(RemoveDetectKey(u"Tessiv.DLL", u"DetectSleeve"), 0u);
}

// What AddDetectKey finds before it and where it registers.
struct Registration {
  const char* name;
  Names before;  // subkeys made first: "*" holds the pair (dll in other case), "-" a foreign pair
  DWORD result;
  Names after;
};
void PrintTo(const Registration& c, std::ostream* os) { *os << c.name; }

const Registration kRegistrations[] = {
    {"IntoEmptyKey", {}, 1, {u"40"}},
    {"NextFreeNumber", {u"40-", u"41"}, 1, {u"40", u"41", u"42"}},
    {"ExistingInOtherCase", {u"40-", u"43*"}, 1, {u"40", u"43"}},
    {"ExistingBelowForty", {u"10*"}, 1, {u"10"}},
    {"BelowFortyNeverUsed", {u"10-"}, 1, {u"10", u"40"}},
    // A name of four characters ends the search: the pair after it is not seen.
    {"LongNameEndsSearch", {u"Long", u"41*"}, 1, {u"Long", u"41", u"40"}},
    {"SameEntryOtherDll", {u"40+"}, 1, {u"40", u"41"}},
};

class AddRegistration : public DetectKeys, public ::testing::WithParamInterface<Registration> {};

TEST_P(AddRegistration, FindsOrAdds) {
  const Registration& c = GetParam();
  for (const std::u16string& entry : c.before) {
    char16_t kind = entry.back();
    std::u16string name = entry;
    if (kind == u'*')
      AddSubkey(name.substr(0, name.size() - 1), u"tessiv.dll", u"DetectSleeve");
    else if (kind == u'-')
      AddSubkey(name.substr(0, name.size() - 1), u"Other.dll", u"Detect");
    else if (kind == u'+')
      AddSubkey(name.substr(0, name.size() - 1), u"Other.dll", u"DetectSleeve");
    else
      AddSubkey(name);
  }
  EXPECT_EQ(AddDetectKey(u"Tessiv.DLL", u"DetectSleeve"), c.result);
  EXPECT_EQ(DetectSubkeys(), c.after);
  const std::u16string added = std::u16string(kDetect) + u"\\" + c.after.back();
  if (c.after.size() > c.before.size()) {
    EXPECT_EQ(ReadString(added, u"Dll"), u"Tessiv.DLL");
    EXPECT_EQ(ReadString(added, u"Entry"), u"DetectSleeve");
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, AddRegistration, ::testing::ValuesIn(kRegistrations),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DetectKeys, AllNumbersTakenIsAFailure) {
  for (int n = 40; n <= 98; ++n) AddSubkey(std::u16string{char16_t(u'0' + n / 10), char16_t(u'0' + n % 10)});
  EXPECT_EQ(AddDetectKey(u"Tessiv.DLL", u"DetectSleeve"), 0u);
  EXPECT_EQ(DetectSubkeys().size(), 59u);
}

TEST_F(DetectKeys, RemoveDeletesOnlyThePair) {
  AddSubkey(u"40", u"Other.dll", u"DetectSleeve");
  AddSubkey(u"41", u"TESSIV.dll", u"DetectSleeve");
  AddSubkey(u"42", u"Tessiv.DLL", u"detectsleeve");  // Entry compares exactly
  EXPECT_EQ(RemoveDetectKey(u"Tessiv.DLL", u"DetectSleeve"), 1u);
  EXPECT_EQ(DetectSubkeys(), (Names{u"40", u"42"}));
  EXPECT_EQ(RemoveDetectKey(u"Tessiv.DLL", u"DetectSleeve"), 1u);  // not registered
  EXPECT_EQ(DetectSubkeys(), (Names{u"40", u"42"}));
}

// Active driver records: Key and, unless noted, Hnd.
TEST_F(DetectKeys, ActiveHandleByKeyIgnoringCase) {
  struct Record {
    const char16_t* name;
    const char16_t* key;
    bool hasHandle;
    DWORD handle;
  };
  const Record records[] = {
      {u"01", u"Drivers\\BuiltIn\\Serial", true, 0x11},
      {u"02", u"Drivers\\Tessiv\\0100\\0001", true, 0x22},
      {u"03", u"Drivers\\BuiltIn\\Tessiv", false, 0},
  };
  for (const Record& r : records) {
    HKEY key = Create(std::u16string(u"Drivers\\Active\\") + r.name);
    SetString(key, u"Key", r.key);
    if (r.hasHandle)
      RegSetValueExW(key, u"Hnd", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&r.handle), 4);
    RegCloseKey(key);
  }
  EXPECT_EQ(GetDriversActiveHandle(u"drivers\\TESSIV\\0100\\0001"), 0x22u);
  EXPECT_EQ(GetDriversActiveHandle(u"Drivers\\BuiltIn\\Serial"), 0x11u);
  EXPECT_EQ(GetDriversActiveHandle(u"Drivers\\BuiltIn\\Tessiv"), 0u);  // no "Hnd"
  EXPECT_EQ(GetDriversActiveHandle(u"Drivers\\Tessiv\\0100\\0010"), 0u);
}

TEST_F(DetectKeys, ValueTables) {
  const char16_t multi[] = u"COM\0GPS\0Sleeve\0";
  const KeyValueEntry empty[] = {{nullptr, 0, 0}};
  EXPECT_EQ(AddKeyValues(HKEY_LOCAL_MACHINE, u"Drivers\\Empty", empty), 1u);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\Empty", 0, 0, &key), ERROR_SUCCESS);
  RegCloseKey(key);

  const KeyValueEntry table[] = {
      {u"Prefix", REG_SZ, reinterpret_cast<ULONG_PTR>(u"COM")},
      {u"Index", REG_DWORD, 5},
      {u"Names", REG_MULTI_SZ, reinterpret_cast<ULONG_PTR>(multi)},
      {nullptr, 0, 0},
  };
  EXPECT_EQ(AddKeyValues(HKEY_LOCAL_MACHINE, u"Drivers\\Tessiv\\0100\\0001", table), 1u);
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\Tessiv\\0100\\0001", 0, 0, &key),
            ERROR_SUCCESS);
  BYTE data[64];
  DWORD type = 0;
  DWORD bytes = sizeof(data);
  ASSERT_EQ(RegQueryValueExW(key, u"Names", nullptr, &type, data, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_MULTI_SZ);
  ASSERT_EQ(bytes, sizeof(multi));  // three strings and the closing empty one
  EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(data), bytes / 2),
            std::u16string(multi, sizeof(multi) / 2));
  DWORD index = 0;
  bytes = 4;
  EXPECT_EQ(RegQueryValueExW(key, u"Index", nullptr, &type, reinterpret_cast<BYTE*>(&index), &bytes),
            ERROR_SUCCESS);
  EXPECT_EQ(index, 5u);
  RegCloseKey(key);
  EXPECT_EQ(ReadString(u"Drivers\\Tessiv\\0100\\0001", u"Prefix"), u"COM");

  // A row that cannot be written removes the key this call created.
  const KeyValueEntry bad[] = {{u"Prefix", REG_SZ, reinterpret_cast<ULONG_PTR>(u"COM")},
                               {u"Odd", REG_BINARY, 0},
                               {nullptr, 0, 0}};
  EXPECT_EQ(AddKeyValues(HKEY_LOCAL_MACHINE, u"Drivers\\Half", bad), 0u);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\Half", 0, 0, &key), ERROR_FILE_NOT_FOUND);
}

}  // namespace
