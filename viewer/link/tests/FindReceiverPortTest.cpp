#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ActiveEntries.h"
#include "FindReceiverPort.h"
#include "handheld.h"
#include "testing/TempDevice.h"

namespace {

using handheld::testing::TempDevice;
using testsupport::AddActive;

const char16_t* kSleeveKey = u"Drivers\\Tessiv\\0100\\0001";

struct Result {
  BOOL found;
  std::u16string text;
};

Result Find(DWORD bufferBytes) {
  WCHAR buffer[64];
  for (WCHAR& c : buffer) c = u'#';
  BOOL found = FindReceiverPort(buffer, bufferBytes);
  return {found, std::u16string(buffer)};
}

class FindReceiverPortTest : public ::testing::Test {
 protected:
  TempDevice device;
};

TEST_F(FindReceiverPortTest, WithoutActiveDriversTheAnswerIsCom1) {
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Drivers\\Active");
  Result r = Find(50);
  EXPECT_FALSE(r.found);
  EXPECT_EQ(r.text, u"COM1:");

  // An empty list, and a list of drivers none of which is a receiver.
  AddActive(u"01", u"Drivers\\BuiltIn\\Serial", nullptr, u"COM2:");
  AddActive(u"02", u"Drivers\\PCMCIA\\Modem", u"ACME-MODEM-56K", u"COM6:");
  AddActive(u"03", nullptr, u"DOVRIN-GPS", u"COM7:");  // no "Key": passed over
  r = Find(50);
  EXPECT_FALSE(r.found);
  EXPECT_EQ(r.text, u"COM1:");
}

TEST_F(FindReceiverPortTest, SleeveDriverFoundBeforeCard) {
  AddActive(u"01", u"Drivers\\BuiltIn\\Serial", nullptr, u"COM2:");
  AddActive(u"02", kSleeveKey, nullptr, u"COM3:");
  AddActive(u"03", u"Drivers\\PCMCIA\\GpsCard", u"DOVRIN-GPS-1", u"COM5:");
  Result r = Find(50);
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.text, u"COM3:");
}

TEST_F(FindReceiverPortTest, CardListedBeforeSleeveWins) {
  AddActive(u"01", u"Drivers\\PCMCIA\\GpsCard", u"XX-DOVRIN-GPS", u"COM5:");
  AddActive(u"02", kSleeveKey, nullptr, u"COM3:");
  Result r = Find(50);
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.text, u"COM5:");
}

TEST_F(FindReceiverPortTest, AnySleeveOfFamily0100Matches) {
  AddActive(u"01", u"Drivers\\Tessiv\\0200\\0001", nullptr, u"COM2:");
  AddActive(u"02", u"Drivers\\Tessiv\\0100\\0010", nullptr, u"COM8:");
  Result r = Find(50);
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.text, u"COM8:");
}

TEST_F(FindReceiverPortTest, NamesAndKeysCompareWithCase) {
  AddActive(u"01", u"Drivers\\PCMCIA\\GpsCard", u"dovrin-gps", u"COM5:");
  AddActive(u"02", u"Drivers\\PCMCIA\\GpsCard2", u"Dovrin GPS", u"COM6:");
  AddActive(u"03", u"drivers\\tessiv\\0100\\0001", nullptr, u"COM3:");
  Result r = Find(50);
  EXPECT_FALSE(r.found);
  EXPECT_EQ(r.text, u"COM1:");
}

TEST_F(FindReceiverPortTest, NameTooLongForTheBufferIsPassedOver) {
  // 11 characters and the terminator need 24 bytes; the dialog passes 20.
  AddActive(u"01", kSleeveKey, nullptr, u"COM12345:ab");
  Result r = Find(20);
  EXPECT_FALSE(r.found);
  EXPECT_EQ(r.text, u"COM1:");

  AddActive(u"02", u"Drivers\\PCMCIA\\GpsCard", u"DOVRIN", u"COM4:");
  r = Find(20);
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.text, u"COM4:");

  // With start-up's 50 bytes the first one fits.
  r = Find(50);
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.text, u"COM12345:ab");
}

TEST_F(FindReceiverPortTest, NameThatExactlyFillsTheBufferIsFound) {
  AddActive(u"01", kSleeveKey, nullptr, u"COM12345:");  // 9 characters + terminator = 20 bytes
  Result r = Find(20);
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.text, u"COM12345:");
}

TEST_F(FindReceiverPortTest, KeyLongerThan256BytesCountsAsUnreadable) {
  std::u16string longKey = std::u16string(130, u'x') + kSleeveKey;
  AddActive(u"01", longKey.c_str(), nullptr, u"COM3:");
  Result r = Find(50);
  EXPECT_FALSE(r.found);
  EXPECT_EQ(r.text, u"COM1:");

  // 128 characters and the terminator need 258 bytes: still too long.
  std::u16string justOver = std::u16string(104, u'x') + kSleeveKey;
  ASSERT_EQ(justOver.size(), 128u);
  AddActive(u"02", justOver.c_str(), nullptr, u"COM4:");
  r = Find(50);
  EXPECT_FALSE(r.found);

  // 127 characters and the terminator fill the 256 bytes exactly.
  std::u16string longest = std::u16string(103, u'x') + kSleeveKey;
  AddActive(u"03", longest.c_str(), nullptr, u"COM5:");
  r = Find(50);
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.text, u"COM5:");
}

TEST_F(FindReceiverPortTest, ReceiverNamedCom1IsFoundButLooksAbsent) {
  AddActive(u"01", kSleeveKey, nullptr, u"COM1:");
  Result r = Find(50);
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.text, u"COM1:");
}

TEST_F(FindReceiverPortTest, SmallBuffersAreNeverOverrun) {
  AddActive(u"01", kSleeveKey, nullptr, u"COM3:");
  WCHAR buffer[8];
  for (DWORD bytes : {0u, 1u, 2u, 4u, 6u}) {
    for (WCHAR& c : buffer) c = u'#';
    BOOL found = FindReceiverPort(buffer, bytes);
    EXPECT_FALSE(found) << bytes;
    DWORD chars = bytes / sizeof(WCHAR);
    for (DWORD i = chars; i < 8; ++i) EXPECT_EQ(buffer[i], u'#') << bytes << " at " << i;
    if (chars > 0) {
      EXPECT_EQ(buffer[chars - 1], 0) << bytes;
      EXPECT_EQ(std::u16string(buffer), std::u16string(u"COM1:").substr(0, chars - 1));
    }
  }
}

}  // namespace
