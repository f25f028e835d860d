// A remote control of Quelmar for its test under Wine, run in the same
// Wine as the viewer: posts command messages to a window found by class
// or title, reads window texts and answers the save-file dialog. Each
// command waits up to 10 seconds for its window and fails with status 1
// without it.
//   quelmar-remote command CLASS ID     posts WM_COMMAND ID to the window
//   quelmar-remote title CLASS          prints the window's title
//   quelmar-remote text TITLE ID        prints the text of control ID of
//                                       the window titled TITLE
//   quelmar-remote press TITLE ID       posts WM_COMMAND ID to it
//   quelmar-remote save TITLE PATH      types PATH into the file dialog
//                                       titled TITLE and presses its OK
//   quelmar-remote gone TITLE           waits until no window is titled TITLE
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

const DWORD kWaitMs = 10000;
const DWORD kStepMs = 50;
// The file name field of the file dialogs: the explorer's combo box, the
// older dialog's edit field.
const int kFileNameCombo = 0x47C;
const int kFileNameEdit = 0x480;

HWND FindSoon(LPCWSTR className, LPCWSTR title) {
  for (DWORD waited = 0;; waited += kStepMs) {
    // A dialog is found once its initialisation is over and it is shown.
    HWND found = FindWindowW(className, title);
    if ((found != nullptr && IsWindowVisible(found)) || waited >= kWaitMs) return found;
    Sleep(kStepMs);
  }
}

void PrintText(HWND window) {
  WCHAR text[512] = {};
  GetWindowTextW(window, text, 512);
  char narrow[1024] = {};
  WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
  std::printf("%s\n", narrow);
}

int Fail(LPCWSTR what, LPCWSTR name) {
  std::fwprintf(stderr, L"quelmar-remote: %ls %ls not found\n", what, name);
  return 1;
}

int Save(HWND dialog, LPCWSTR path) {
  HWND field = GetDlgItem(dialog, kFileNameCombo);
  if (field == nullptr) field = GetDlgItem(dialog, kFileNameEdit);
  if (field == nullptr) return Fail(L"file name field of", L"the dialog");
  SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path));
  HWND ok = GetDlgItem(dialog, IDOK);
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fwprintf(stderr, L"usage: quelmar-remote command|title|text|press|save|gone NAME [ARG]\n");
    return 2;
  }
  const std::wstring verb = argv[1];
  LPCWSTR name = argv[2];
  LPCWSTR argument = argc > 3 ? argv[3] : L"";
  const bool byClass = verb == L"command" || verb == L"title";
  if (verb == L"gone") {
    for (DWORD waited = 0; FindWindowW(nullptr, name) != nullptr; waited += kStepMs) {
      if (waited >= kWaitMs) return Fail(L"still there:", name);
      Sleep(kStepMs);
    }
    return 0;
  }
  HWND window = byClass ? FindSoon(name, nullptr) : FindSoon(nullptr, name);
  if (window == nullptr) return Fail(L"window", name);
  const int id = static_cast<int>(std::wcstol(argument, nullptr, 10));
  if (verb == L"command" || verb == L"press")
    return PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0) ? 0 : 1;
  if (verb == L"title") {
    PrintText(window);
    return 0;
  }
  if (verb == L"text") {
    HWND control = GetDlgItem(window, id);
    if (control == nullptr) return Fail(L"control", argument);
    PrintText(control);
    return 0;
  }
  if (verb == L"save") return Save(window, argument);
  return 2;
}
