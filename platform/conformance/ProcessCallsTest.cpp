// Modules and the process's end as the programs use them: the setup
// plug-in loads the sleeve's library and looks up its export, the viewer
// ends itself with ExitProcess while its reader thread still runs.
#include "Conformance.h"

namespace {

TEST(Modules, MissingModulesAndProceduresAreNotFound) {
  SetLastError(0);
  EXPECT_EQ(LoadLibraryW(TEXT("NoSuchModule.dll")), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  SetLastError(0);
  EXPECT_FALSE(FreeLibrary(nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  // The program's own module exports no such procedure.
  SetLastError(0);
  EXPECT_EQ(GetProcAddressW(GetModuleHandleW(nullptr), TEXT("NoSuchProcedure")), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
}

DWORD WINAPI Idle(LPVOID) { return 0; }

// module/ConformanceModule: its entry declines the per-thread calls with
// DisableThreadLibraryCalls, as the programs' modules do.
TEST(Modules, AModuleLoadsOnceGivesItsExportAndGetsNoThreadCallsItDeclined) {
  HMODULE module = LoadLibraryW(TEXT("ConformanceModule.dll"));
  ASSERT_NE(module, nullptr) << GetLastError();
  using State = DWORD (*)();
  auto state = reinterpret_cast<State>(
      reinterpret_cast<void*>(GetProcAddressW(module, TEXT("ConformanceModuleState"))));
  ASSERT_NE(state, nullptr) << GetLastError();
  EXPECT_EQ(state() & 0xFFu, 1u) << "one process attach";
  HANDLE thread = CreateThread(nullptr, 0, Idle, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  CloseHandle(thread);
  HANDHELD_BEHAVIOUR(
      "a module's entry declines the per-thread calls with DisableThreadLibraryCalls and gets "
      "none; desktop Windows refuses the call for a module with static thread-local storage, "
      "which every module of mingw-w64's run-time has, and goes on calling it") {
    EXPECT_NE(state() & 0x10000u, 0u) << "DisableThreadLibraryCalls succeeded";
    EXPECT_EQ(state() >> 8 & 0xFFu, 0u) << "thread attaches, though declined";
  }
  // Loaded again, it is the same module, not attached again.
  EXPECT_EQ(LoadLibraryW(TEXT("ConformanceModule.dll")), module);
  EXPECT_EQ(state() & 0xFFu, 1u);
  SetLastError(0);
  EXPECT_EQ(GetProcAddressW(module, TEXT("NoSuchExport")), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_TRUE(FreeLibrary(module));
}

DWORD WINAPI SleepOn(LPVOID) {
  Sleep(INFINITE);
  return 0;
}

// Each death case runs in a process of its own, started again from the
// program (as it must be on Windows).
class ProcessDeathTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(ProcessDeathTest, ExitProcessEndsTheProcessWithItsCode) {
  EXPECT_EXIT(ExitProcess(3), ::testing::ExitedWithCode(3), "");
  EXPECT_EXIT(ExitProcess(0), ::testing::ExitedWithCode(0), "");
}

TEST_F(ProcessDeathTest, ExitProcessEndsTheProcessWhileAnotherThreadRuns) {
  EXPECT_EXIT(
      {
        HANDLE sleeper = CreateThread(nullptr, 0, SleepOn, nullptr, 0, nullptr);
        if (sleeper == nullptr) ExitProcess(9);
        Sleep(50);
        ExitProcess(1);
      },
      ::testing::ExitedWithCode(1), "");
}

}  // namespace
