// The shell's calls as the viewer makes them: its command bar with the
// menu of ShellCallsTest.rc, full screen, activation and setting changes;
// and the modal boxes it asks questions with, answered here by a thread
// that finds them and presses their button.
#include <atomic>

#include <aygshell.h>
#include <commctrl.h>
#include <commdlg.h>

#include "Conformance.h"
#include "ShellCallsIds.h"

namespace {

using conformance::Thread;

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

class Shell : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = Instance();
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = TEXT("ConformanceShell");
    RegisterClassW(&wc);  // once for all the cases
    window_ = CreateWindowExW(0, wc.lpszClassName, TEXT("Shell"), WS_POPUP | WS_VISIBLE, 0, 0,
                              200, 150, nullptr, nullptr, Instance(), nullptr);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override {
    if (IsWindow(window_)) DestroyWindow(window_);
  }
  HWND window_ = nullptr;
};

#define THE_BAR_IS_A_BAND                                                                   \
  "the command bar is a band of its own at the top of the window, shown and hidden by "     \
  "CommandBar_Show; on desktop Windows its menu is the window's menu bar and the bar itself " \
  "is never shown"

TEST_F(Shell, ACommandBarCarriesItsMenuShowsHidesAndIsDestroyed) {
  HWND bar = CommandBar_Create(Instance(), window_, 1);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(GetParent(bar), window_);
  EXPECT_TRUE(CommandBar_InsertMenubar(bar, Instance(), IDR_CASE_MENU, 0));
  EXPECT_FALSE(CommandBar_InsertMenubar(bar, Instance(), 999, 0));  // no such menu
  EXPECT_TRUE(CommandBar_AddAdornments(bar, 0, 0));
  HANDHELD_BEHAVIOUR(THE_BAR_IS_A_BAND) { EXPECT_TRUE(IsWindowVisible(bar)); }
  EXPECT_TRUE(CommandBar_Show(bar, FALSE));
  EXPECT_FALSE(IsWindowVisible(bar));
  EXPECT_TRUE(CommandBar_Show(bar, TRUE));
  HANDHELD_BEHAVIOUR(THE_BAR_IS_A_BAND) { EXPECT_TRUE(IsWindowVisible(bar)); }
  CommandBar_Destroy(bar);
  EXPECT_FALSE(IsWindow(bar));
  EXPECT_TRUE(IsWindow(window_));
  // A bar that is gone, and one without a window to stand on.
  EXPECT_FALSE(CommandBar_Show(bar, TRUE));
  EXPECT_FALSE(CommandBar_AddAdornments(bar, 0, 0));
  DestroyWindow(window_);
  EXPECT_EQ(CommandBar_Create(Instance(), window_, 1), nullptr);
}

TEST_F(Shell, FullScreenActivationAndSettingChangesOfAWindow) {
  EXPECT_TRUE(SHFullScreen(window_, SHFS_HIDETASKBAR | SHFS_HIDESIPBUTTON));
  EXPECT_TRUE(SHFullScreen(window_, SHFS_SHOWTASKBAR));
  SHACTIVATEINFO info{};
  info.cbSize = sizeof info;
  EXPECT_TRUE(SHHandleWMActivate(window_, MAKEWPARAM(WA_ACTIVE, 0), 0, &info, 0));
  EXPECT_EQ(info.fActive, 1u);
  EXPECT_TRUE(SHHandleWMActivate(window_, MAKEWPARAM(WA_INACTIVE, 0), 0, &info, 0));
  EXPECT_EQ(info.fActive, 0u);
  EXPECT_TRUE(SHHandleWMSettingChange(window_, 0, 0, &info));
  DestroyWindow(window_);
  SetLastError(0);
  EXPECT_FALSE(SHFullScreen(window_, SHFS_HIDETASKBAR));
  EXPECT_NE(GetLastError(), 0u);
}

// Until `done` is set or 10 s have passed, looks for a top-level window of
// the caption and sends it the command, once.
void PressWhenShown(const WCHAR* caption, WORD command, const std::atomic<bool>& done) {
  for (int tries = 0; tries < 1000 && !done.load(); ++tries) {
    HWND box = FindWindowW(nullptr, caption);
    if (box != nullptr) {
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0);
      return;
    }
    Sleep(10);
  }
}

TEST(Modal, AMessageBoxReturnsTheButtonPressed) {
  std::atomic<bool> done{false};
  Thread presser([&] { PressWhenShown(TEXT("Conformance box"), IDOK, done); });
  const int answer = MessageBoxW(nullptr, TEXT("Press OK"), TEXT("Conformance box"), MB_OK);
  done = true;
  presser.join();
  EXPECT_EQ(answer, IDOK);
  EXPECT_EQ(FindWindowW(nullptr, TEXT("Conformance box")), nullptr);
}

// The viewer's log file dialog, its offered name taken as it stands.
TEST(Modal, ASaveDialogTakesTheOfferedNameWithItsExtension) {
  WCHAR file[256] = TEXT("conformance-save");
  WCHAR title[64] = {};
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hInstance = Instance();
  dialog.lpstrFilter = TEXT("Sirf Log File\0*.log\0");
  dialog.lpstrFile = file;
  dialog.nMaxFile = 256;
  dialog.lpstrFileTitle = title;
  dialog.nMaxFileTitle = 64;
  dialog.lpstrTitle = TEXT("Conformance save");
  dialog.lpstrDefExt = TEXT("log");
  std::atomic<bool> done{false};
  Thread presser([&] { PressWhenShown(TEXT("Conformance save"), IDOK, done); });
  const BOOL chosen = GetSaveFileNameW(&dialog);
  done = true;
  presser.join();
  ASSERT_TRUE(chosen) << CommDlgExtendedError();
  const int length = lstrlenW(file);
  ASSERT_GT(length, 21);
  EXPECT_EQ(lstrcmpW(file + length - 21, TEXT("\\conformance-save.log")), 0);
  EXPECT_EQ(lstrcmpW(file + dialog.nFileOffset, TEXT("conformance-save.log")), 0);
  EXPECT_EQ(lstrcmpW(file + dialog.nFileExtension, TEXT("log")), 0);
  EXPECT_EQ(lstrcmpW(title, TEXT("conformance-save.log")), 0);
}

}  // namespace
