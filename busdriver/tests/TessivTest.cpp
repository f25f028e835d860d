// The bus driver loaded by the real device manager, with the OEM layer's
// sleeve connector, the real hive in a temporary device folder and the
// stand-in's client serial driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "BusDriverTesting.h"
#include "Tessiv.h"
#include "testing/ModuleSymbols.h"

namespace bustest {
namespace {

// The driver's own entry points, from the module the device manager loaded.
template <class F>
F Entry(const char16_t* name) {
  HMODULE module = LoadLibraryW(u"Tessiv.dll");
  F entry = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddressW(module, name)));
  FreeLibrary(module);
  return entry;
}

size_t PresenceQueries() {
  size_t count = 0;
  for (const auto& r : handheld::OemRequests()) count += r.code == handheld::kOemSleevePresence;
  return count;
}

size_t ControlWords() {
  size_t count = 0;
  for (const auto& r : handheld::OemRequests()) count += r.hasWord;
  return count;
}

HANDLE OpenBus() {
  return CreateFileW(u"OPT1:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                     nullptr);
}

TEST_F(BusDriverTest, IsListedAsOpt1AndStartsOneWatcherHoweverOftenInitialized) {
  std::vector<ActiveRecord> records = ActiveRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].key, kBusKey);
  EXPECT_EQ(records[0].name, u"OPT1:");
  EXPECT_EQ(ThreadCount(), threadsBefore_ + 1);
  std::vector<int> priorities = handheld::RunningThreadPriorities();
  EXPECT_EQ(std::count(priorities.begin(), priorities.end(), 104), 1);
  auto init = Entry<DWORD (*)(LPCWSTR, LPCVOID)>(u"OPT_Init");
  auto deinit = Entry<BOOL (*)(DWORD)>(u"OPT_Deinit");
  ASSERT_TRUE(init && deinit);
  EXPECT_EQ(init(u"Drivers\\Active\\99", nullptr), 1u);
  EXPECT_EQ(ThreadCount(), threadsBefore_ + 1);
  deinit(2);  // not the driver's context: nothing happens
  HANDLE bus = OpenBus();
  ASSERT_NE(bus, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(DeviceIoControl(bus, OptScanBus, nullptr, 0, nullptr, 0, nullptr, nullptr));
  CloseHandle(bus);
  // A detect registration was made and is taken away again.
  HKEY registration = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\PCMCIA\\Detect\\40", 0, 0, &registration),
            ERROR_SUCCESS);
  RegCloseKey(registration);
  EXPECT_TRUE(StopBusDriver());
  EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\PCMCIA\\Detect\\40", 0, 0, &registration),
            ERROR_SUCCESS);
}

TEST_F(BusDriverTest, UnsupportedRequestsFailWithNotSupported) {
  HANDLE bus = OpenBus();
  ASSERT_NE(bus, INVALID_HANDLE_VALUE) << GetLastError();
  for (DWORD code : {0u, 0x5A5Bu, 0x5A5A0000u, static_cast<DWORD>(IOCTL_SERIAL_GET_DCB)}) {
    SetLastError(0);
    EXPECT_FALSE(DeviceIoControl(bus, code, nullptr, 0, nullptr, 0, nullptr, nullptr)) << code;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED)) << code;
  }
  EXPECT_TRUE(CloseHandle(bus));

  char buffer[4] = {};
  struct Case {
    const char* what;
    std::function<DWORD()> call;
  } cases[] = {
      {"read", [&] { return Entry<DWORD (*)(DWORD, LPVOID, DWORD)>(u"OPT_Read")(1, buffer, 4); }},
      {"write",
       [&] { return Entry<DWORD (*)(DWORD, LPCVOID, DWORD)>(u"OPT_Write")(1, buffer, 4); }},
      {"seek", [&] { return Entry<DWORD (*)(DWORD, LONG, DWORD)>(u"OPT_Seek")(1, 0, 0); }},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(c.call(), 0u) << c.what;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED)) << c.what;
  }
}

TEST_F(BusDriverTest, ScanWithTheSameSleeveReadsItsIdentityAgainAndReloadsNothing) {
  ASSERT_TRUE(InsertAndWaitForClient(kGpsSleeve, kGpsKey));
  std::vector<ActiveRecord> loaded = Clients();
  EXPECT_EQ(loaded[0].name, u"COM3:");
  EXPECT_TRUE(handheld::GetSleeveState().powered);

  handheld::ClearOemRequests();
  HANDLE bus = OpenBus();
  ASSERT_NE(bus, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(DeviceIoControl(bus, OptScanBus, nullptr, 0, nullptr, 0, nullptr, nullptr));
  CloseHandle(bus);
  // The watcher's presence check and GetSleeveID's own.
  EXPECT_TRUE(WaitUntil([] { return PresenceQueries() >= 2; }, 2000));
  Sleep(200);
  std::vector<ActiveRecord> after = Clients();
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].subkey, loaded[0].subkey);
  EXPECT_EQ(after[0].hnd, loaded[0].hnd);
  EXPECT_EQ(ControlWords(), 0u);  // not even the power state was asked
}

TEST_F(BusDriverTest, ASleeveOfAnotherIdentityReplacesTheClient) {
  ASSERT_TRUE(InsertAndWaitForClient(kGpsSleeve, kGpsKey));
  // Without a key of its own the old client goes and nothing comes.
  handheld::InsertSleeve(kSecondSleeve);
  EXPECT_TRUE(WaitUntil([] { return Clients().empty(); }, 7000));
  Sleep(300);
  EXPECT_TRUE(Clients().empty());
  // The second sleeve kind is served by the same client driver.
  ASSERT_TRUE(handheld::testing::WriteDriverKey(
      kSecondKey, {u"SleeveSerial.dll", u"COM", 4, peer_.slavePath()}));
  ASSERT_TRUE(InsertAndWaitForClient(kSecondSleeve, kSecondKey));
  EXPECT_EQ(Clients()[0].name, u"COM4:");
  handheld::RemoveSleeve();
  EXPECT_TRUE(WaitUntil([] { return Clients().empty(); }, 2000));
  EXPECT_TRUE(StopBusDriver());
}

// No identity published within 5 seconds reads as 0, whose key is
// "Drivers\Tessiv\0000\0000".
TEST_F(BusDriverTest, IdentityZeroLooksForTheKeyOfZeros) {
  ASSERT_TRUE(handheld::testing::WriteDriverKey(
      u"Drivers\\Tessiv\\0000\\0000", {u"SleeveSerial.dll", u"COM", 5, peer_.slavePath()}));
  handheld::SetIdentityPublishDelay(INFINITE);
  ASSERT_TRUE(InsertAndWaitForClient(kGpsSleeve, u"Drivers\\Tessiv\\0000\\0000"));
  EXPECT_EQ(Clients()[0].name, u"COM5:");
}

TEST_F(BusDriverTest, DetectSleeveMatchesSocketAndFunction) {
  auto detect = Entry<LPWSTR (*)(CARD_SOCKET_HANDLE, UCHAR, LPWSTR, DWORD)>(u"DetectSleeve");
  ASSERT_NE(detect, nullptr);
  handheld::InsertSleeve(kGpsSleeve);
  struct Case {
    const char* what;
    int socketValue, functionValue;  // -1: value absent
    UCHAR socket, function;
    DWORD bufferChars;
    bool accepted;
  };
  const Case cases[] = {
      {"no Socket: any socket", -1, -1, 3, 7, 25, true},
      {"Socket 0 only: socket 0", 0, -1, 0, 9, 25, true},
      {"Socket 0 only: socket 1", 0, -1, 1, 0, 25, false},
      {"Socket and Function match", 1, 2, 1, 2, 25, true},
      {"Function differs", 1, 2, 1, 3, 25, false},
      {"Function without Socket is not looked at", -1, 2, 0, 0, 25, true},
      {"a buffer too small for the key path", -1, -1, 0, 0, 24, false},
  };
  for (const Case& c : cases) {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kGpsKey);
    ASSERT_TRUE(handheld::testing::WriteDriverKey(kGpsKey, {u"SleeveSerial.dll", u"COM", 3, ""}));
    if (c.socketValue >= 0)
      handheld::testing::WriteDword(kGpsKey, u"Socket", static_cast<DWORD>(c.socketValue));
    if (c.functionValue >= 0)
      handheld::testing::WriteDword(kGpsKey, u"Function", static_cast<DWORD>(c.functionValue));
    WCHAR buffer[40];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    LPWSTR result = detect({c.socket, c.function}, 0, buffer, c.bufferChars);
    EXPECT_EQ(result != nullptr, c.accepted) << c.what;
    if (result) {
      EXPECT_EQ(result, buffer) << c.what;
      EXPECT_EQ(std::u16string(buffer), u"Tessiv") << c.what;
    }
    EXPECT_EQ(buffer[c.bufferChars], u'#') << c.what;  // nothing written past the buffer
  }
  // A sleeve without a client key.
  handheld::InsertSleeve(kSecondSleeve);
  WCHAR buffer[32];
  EXPECT_EQ(detect({0, 0}, 0, buffer, 32), nullptr);
  EXPECT_EQ(std::u16string(buffer), u"Drivers\\Tessiv\\0100\\0010");
}

// The driver stops while its watcher waits for an identity that is never
// published, with the client of the previous sleeve still loaded.
TEST_F(BusDriverTest, StoppingDuringAnIdentityWaitLeavesNothingBehind) {
  ASSERT_TRUE(InsertAndWaitForClient(kGpsSleeve, kGpsKey));
  handheld::SetIdentityPublishDelay(INFINITE);
  handheld::ClearOemRequests();
  handheld::InsertSleeve(kSecondSleeve);
  // The removal's pass unloads the client, or the watcher is in GetSleeveID
  // with the client still loaded; either way it then waits for the identity.
  ASSERT_TRUE(WaitUntil([] { return PresenceQueries() >= 4; }, 2000));
  DWORD start = GetTickCount();
  EXPECT_TRUE(StopBusDriver());
  EXPECT_LT(GetTickCount() - start, 10000u);  // ends after the identity wait
  EXPECT_TRUE(Clients().empty());
  Sleep(300);  // nothing is loaded afterwards either
  EXPECT_TRUE(ActiveRecords().empty());
}

TEST_F(BusDriverTest, ABurstOfInsertionsAndRemovalsEndsConsistent) {
  handheld::SetIdentityPublishDelay(5);
  for (int i = 0; i < 250; ++i) {
    handheld::InsertSleeve(i % 2 ? kGpsSleeve : kSecondSleeve);
    handheld::RemoveSleeve();
  }
  // 500 events; the last state wins.
  EXPECT_TRUE(WaitUntil([] { return Clients().empty(); }, 7000));
  ASSERT_TRUE(InsertAndWaitForClient(kGpsSleeve, kGpsKey));
  Sleep(200);
  EXPECT_EQ(Clients().size(), 1u);
  EXPECT_TRUE(StopBusDriver());
}

// The names its export table holds, here and in the Windows DLL.
const std::set<std::string> kTessivExports = {"OPT_Init",  "OPT_Deinit",    "OPT_Open",
                                              "OPT_Close", "OPT_Read",      "OPT_Write",
                                              "OPT_Seek",  "OPT_IOControl", "DetectSleeve"};

TEST(TessivModule, ExportsExactlyItsEntryPointsAndNeedsFerrixByName) {
  EXPECT_EQ(handheld::testing::DefinedDynamicSymbols(TESSIV_FILE), kTessivExports);
  std::string needed;
  FILE* readelf = popen((std::string("readelf -d '") + TESSIV_FILE + "'").c_str(), "r");
  ASSERT_NE(readelf, nullptr);
  char line[512];
  while (fgets(line, sizeof line, readelf)) {
    std::string text(line);
    if (text.find("(NEEDED)") != std::string::npos) needed += text;
  }
  pclose(readelf);
  EXPECT_NE(needed.find("[Ferrix.so]"), std::string::npos) << needed;
}

TEST(TessivModule, TheWindowsDllExportsTheSameNames) {
  if (std::string(WINDOWS_DIR).empty())
    GTEST_SKIP() << "no Windows build (mingw-w64 is not installed)";
  EXPECT_EQ(handheld::testing::DllExports(std::string(WINDOWS_DIR) + "/Tessiv.dll"),
            kTessivExports);
}

}  // namespace
}  // namespace bustest
