// The device manager with the sleeve's client serial driver, a real module,
// against the real hive in a temporary device folder and a real pty.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "handheld.h"
#include "testing/DriverRegistry.h"
#include "testing/ModuleSymbols.h"
#include "testing/PtyPeer.h"
#include "testing/TempDevice.h"

namespace {

constexpr char16_t kGpsKey[] = u"Drivers\\Tessiv\\0100\\0001";

using handheld::testing::ActiveRecord;
using handheld::testing::ActiveRecords;
using handheld::testing::DriverKey;
using handheld::testing::WriteDriverKey;

HANDLE OpenPort(const char16_t* name) {
  HANDLE port = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (port == INVALID_HANDLE_VALUE) return port;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  GetCommState(port, &dcb);
  dcb.BaudRate = CBR_57600;
  dcb.ByteSize = 8;
  SetCommState(port, &dcb);
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = 0xFFFFFFFFu;  // return what has arrived
  SetCommTimeouts(port, &timeouts);
  return port;
}

class DeviceManager : public ::testing::Test {
 protected:
  handheld::testing::TempDevice device_;
  handheld::testing::PtyPeer peer_;
};

TEST_F(DeviceManager, ActivatedDriverIsRecordedOpenedByNameAndDeactivated) {
  ASSERT_TRUE(peer_.ok());
  ASSERT_TRUE(WriteDriverKey(kGpsKey, {u"SleeveSerial.dll", u"COM", 3, peer_.slavePath()}));
  HANDLE device = ActivateDevice(kGpsKey, 7);
  ASSERT_NE(device, nullptr) << GetLastError();
  std::vector<ActiveRecord> records = ActiveRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].key, kGpsKey);
  EXPECT_EQ(records[0].name, u"COM3:");
  EXPECT_EQ(records[0].hnd, static_cast<DWORD>(reinterpret_cast<uintptr_t>(device)));
  EXPECT_EQ(records[0].clientInfo, 7u);

  HANDLE port = OpenPort(u"com3:");
  ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
  DCB dcb{};
  ASSERT_TRUE(GetCommState(port, &dcb));  // through the driver's I/O control
  EXPECT_EQ(dcb.BaudRate, static_cast<DWORD>(CBR_57600));
  ASSERT_TRUE(peer_.Write("$GPRMC\r\n"));
  std::string received;
  for (int i = 0; i < 100 && received.size() < 8; ++i) {
    char buffer[16];
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(port, buffer, sizeof buffer, &read, nullptr));
    received.append(buffer, read);
    if (!read) Sleep(10);
  }
  EXPECT_EQ(received, "$GPRMC\r\n");
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(port, "A", 1, &written, nullptr));
  EXPECT_EQ(peer_.Read(1, 2000), std::vector<uint8_t>{'A'});

  // The driver's result and last error reach the caller: a serial port
  // refuses a request it does not serve.
  SetLastError(0);
  EXPECT_FALSE(DeviceIoControl(port, 0x1234, nullptr, 0, nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(SetFilePointer(port, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_TRUE(CloseHandle(port));

  ASSERT_TRUE(DeactivateDevice(device));
  EXPECT_TRUE(ActiveRecords().empty());
  EXPECT_EQ(CreateFileW(u"COM3:", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(DeactivateDevice(device));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(CloseHandle(device));  // a device handle is no kernel object
}

TEST_F(DeviceManager, FailedActivationsKeepNothing) {
  struct Case {
    const char* what;
    std::u16string dll, prefix;
    bool hostDevice;
    DWORD error;
  };
  const Case cases[] = {
      {"no such library", u"Missing.dll", u"COM", true, ERROR_MOD_NOT_FOUND},
      {"no such entry points", u"SleeveSerial.dll", u"XYZ", true, ERROR_PROC_NOT_FOUND},
      {"Init fails with its own error", u"SleeveSerial.dll", u"COM", false, ERROR_FILE_NOT_FOUND},
      {"a prefix that is no device name", u"SleeveSerial.dll", u"C1M", true,
       ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kGpsKey);
    ASSERT_TRUE(
        WriteDriverKey(kGpsKey, {c.dll, c.prefix, 3, c.hostDevice ? peer_.slavePath() : ""}));
    EXPECT_EQ(ActivateDevice(kGpsKey, 0), nullptr) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
    EXPECT_TRUE(ActiveRecords().empty()) << c.what;
  }
  EXPECT_EQ(ActivateDevice(u"Drivers\\Nothing", 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(DeviceManager, DeviceNamesAreTakenOnce) {
  // COM1: is a host port listed by another driver; COM2: is free.
  device_.AddSerialPort(u"COM1:", peer_.slavePath(), u"Drivers\\HostPorts\\COM1");
  ASSERT_TRUE(WriteDriverKey(kGpsKey, {u"SleeveSerial.dll", u"COM", -1, peer_.slavePath()}));
  ASSERT_TRUE(WriteDriverKey(u"Drivers\\Tessiv\\0100\\0010",
                             {u"SleeveSerial.dll", u"COM", 2, peer_.slavePath()}));
  HANDLE first = ActivateDevice(kGpsKey, 0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(ActiveRecords().back().name, u"COM2:");
  EXPECT_EQ(ActivateDevice(u"Drivers\\Tessiv\\0100\\0010", 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_IN_USE));
  HANDLE second = ActivateDevice(kGpsKey, 0);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(ActiveRecords().back().name, u"COM3:");
  EXPECT_TRUE(DeactivateDevice(first));
  EXPECT_TRUE(DeactivateDevice(second));
  EXPECT_EQ(ActiveRecords().size(), 1u);  // the host port's
}

TEST_F(DeviceManager, DeactivationWakesAWaitOnAnOpenPort) {
  ASSERT_TRUE(WriteDriverKey(kGpsKey, {u"SleeveSerial.dll", u"COM", 3, peer_.slavePath()}));
  HANDLE device = ActivateDevice(kGpsKey, 0);
  ASSERT_NE(device, nullptr);
  HANDLE port = OpenPort(u"COM3:");
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  BOOL waited = TRUE;
  std::thread waiter([&] {
    DWORD mask = 0;
    waited = WaitCommEvent(port, &mask, nullptr);
  });
  Sleep(100);
  ASSERT_TRUE(DeactivateDevice(device));
  waiter.join();
  EXPECT_FALSE(waited);
  DWORD read = 0;
  char byte;
  EXPECT_FALSE(ReadFile(port, &byte, 1, &read, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_REMOVED));
  EXPECT_TRUE(CloseHandle(port));
  EXPECT_TRUE(ActiveRecords().empty());
}

TEST(SleeveSerialModule, ExportsExactlyItsEntryPoints) {
  const std::set<std::string> expected = {"COM_Init", "COM_Deinit", "COM_Open",  "COM_Close",
                                          "COM_Read", "COM_Write",  "COM_Seek", "COM_IOControl"};
  EXPECT_EQ(handheld::testing::DefinedDynamicSymbols(SLEEVE_SERIAL_FILE), expected);
}

}  // namespace
