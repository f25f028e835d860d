// White-box tests of the stand-in's handle table and table of activated
// devices.
#include <atomic>
#include <memory>
#include <thread>
#include <vector>
#include <string>

#include <gtest/gtest.h>

#include "FileObject.h"
#include "HandleTable.h"
#include "DeviceTable.h"
#include "testing/TempDevice.h"
#include "windows.h"

namespace {

using handheld::detail::DeviceDriver;
using handheld::detail::DeviceTable;
using handheld::detail::FileObject;
using handheld::detail::HandleKind;
using handheld::detail::HandleTable;
using handheld::detail::KernelObject;
using handheld::detail::Status;
using handheld::testing::TempDevice;

class ProbeObject : public KernelObject {
 public:
  ProbeObject(std::atomic<int>* closes, std::atomic<int>* destroyed)
      : closes_(closes), destroyed_(destroyed) {}
  ~ProbeObject() override { ++*destroyed_; }
  void OnClose() override { ++*closes_; }

 private:
  std::atomic<int>* closes_;
  std::atomic<int>* destroyed_;
};

TEST(CoreHandles, OnCloseRunsOnceAtTheLastHandleAndReferencesKeepTheObject) {
  std::atomic<int> closes{0}, destroyed{0};
  auto object = std::make_shared<ProbeObject>(&closes, &destroyed);
  HANDLE first = HandleTable::Add(object);
  HANDLE second = HandleTable::Duplicate(object);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(HandleTable::LookupAs<ProbeObject>(second), object);
  object.reset();

  auto held = HandleTable::Lookup(first);  // a reference taken by a call in progress
  EXPECT_TRUE(CloseHandle(first));
  EXPECT_EQ(closes, 0);
  EXPECT_EQ(HandleTable::Lookup(first), nullptr);
  EXPECT_TRUE(HandleTable::Remove(second).ok());
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(destroyed, 0);  // still held
  // A closed object gets no new handles.
  EXPECT_EQ(HandleTable::Duplicate(HandleKind::kKernelObject, held), nullptr);
  held.reset();
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(HandleTable::Remove(second), Status(ERROR_INVALID_HANDLE));
  EXPECT_EQ(closes, 1);
}

// A thread remembers its last look-up; a close on another thread, or a
// look-up of the same value as another kind, must still find nothing.
TEST(CoreHandles, ALookUpRepeatedAfterACloseElsewhereFindsNothing) {
  std::atomic<int> closes{0}, destroyed{0};
  HANDLE h = HandleTable::Add(std::make_shared<ProbeObject>(&closes, &destroyed));
  ASSERT_NE(HandleTable::Lookup(h), nullptr);
  ASSERT_NE(HandleTable::Lookup(h), nullptr);  // the second one from what the thread kept
  EXPECT_EQ(HandleTable::Lookup(HandleKind::kRegistryKey, h), nullptr);
  ASSERT_NE(HandleTable::Lookup(h), nullptr);
  std::thread([h] { EXPECT_TRUE(CloseHandle(h)); }).join();
  EXPECT_EQ(HandleTable::Lookup(h), nullptr);
  // What the thread kept does not keep the closed object alive.
  EXPECT_EQ(destroyed, 1);
}

TEST(CoreHandles, ConcurrentAddLookupAndRemove) {
  std::atomic<int> closes{0}, destroyed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) {
        HANDLE h = HandleTable::Add(std::make_shared<ProbeObject>(&closes, &destroyed));
        HANDLE d = HandleTable::Duplicate(HandleKind::kKernelObject, HandleTable::Lookup(h));
        EXPECT_TRUE(HandleTable::Remove(h).ok());
        EXPECT_TRUE(HandleTable::Remove(d).ok());
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(closes, 4000);
  EXPECT_EQ(destroyed, 4000);
}

// A device activated in this process, as the device manager activates a
// stream driver: CreateFile reaches it by name, without regard to case.
class ScanDevice : public FileObject {
 public:
  Status IoControl(DWORD code, void*, DWORD, void* out, DWORD outBytes, DWORD* returned) override {
    *returned = 0;
    if (code != 0x5A5A) return ERROR_INVALID_PARAMETER;
    ++scans;
    if (out && outBytes >= sizeof(DWORD)) {
      *static_cast<DWORD*>(out) = static_cast<DWORD>(scans);
      *returned = sizeof(DWORD);
    }
    return Status::Ok();
  }
  void OnClose() override { closed = true; }
  int scans = 0;
  bool closed = false;
};

class ScanDriver : public DeviceDriver {
 public:
  std::shared_ptr<FileObject> Open(DWORD access, DWORD, Status*) override {
    seenAccess = access;
    return device;
  }
  std::shared_ptr<ScanDevice> device = std::make_shared<ScanDevice>();
  DWORD seenAccess = 0;
};

TEST(DeviceTable, ActivatedDevicesAreOpenedByNameThroughTheTable) {
  TempDevice folder;
  auto driver = std::make_shared<ScanDriver>();
  ASSERT_TRUE(DeviceTable::Activate(u"OPT1:", driver).ok());
  EXPECT_EQ(DeviceTable::Activate(u"opt1:", driver), Status(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(DeviceTable::Activate(u"OPTICAL", driver), Status(ERROR_INVALID_NAME));
  HANDLE opt = CreateFileW(u"opt1:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
  ASSERT_NE(opt, INVALID_HANDLE_VALUE);
  EXPECT_EQ(driver->seenAccess, GENERIC_READ | GENERIC_WRITE);
  DWORD count = 0, returned = 0;
  EXPECT_TRUE(DeviceIoControl(opt, 0x5A5A, nullptr, 0, &count, sizeof count, &returned, nullptr));
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(returned, sizeof(DWORD));
  EXPECT_FALSE(DeviceIoControl(opt, 0x1234, nullptr, 0, nullptr, 0, &returned, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // What the device does not offer is refused.
  char byte;
  DWORD got = 0;
  EXPECT_FALSE(ReadFile(opt, &byte, 1, &got, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));

  EXPECT_EQ(CreateFileW(u"OPT2:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(driver->device->closed);
  EXPECT_TRUE(CloseHandle(opt));
  EXPECT_TRUE(driver->device->closed);
  EXPECT_FALSE(DeviceIoControl(opt, 0x5A5A, nullptr, 0, nullptr, 0, &returned, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(DeviceTable::Deactivate(u"OPT1:").ok());
  EXPECT_EQ(CreateFileW(u"OPT1:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(DeviceTable::Deactivate(u"OPT1:"), Status(ERROR_FILE_NOT_FOUND));
}

}  // namespace
