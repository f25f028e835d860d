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
