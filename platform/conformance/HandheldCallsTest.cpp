// The handheld's own kernel and device manager calls as the modules make
// them: its thread priority scale, drivers activated from registry keys,
// the OEM layer's I/O controls and physical pages bound into a reserved
// region. Desktop Windows has none of them; what they do there is what the
// programs' Windows build gives them, and where that is not the handheld's
// behaviour the checks are marked.
#include "Conformance.h"

namespace {

struct PriorityCase {
  int priority;
  bool taken;
};

DWORD WINAPI Idle(LPVOID) { return 0; }

TEST(HandheldThreads, PrioritiesOfTheScaleOf256LevelsAreTakenOthersRefused) {
  // A thread that waits to be resumed: its priorities do not disturb the case.
  HANDLE thread = CreateThread(nullptr, 0, Idle, nullptr, CREATE_SUSPENDED, nullptr);
  ASSERT_NE(thread, nullptr);
  const PriorityCase cases[] = {{251, true}, {255, true}, {0, true}, {256, false}, {-1, false}};
  for (const PriorityCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "priority " << c.priority);
    SetLastError(0);
    const BOOL set = CeSetThreadPriority(thread, c.priority);
    if (c.taken) {
      HANDHELD_BEHAVIOUR(
          "CeSetThreadPriority takes the handheld's priorities 0 (highest) to 255; desktop "
          "Windows has no such scale and the call fails there with ERROR_NOT_SUPPORTED") {
        EXPECT_TRUE(set);
      }
    } else {
      EXPECT_FALSE(set);
      HANDHELD_BEHAVIOUR(
          "CeSetThreadPriority refuses a priority outside 0 to 255 with ERROR_INVALID_PARAMETER; "
          "on desktop Windows every priority fails with ERROR_NOT_SUPPORTED") {
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
      }
    }
  }
  CeSetThreadPriority(thread, 251);  // the handheld's threads' default
  ResumeThread(thread);
  EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  CloseHandle(thread);
}

TEST(HandheldDevices, AMissingDriverKeyActivatesNothingAndNoDeviceDeactivates) {
  SetLastError(0);
  EXPECT_EQ(ActivateDevice(TEXT("Drivers\\Conformance\\NoSuchDriver"), 0), nullptr);
  EXPECT_NE(GetLastError(), 0u);
  SetLastError(0);
  EXPECT_FALSE(DeactivateDevice(nullptr));
  EXPECT_NE(GetLastError(), 0u);
  SetLastError(0);
  EXPECT_FALSE(DeactivateDevice(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x4D2))));
  EXPECT_NE(GetLastError(), 0u);
}

TEST(HandheldKernel, AnIoControlTheOemLayerDoesNotKnowIsNotSupported) {
  // A code of the hardware abstraction layer's device type (0x101) that no
  // OEM layer defines.
  const DWORD kUnknownCode = (0x101u << 16) | (0xBFFu << 2);
  DWORD in = 1, out = 0, returned = 77;
  SetLastError(0);
  EXPECT_FALSE(KernelIoControl(kUnknownCode, &in, sizeof in, &out, sizeof out, &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(out, 0u);
}

TEST(HandheldKernel, PhysicalPagesAreBoundOnlyIntoAReservedRegion) {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const DWORD page = system.dwPageSize;
  void* reserved = VirtualAlloc(nullptr, page, MEM_RESERVE, PAGE_NOACCESS);
  ASSERT_NE(reserved, nullptr) << GetLastError();
  // Physical addresses are given shifted right by 8 with PAGE_PHYSICAL.
  void* physical = reinterpret_cast<void*>(static_cast<UINT_PTR>(0x10000000u >> 8));
  HANDHELD_BEHAVIOUR(
      "VirtualCopy binds physical pages to a region reserved with VirtualAlloc (PAGE_PHYSICAL: "
      "the address shifted right by 8); desktop Windows has no such call, it fails with "
      "ERROR_NOT_SUPPORTED") {
    EXPECT_TRUE(VirtualCopy(reserved, physical, page, PAGE_READWRITE | PAGE_NOCACHE | PAGE_PHYSICAL));
  }
  SetLastError(0);
  EXPECT_FALSE(VirtualCopy(nullptr, physical, page, PAGE_READWRITE | PAGE_NOCACHE | PAGE_PHYSICAL));
  EXPECT_NE(GetLastError(), 0u);
  EXPECT_TRUE(VirtualFree(reserved, 0, MEM_RELEASE));
}

}  // namespace
