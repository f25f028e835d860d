// The installed and loaded driver texts, read from a real hive in a
// temporary device folder.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "ActiveEntries.h"
#include "FirmwareInfoDialog.h"
#include "testing/TempDevice.h"

namespace {

const char16_t kDovrin[] = u"Drivers\\Tessiv\\0100\\0001";
const char16_t kZulvo[] = u"Drivers\\Tessiv\\0100\\0010";

TEST(DriverTexts, InstalledDriversInTheirOrderWhicheverCameFirst) {
  struct Case {
    std::vector<const char16_t*> keys;  // created in this order
    const char16_t* want;
  };
  const Case kCases[] = {
      {{}, u"None"},
      {{kDovrin}, u"Dovrin(0x0001)"},
      {{kZulvo}, u"Zulvo(0x0010)"},
      {{kZulvo, kDovrin}, u"Dovrin(0x0001), Zulvo(0x0010)"},
      {{u"Drivers\\Tessiv\\0100\\0002"}, u"None"},
  };
  for (const Case& c : kCases) {
    handheld::testing::TempDevice device;
    for (const char16_t* key : c.keys) testsupport::CreateDriverKey(key);
    WCHAR text[FirmwareInfoDialog::kTextChars];
    FirmwareInfoDialog::InstalledDriversText(text);
    EXPECT_EQ(std::u16string(text), c.want);
  }
}

TEST(DriverTexts, ActiveDriverIsTheFirstEntryThatMatches) {
  struct Entry {
    const char16_t* key;
    const char16_t* pnpId;
  };
  struct Case {
    const char* what;
    std::vector<Entry> entries;  // listed in this order
    BOOL recognised;
    const char16_t* want;
  };
  const Case kCases[] = {
      {"no list", {}, FALSE, u"None"},
      {"other drivers", {{u"Drivers\\BuiltIn\\Serial", nullptr}}, FALSE, u"None"},
      {"the GPS sleeve's driver", {{u"Drivers\\BuiltIn\\Serial", nullptr}, {kDovrin, nullptr}},
       TRUE, u"Dovrin (0x0001)"},
      {"first match decides", {{kZulvo, nullptr}, {kDovrin, nullptr}}, TRUE, u"Zulvo (0x0010)"},
      {"key text contains the path", {{u"HKLM\\Drivers\\Tessiv\\0100\\0001\\Port", nullptr}}, TRUE,
       u"Dovrin (0x0001)"},
      {"card of the receiver maker", {{u"Drivers\\PCMCIA\\Serial", u"DOVRIN-GPS-1A2B"}}, TRUE,
       u"CF GPS"},
      {"maker's name compared with case", {{u"Drivers\\PCMCIA\\Serial", u"Dovrin-GPS"}}, FALSE,
       u"None"},
      {"an entry without Key is passed over", {{nullptr, u"DOVRIN-GPS"}}, FALSE, u"None"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    handheld::testing::TempDevice device;
    if (!c.entries.empty()) testsupport::CreateDriverKey(u"Drivers\\Active");
    int n = 0;
    for (const Entry& entry : c.entries)
      testsupport::CreateDriverKey(u"Drivers\\Active\\" + std::u16string(1, u'0' + n++), entry.key, entry.pnpId);
    WCHAR text[FirmwareInfoDialog::kTextChars];
    EXPECT_EQ(FirmwareInfoDialog::ActiveDriverText(text), c.recognised);
    EXPECT_EQ(std::u16string(text), c.want);
  }
}

}  // namespace
