// A program's resources as the viewer reads them (ResourceCallsTest.rc):
// strings into bounded buffers, its icon, its accelerators turning keys
// into commands, a dialog template found, loaded and run, raw bytes.
#include <cstring>
#include <vector>

#include "Conformance.h"
#include "ResourceCallsIds.h"

namespace {

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

struct StringRead {
  UINT id;
  int room;  // characters, terminator included
  int count;
  const WCHAR* text;
};

TEST(Resources, StringsFillTheirBufferAsFarAsItGoesAndCountWhatTheyGave) {
  const StringRead reads[] = {
      {IDS_FIRST_BLOCK_LAST, 64, 23, TEXT("Last of the first block")},
      {IDS_FIRST_BLOCK_LAST, 24, 23, TEXT("Last of the first block")},  // just enough
      {IDS_FIRST_BLOCK_LAST, 23, 22, TEXT("Last of the first bloc")},
      {IDS_FIRST_BLOCK_LAST, 2, 1, TEXT("L")},
      {IDS_SECOND_BLOCK_FIRST, 64, 7, TEXT("QUELMAR")},
      {IDS_SECOND_BLOCK_THIRD, 64, 7, TEXT("Third \x00e9")},
      {IDS_FOURTH_BLOCK, 64, 5, TEXT("Fifty")},
  };
  for (const StringRead& read : reads) {
    SCOPED_TRACE(::testing::Message() << "string " << read.id << " into " << read.room);
    WCHAR buffer[65];
    for (WCHAR& c : buffer) c = L'#';
    EXPECT_EQ(LoadStringW(Instance(), read.id, buffer, read.room), read.count);
    EXPECT_EQ(lstrcmpW(buffer, read.text), 0);
    EXPECT_EQ(buffer[read.room], L'#') << "written beyond the room given";
  }
  // A string the block lacks, and one of a block there is not.
  for (UINT missing : {IDS_GAP, IDS_NO_BLOCK}) {
    WCHAR buffer[16];
    EXPECT_EQ(LoadStringW(Instance(), missing, buffer, 16), 0) << missing;
  }
}

TEST(Resources, TheIconAndAcceleratorsAreFoundByTheirIds) {
  EXPECT_NE(LoadIconW(Instance(), MAKEINTRESOURCEW(IDI_CASE)), nullptr);
  EXPECT_EQ(LoadIconW(Instance(), MAKEINTRESOURCEW(999)), nullptr);
  EXPECT_NE(LoadAcceleratorsW(Instance(), MAKEINTRESOURCEW(IDR_CASE_ACCELERATORS)), nullptr);
  SetLastError(0);
  EXPECT_EQ(LoadAcceleratorsW(Instance(), MAKEINTRESOURCEW(999)), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
}

// The commands the case's window was sent.
std::vector<WPARAM> commands;

LRESULT CALLBACK CommandProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND) {
    commands.push_back(wParam);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

struct KeyPress {
  UINT message;
  WPARAM key;
  LPARAM flags;
  bool translated;
  WORD command;
};

TEST(Resources, AcceleratorsTurnTheirKeysIntoCommandsForTheWindowGiven) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = CommandProc;
  wc.hInstance = Instance();
  wc.lpszClassName = TEXT("ConformanceAccelerators");
  static const ATOM registered = RegisterClassW(&wc);  // once, however often the case runs
  ASSERT_NE(registered, 0);
  HWND window = CreateWindowExW(0, wc.lpszClassName, TEXT("Accelerators"), WS_POPUP, 0, 0, 50, 50,
                                nullptr, nullptr, Instance(), nullptr);
  ASSERT_NE(window, nullptr);
  HACCEL table = LoadAcceleratorsW(Instance(), MAKEINTRESOURCEW(IDR_CASE_ACCELERATORS));
  ASSERT_NE(table, nullptr);
  // (Alt+F4 is not compared: a message made up here carries no key state,
  // and implementations differ in where they read whether Alt is down.)
  const KeyPress presses[] = {
      {WM_KEYDOWN, VK_F5, 1, true, IDM_CASE_REFRESH},
      {WM_KEYDOWN, VK_F4, 1, false, 0},  // F4 without Alt
      {WM_KEYDOWN, VK_F6, 1, false, 0},  // a key of no entry
      {WM_KEYUP, VK_F5, 1, false, 0},    // the key's release
  };
  for (const KeyPress& press : presses) {
    SCOPED_TRACE(::testing::Message() << "message " << press.message << " key " << press.key);
    commands.clear();
    MSG msg{window, press.message, press.key, press.flags, 0, {0, 0}};
    EXPECT_EQ(TranslateAcceleratorW(window, table, &msg) != 0, press.translated);
    if (press.translated) {
      ASSERT_EQ(commands.size(), 1u);
      EXPECT_EQ(LOWORD(commands[0]), press.command);
      EXPECT_EQ(HIWORD(commands[0]), 1) << "from an accelerator";
    } else {
      EXPECT_TRUE(commands.empty());
    }
  }
  EXPECT_TRUE(DestroyWindow(window));
}

struct DialogRun {
  WCHAR caption[32] = {};
  WCHAR line[32] = {};
};

DIALOG_RESULT CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* run = reinterpret_cast<DialogRun*>(lParam);
    GetWindowTextW(dialog, run->caption, 32);
    GetWindowTextW(GetDlgItem(dialog, IDC_CASE_LINE), run->line, 32);
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    return TRUE;
  }
  if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
    EndDialog(dialog, 7);
    return TRUE;
  }
  return FALSE;
}

// The viewer finds its "Firmware Info" dialog's template this way and runs
// it with DialogBoxIndirectParam.
TEST(Resources, ADialogTemplateFoundAndLoadedRuns) {
  HRSRC found = FindResourceW(Instance(), MAKEINTRESOURCEW(IDD_CASE_DIALOG), RT_DIALOG);
  ASSERT_NE(found, nullptr) << GetLastError();
  HGLOBAL loaded = LoadResource(Instance(), found);
  ASSERT_NE(loaded, nullptr);
  const auto* dialog = static_cast<const DLGTEMPLATE*>(LockResource(loaded));
  ASSERT_NE(dialog, nullptr);
  EXPECT_GE(SizeofResource(Instance(), found), sizeof(DLGTEMPLATE));
  EXPECT_EQ(dialog->cdit, 2);
  EXPECT_EQ(dialog->cx, 103);
  DialogRun run;
  EXPECT_EQ(DialogBoxIndirectParamW(Instance(), dialog, nullptr, DialogProc,
                                    reinterpret_cast<LPARAM>(&run)),
            7);
  EXPECT_EQ(lstrcmpW(run.caption, TEXT("Resource Dialog")), 0);
  EXPECT_EQ(lstrcmpW(run.line, TEXT("-------")), 0);
}

TEST(Resources, RawBytesComeAsCompiledAndMissingOnesWithTheirReason) {
  HRSRC found = FindResourceW(Instance(), MAKEINTRESOURCEW(IDR_CASE_BYTES), RT_RCDATA);
  ASSERT_NE(found, nullptr) << GetLastError();
  const BYTE expected[] = {0x01, 0x02, 0x03, 0x04, 'a', 'b'};
  ASSERT_EQ(SizeofResource(Instance(), found), sizeof expected);
  const void* bytes = LockResource(LoadResource(Instance(), found));
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(std::memcmp(bytes, expected, sizeof expected), 0);

  SetLastError(0);
  EXPECT_EQ(FindResourceW(Instance(), MAKEINTRESOURCEW(999), RT_DIALOG), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  SetLastError(0);
  EXPECT_EQ(FindResourceW(Instance(), MAKEINTRESOURCEW(IDD_CASE_DIALOG), RT_MENU), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
}

}  // namespace
