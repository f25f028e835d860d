// The registry key wrapper against the real hive in a temporary device
// folder.
#include <gtest/gtest.h>

#include <cstring>

#include "RegKey.h"
#include "handheld.h"
#include "testing/TempDevice.h"

namespace {

constexpr char16_t kFirst[] = u"Software\\RegKeyTest\\First";
constexpr char16_t kSecond[] = u"Software\\RegKeyTest\\Second";

class RegKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Store(kFirst, u"Which", REG_DWORD, "\x01\x00\x00\x00", 4);
    Store(kSecond, u"Which", REG_DWORD, "\x02\x00\x00\x00", 4);
  }

  static void Store(const char16_t* path, const char16_t* name, DWORD type, const void* data,
                    DWORD bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, 0, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }

  // The stored type and bytes of a value, read past the wrapper.
  static std::basic_string<BYTE> Stored(const char16_t* path, const char16_t* name, DWORD* type) {
    HKEY key = nullptr;
    BYTE data[64];
    DWORD bytes = sizeof data;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, 0, &key) != ERROR_SUCCESS) return {};
    LONG rc = RegQueryValueExW(key, name, nullptr, type, data, &bytes);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? std::basic_string<BYTE>(data, bytes) : std::basic_string<BYTE>();
  }

  static DWORD Which(RegKey& key) {
    DWORD which = 0;
    return key.ReadDword(u"Which", &which) == ERROR_SUCCESS ? which : 0;
  }

  handheld::testing::TempDevice device_;
};

TEST_F(RegKeyTest, CloseOfAnEmptyWrapperDoesNothing) {
  RegKey key;
  EXPECT_EQ(key.Close(), ERROR_SUCCESS);
  EXPECT_EQ(key.Close(), ERROR_SUCCESS);
  DWORD value = 0;
  EXPECT_NE(key.ReadDword(u"Which", &value), ERROR_SUCCESS);  // holds nothing
}

TEST_F(RegKeyTest, AFailedOpenKeepsWhatWasHeld) {
  RegKey key;
  EXPECT_EQ(key.Open(HKEY_LOCAL_MACHINE, u"Software\\RegKeyTest\\Missing", KEY_ALL_ACCESS),
            ERROR_FILE_NOT_FOUND);
  DWORD value = 0;
  EXPECT_NE(key.ReadDword(u"Which", &value), ERROR_SUCCESS);  // still empty

  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kFirst, KEY_ALL_ACCESS), ERROR_SUCCESS);
  EXPECT_EQ(key.Open(HKEY_LOCAL_MACHINE, u"Software\\RegKeyTest\\Missing", KEY_ALL_ACCESS),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Which(key), 1u);  // the first key is still held and open
}

TEST_F(RegKeyTest, ASecondOpenReplacesTheFirstKey) {
  RegKey key;
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kFirst, KEY_ALL_ACCESS), ERROR_SUCCESS);
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kSecond, KEY_ALL_ACCESS), ERROR_SUCCESS);
  EXPECT_EQ(Which(key), 2u);
  EXPECT_EQ(key.WriteDword(u"Written", 7), ERROR_SUCCESS);
  DWORD type = REG_NONE;
  EXPECT_TRUE(Stored(kFirst, u"Written", &type).empty());
  EXPECT_EQ(Stored(kSecond, u"Written", &type).size(), 4u);
  EXPECT_EQ(key.Close(), ERROR_SUCCESS);
}

TEST_F(RegKeyTest, WritesStoreTheTypeAndSizeOfTheirKind) {
  RegKey key;
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kFirst, KEY_ALL_ACCESS), ERROR_SUCCESS);
  ASSERT_EQ(key.WriteString(u"Empty", u""), ERROR_SUCCESS);
  ASSERT_EQ(key.WriteString(u"Text", u"Tessiv"), ERROR_SUCCESS);
  ASSERT_EQ(key.WriteDword(u"Number", 0x12345678), ERROR_SUCCESS);
  struct Case {
    const char16_t* name;
    DWORD type;
    size_t bytes;
  };
  for (const Case& c : {Case{u"Empty", REG_SZ, 2}, Case{u"Text", REG_SZ, 14},
                        Case{u"Number", REG_DWORD, 4}}) {
    DWORD type = REG_NONE;
    std::basic_string<BYTE> data = Stored(kFirst, c.name, &type);
    EXPECT_EQ(type, c.type) << handheld::ToUtf8(c.name);
    EXPECT_EQ(data.size(), c.bytes) << handheld::ToUtf8(c.name);
    if (c.type == REG_SZ && data.size() >= 2) {
      EXPECT_EQ(data[data.size() - 1] | data[data.size() - 2], 0);  // the terminator
    }
  }
}

TEST_F(RegKeyTest, ReadsIgnoreTheStoredType) {
  Store(kFirst, u"Binary4", REG_BINARY, "\x78\x56\x34\x12", 4);
  Store(kFirst, u"Binary8", REG_BINARY, "\x01\x02\x03\x04\x05\x06\x07\x08", 8);
  Store(kFirst, u"Text", REG_SZ, u"GPS", 8);
  RegKey key;
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kFirst, KEY_ALL_ACCESS), ERROR_SUCCESS);
  DWORD value = 0;
  EXPECT_EQ(key.ReadDword(u"Binary4", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 0x12345678u);
  EXPECT_NE(key.ReadDword(u"Binary8", &value), ERROR_SUCCESS);
  EXPECT_EQ(key.ReadDword(u"Absent", &value), ERROR_FILE_NOT_FOUND);

  char16_t text[8] = {};
  DWORD bytes = sizeof text;
  EXPECT_EQ(key.ReadValue(u"Text", text, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(bytes, 8u);
  EXPECT_EQ(std::u16string(text), u"GPS");
  bytes = 4;  // too small: the size needed comes back
  EXPECT_EQ(key.ReadValue(u"Binary8", text, &bytes), ERROR_MORE_DATA);
  EXPECT_EQ(bytes, 8u);
}

}  // namespace
