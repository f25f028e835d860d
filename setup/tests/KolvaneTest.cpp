// The setup plug-in's hooks against the real device manager, bus driver,
// client drivers, OEM model and hive, with the message boxes answered by
// the test.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Kolvane.h"
#include "SetupTesting.h"
#include "testing/ModuleSymbols.h"

namespace bustest {
namespace {

using handheld::MessageBoxRequest;

constexpr UINT kRetryStyle = 0x50005;
constexpr UINT kNoticeStyle = 0x50000;

class Kolvane : public SetupTest {
 protected:
  void SetUp() override {
    SetupTest::SetUp();
    WriteDriverKeys(peer_.slavePath());
  }

  // Installs over whatever runs, with the GPS sleeve attached.
  void InstallAndWaitForClient() {
    handheld::InsertSleeve(kGpsSleeve);
    ASSERT_EQ(Install_Init(nullptr, TRUE, FALSE, u"\\Windows"), codeINSTALL_INIT_CONTINUE);
    ASSERT_EQ(Install_Exit(nullptr, u"\\Windows", 0, 0, 0, 0, 0), codeINSTALL_EXIT_DONE);
    ASSERT_TRUE(WaitUntil([] { return Listed(kGpsKey); }, 7000));
  }
};

TEST_F(Kolvane, InstallStartsTheBusDriverWhichLoadsTheClientAndReinstallUnloadsBoth) {
  InstallAndWaitForClient();
  EXPECT_TRUE(Listed(kBusKey));
  EXPECT_TRUE(boxes_.empty());
  // Over a running system: both go before the files are replaced.
  EXPECT_EQ(Install_Init(nullptr, TRUE, TRUE, u"\\Windows"), codeINSTALL_INIT_CONTINUE);
  EXPECT_TRUE(ActiveRecords().empty());
  EXPECT_EQ(Install_Exit(nullptr, u"\\Windows", 0, 0, 0, 0, 0), codeINSTALL_EXIT_DONE);
  EXPECT_TRUE(WaitUntil([] { return Listed(kGpsKey) && Listed(kBusKey); }, 7000));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(Kolvane, ABusyClientIsRetriedUntilItGoesOrTheUserCancels) {
  ASSERT_TRUE(handheld::testing::WriteDriverKey(kGpsKey, {u"BusyClient.dll", u"COM", 3, ""}));
  ASSERT_TRUE(handheld::testing::WriteDword(kGpsKey, u"Busy", 1));
  ASSERT_NE(ActivateDevice(kGpsKey, 0), nullptr);
  int boxes = 0;
  answer_ = [&](const MessageBoxRequest&) { return ++boxes < 3 ? IDRETRY : IDCANCEL; };
  EXPECT_EQ(Install_Init(nullptr, TRUE, FALSE, u"\\Windows"), codeINSTALL_INIT_CANCEL);
  ASSERT_EQ(boxes_.size(), 3u);
  EXPECT_EQ(boxes_[0].text,
            u"Could not unload driver Drivers\\Tessiv\\0100\\0001 - It may be in use by an "
            u"application.");
  EXPECT_EQ(boxes_[0].caption, u"Error:");
  EXPECT_EQ(boxes_[0].type, kRetryStyle);
  EXPECT_TRUE(Listed(kGpsKey));
  EXPECT_EQ(Uninstall_Init(nullptr, u"\\Windows"), codeUNINSTALL_INIT_CANCEL);

  // The user closes the application and retries.
  boxes_.clear();
  answer_ = [&](const MessageBoxRequest&) {
    handheld::testing::WriteDword(kGpsKey, u"Busy", 0);
    return IDRETRY;
  };
  EXPECT_EQ(Install_Init(nullptr, TRUE, FALSE, u"\\Windows"), codeINSTALL_INIT_CONTINUE);
  EXPECT_EQ(boxes_.size(), 1u);
  EXPECT_FALSE(Listed(kGpsKey));
}

TEST_F(Kolvane, AClientStillStartingIsUnloadedOnceItHasStarted) {
  ASSERT_TRUE(handheld::testing::WriteDriverKey(kGpsKey, {u"BusyClient.dll", u"COM", 3, ""}));
  ASSERT_TRUE(handheld::testing::WriteDword(kGpsKey, u"Starting", 1));
  std::thread starter([] { ActivateDevice(kGpsKey, 0); });
  ASSERT_TRUE(WaitUntil([] { return Listed(kGpsKey); }, 5000));  // listed while Init runs
  std::thread started([] {
    Sleep(100);
    handheld::testing::WriteDword(kGpsKey, u"Starting", 0);
  });
  EXPECT_EQ(Install_Init(nullptr, TRUE, FALSE, u"\\Windows"), codeINSTALL_INIT_CONTINUE);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_FALSE(Listed(kGpsKey));
  starter.join();
  started.join();
}

TEST_F(Kolvane, InstallExitReportsWhatWentWrong) {
  for (int failed = 0; failed < 5; ++failed) {
    WORD counts[5] = {};
    counts[failed] = 1;
    EXPECT_EQ(Install_Exit(nullptr, u"\\Windows", counts[0], counts[1], counts[2], counts[3],
                           counts[4]),
              codeINSTALL_EXIT_UNINSTALL)
        << failed;
  }
  EXPECT_TRUE(ActiveRecords().empty());  // nothing started
  EXPECT_TRUE(boxes_.empty());

  struct Case {
    const char* what;
    handheld::testing::DriverKey bus;
    codeINSTALL_EXIT result;
    const char16_t* text;
  };
  const Case cases[] = {
      {"bus driver that cannot start", {u"Missing.dll", u"OPT", 1, ""},
       codeINSTALL_EXIT_UNINSTALL, u"Failed to Load Tessiv Bus Driver!!"},
      {"no OPT1: to scan", {u"Tessiv.dll", u"OPT", 2, ""}, codeINSTALL_EXIT_DONE,
       u"OptScanBus Failed!"},
  };
  for (const Case& c : cases) {
    boxes_.clear();
    ASSERT_TRUE(handheld::testing::WriteDriverKey(kBusKey, c.bus));
    EXPECT_EQ(Install_Exit(nullptr, u"\\Windows", 0, 0, 0, 0, 0), c.result) << c.what;
    ASSERT_EQ(boxes_.size(), 1u) << c.what;
    EXPECT_EQ(boxes_[0].text, c.text) << c.what;
    EXPECT_EQ(boxes_[0].caption, u"Setup") << c.what;
    EXPECT_EQ(boxes_[0].type, kNoticeStyle) << c.what;
  }
}

TEST_F(Kolvane, UninstallPutsASharedBusDriverBack) {
  struct Case {
    const char* what;
    DWORD shareCount;
    bool prefixStored;
    bool restored;
  };
  const Case cases[] = {
      {"only package", 1, true, false},
      {"shared", 2, true, true},
      {"shared, Prefix missing", 2, false, true},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(handheld::testing::WriteDword(u"SOFTWARE\\Apps\\Shared", u"\\Windows\\Tessiv.dll",
                                              c.shareCount));
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kBusKey);
    ASSERT_TRUE(handheld::testing::WriteDriverKey(kBusKey, {u"Tessiv.dll", u"OPT", 1, ""}));
    ASSERT_TRUE(handheld::testing::WriteDword(kBusKey, u"Order", 20));
    HKEY bus = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kBusKey, 0, 0, &bus), ERROR_SUCCESS);
    InstallAndWaitForClient();
    if (!c.prefixStored) RegDeleteValueW(bus, u"Prefix");

    ASSERT_EQ(Uninstall_Init(nullptr, u"\\Windows"), codeUNINSTALL_INIT_CONTINUE) << c.what;
    EXPECT_TRUE(ActiveRecords().empty()) << c.what;
    // The installer removes the package's values.
    for (const char16_t* name : {u"Dll", u"Prefix", u"Order"}) RegDeleteValueW(bus, name);
    handheld::ClearOemRequests();
    EXPECT_EQ(Uninstall_Exit(nullptr), codeUNINSTALL_EXIT_DONE) << c.what;

    auto stored = [&](const char16_t* name) {
      return RegQueryValueExW(bus, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    };
    EXPECT_EQ(stored(u"DLL"), c.restored) << c.what;
    EXPECT_EQ(stored(u"Order"), c.restored) << c.what;
    EXPECT_EQ(stored(u"Prefix"), c.restored && c.prefixStored) << c.what;
    // Restarted and asked to scan, which loads the client again.
    bool running = c.restored && c.prefixStored;
    EXPECT_EQ(Listed(kBusKey), running) << c.what;
    if (running) {
      EXPECT_TRUE(WaitUntil([] { return Listed(kGpsKey); }, 7000)) << c.what;
    }
    RegCloseKey(bus);
    StopAllDrivers();
  }
}

TEST_F(Kolvane, WithoutFerrixEveryDriverCountsAsNotLoaded) {
  InstallAndWaitForClient();
  std::string empty = device_.path() + "/no-modules";
  std::filesystem::create_directories(empty);
  handheld::SetModuleFolders({empty});
  EXPECT_EQ(Install_Init(nullptr, TRUE, TRUE, u"\\Windows"), codeINSTALL_INIT_CONTINUE);
  EXPECT_TRUE(Listed(kBusKey));  // nothing was unloaded
  EXPECT_TRUE(Listed(kGpsKey));
  // A second bus driver cannot start beside the first.
  EXPECT_EQ(Install_Exit(nullptr, u"\\Windows", 0, 0, 0, 0, 0), codeINSTALL_EXIT_UNINSTALL);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, u"Failed to Load Tessiv Bus Driver!!");
}

// The names its export table holds, here and in the Windows DLL.
const std::set<std::string> kKolvaneExports = {"Install_Init", "Install_Exit",
                                               "Uninstall_Init", "Uninstall_Exit"};

TEST(KolvaneModule, ExportsExactlyItsHooks) {
  EXPECT_EQ(handheld::testing::DefinedDynamicSymbols(KOLVANE_FILE), kKolvaneExports);
}

TEST(KolvaneModule, TheWindowsDllExportsTheSameNames) {
  if (std::string(WINDOWS_DIR).empty())
    GTEST_SKIP() << "no Windows build (mingw-w64 is not installed)";
  EXPECT_EQ(handheld::testing::DllExports(std::string(WINDOWS_DIR) + "/Kolvane.dll"),
            kKolvaneExports);
}

}  // namespace
}  // namespace bustest
