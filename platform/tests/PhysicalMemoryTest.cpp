// Virtual memory over the simulated physical address space, and a trapped
// register page, in a temporary device folder.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "handheld.h"
#include "testing/TempDevice.h"
#include "windows.h"

namespace {

constexpr DWORD kPhysical = 0x20000000;

class PhysicalMemory : public ::testing::Test {
 protected:
  void SetUp() override {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    page_ = info.dwPageSize;
  }
  BYTE* Map(DWORD physical, DWORD bytes, DWORD protect = PAGE_READWRITE | PAGE_PHYSICAL) {
    void* base = VirtualAlloc(nullptr, bytes, MEM_RESERVE, PAGE_NOACCESS);
    EXPECT_NE(base, nullptr);
    EXPECT_TRUE(VirtualCopy(base, reinterpret_cast<void*>(uintptr_t{physical} >> 8), bytes, protect));
    return static_cast<BYTE*>(base);
  }
  handheld::testing::TempDevice device_;
  DWORD page_ = 0;
};

TEST_F(PhysicalMemory, MappingsOfOnePageShareItsBytes) {
  BYTE* a = Map(kPhysical, page_);
  BYTE* b = Map(kPhysical - page_, 2 * page_);
  std::memcpy(a + 8, "sleeve", 6);
  EXPECT_EQ(std::memcmp(b + page_ + 8, "sleeve", 6), 0);
  b[page_] = 0x5A;
  EXPECT_EQ(a[0], 0x5A);
  EXPECT_TRUE(VirtualFree(a, 0, MEM_RELEASE));
  EXPECT_TRUE(VirtualFree(b, 2 * page_, MEM_RELEASE));
  EXPECT_FALSE(VirtualFree(b, 0, MEM_RELEASE));  // released already
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(PhysicalMemory, RefusesWhatCannotBeMapped) {
  void* base = VirtualAlloc(nullptr, page_, MEM_RESERVE, PAGE_NOACCESS);
  ASSERT_NE(base, nullptr);
  struct Case {
    const char* what;
    void* dest;
    uintptr_t physical;
    DWORD bytes;
    DWORD protect;
  };
  static int unreserved;
  const Case cases[] = {
      {"not physical", base, kPhysical, page_, PAGE_READWRITE},
      {"outside a reservation", &unreserved, kPhysical, 4, PAGE_READWRITE | PAGE_PHYSICAL},
      {"beyond the reservation", base, kPhysical, 2 * page_, PAGE_READWRITE | PAGE_PHYSICAL},
      {"physical not page-aligned", base, kPhysical + 0x100, 4, PAGE_READWRITE | PAGE_PHYSICAL},
      {"beyond 4 GiB", base, 0xFFFFFFFFull & ~uintptr_t{page_ - 1}, 2 * page_,
       PAGE_READWRITE | PAGE_PHYSICAL},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(VirtualCopy(c.dest, reinterpret_cast<void*>(c.physical >> 8), c.bytes, c.protect))
        << c.what;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << c.what;
  }
  EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE));
}

// Plain memory beside a register in its trapped page behaves as memory; a
// register without queued values keeps the last one.
TEST_F(PhysicalMemory, TrappedPageOutsideTheRegisterIsMemory) {
  std::string reason;
  if (!handheld::RegisterTrapsAvailable(&reason)) GTEST_SKIP() << reason;
  ASSERT_TRUE(handheld::AttachRegister(kPhysical + 4, 4));
  BYTE* p = Map(kPhysical, page_);
  volatile DWORD* reg = reinterpret_cast<volatile DWORD*>(p + 4);
  volatile DWORD* beside = reinterpret_cast<volatile DWORD*>(p + 8);
  *beside = 0x12345678;
  EXPECT_EQ(*beside, 0x12345678u);
  handheld::QueueRegisterReads(kPhysical + 4, {7});
  EXPECT_EQ(*reg, 7u);
  EXPECT_EQ(*reg, 7u);
  *reg = 9;
  EXPECT_EQ(*reg, 9u);
  auto accesses = handheld::GetRegisterAccesses(kPhysical + 4);
  EXPECT_EQ(accesses.reads, 3u);
  EXPECT_EQ(accesses.writes, std::vector<DWORD>{9});
  handheld::DetachRegister(kPhysical + 4);
  EXPECT_EQ(*reg, 9u);  // the page is plain memory again
  EXPECT_EQ(handheld::GetRegisterAccesses(kPhysical + 4).reads, 0u);
  VirtualFree(p, 0, MEM_RELEASE);
}

}  // namespace
