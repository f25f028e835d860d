// What the bus driver's tests share: a handheld in a temporary device
// folder with the bus driver's key and the GPS sleeve's client key (the
// stand-in's serial driver on a pty), the bus driver activated from its key
// by the device manager, and looks at the device manager's records.
#pragma once

#include <gtest/gtest.h>

#include <dirent.h>

#include <functional>
#include <string>
#include <vector>

#include "handheld.h"
#include "testing/DriverRegistry.h"
#include "testing/PtyPeer.h"
#include "testing/TempDevice.h"

namespace bustest {

using handheld::testing::ActiveRecord;
using handheld::testing::ActiveRecords;

constexpr DWORD kGpsSleeve = 0x01000001;
constexpr DWORD kSecondSleeve = 0x01000010;
constexpr char16_t kBusKey[] = u"Drivers\\BuiltIn\\Tessiv";
constexpr char16_t kGpsKey[] = u"Drivers\\Tessiv\\0100\\0001";
constexpr char16_t kSecondKey[] = u"Drivers\\Tessiv\\0100\\0010";

// Polls every 10 ms until `done` or `ms` have passed.
inline bool WaitUntil(const std::function<bool()>& done, DWORD ms) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > ms) return false;
    Sleep(10);
  }
  return true;
}

// The records of client drivers (loaded from a key below "Drivers\Tessiv").
inline std::vector<ActiveRecord> Clients() {
  std::vector<ActiveRecord> clients;
  for (const ActiveRecord& record : ActiveRecords())
    if (record.key.rfind(u"Drivers\\Tessiv\\", 0) == 0) clients.push_back(record);
  return clients;
}

// Threads of this process.
inline int ThreadCount() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
    closedir(dir);
  }
  return count;
}

// Card services' key (part of the handheld's registry), the bus driver's
// key and the GPS sleeve's client key with the serial driver on `hostDevice`.
inline void WriteDriverKeys(const std::string& hostDevice) {
  HKEY detect = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\PCMCIA\\Detect", 0, nullptr, 0, 0,
                            nullptr, &detect, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(detect);
  ASSERT_TRUE(handheld::testing::WriteDriverKey(kBusKey, {u"Tessiv.dll", u"OPT", 1, ""}));
  ASSERT_TRUE(handheld::testing::WriteDword(kBusKey, u"Order", 20));
  ASSERT_TRUE(
      handheld::testing::WriteDriverKey(kGpsKey, {u"SleeveSerial.dll", u"COM", 3, hostDevice}));
}

class BusDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The platform's identity publisher runs its thread from the first
    // insertion on; it is counted among the threads that were there before.
    handheld::InsertSleeve(kGpsSleeve);
    handheld::RemoveSleeve();
    handheld::SetIdentityPublishDelay(50);
    handheld::ClearOemRequests();
    ASSERT_TRUE(peer_.ok());
    WriteDriverKeys(peer_.slavePath());
    threadsBefore_ = ThreadCount();
    bus_ = ActivateDevice(kBusKey, 0);
    ASSERT_NE(bus_, nullptr) << GetLastError();
  }

  void TearDown() override {
    if (bus_) {
      EXPECT_TRUE(DeactivateDevice(bus_));
    }
    handheld::RemoveSleeve();
  }

  // Stops the bus driver; true when it left no client and no thread behind.
  bool StopBusDriver() {
    bool stopped = DeactivateDevice(bus_);
    bus_ = nullptr;
    return stopped && ActiveRecords().empty() &&
           WaitUntil([&] { return ThreadCount() <= threadsBefore_; }, 2000);
  }

  // Inserts a sleeve and waits until its client is listed.
  ::testing::AssertionResult InsertAndWaitForClient(DWORD sleeveId, const char16_t* key) {
    handheld::InsertSleeve(sleeveId);
    if (WaitUntil([&] { return Clients().size() == 1 && Clients()[0].key == key; }, 7000))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << Clients().size() << " clients listed";
  }

  handheld::testing::TempDevice device_;
  handheld::testing::PtyPeer peer_;
  HANDLE bus_ = nullptr;
  int threadsBefore_ = 0;
};

}  // namespace bustest
