// A program with a window for the remote-control tests: class "POSTTEST",
// a push button (id 300) at (20, 20) of its client area, 100 x 30. It
// prints "ready" once its window is up, then one line per command it
// receives ("command <id>"); command 40005 shows an OK/Cancel box on the
// screen and prints "box <answer>"; 40002 ends it.
#include <cstdio>

#include "handheld.h"

namespace {

LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      std::printf("command %u\n", static_cast<unsigned>(LOWORD(wParam)));
      std::fflush(stdout);
      if (LOWORD(wParam) == 40005) {
        std::printf("box %d\n", MessageBoxW(hwnd, u"Replace the log?", u"Quelmar", MB_OKCANCEL));
        std::fflush(stdout);
      }
      if (LOWORD(wParam) == 40002) DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

}  // namespace

int main() {
  handheld::ShowMessageBoxesOnScreen(true);
  WNDCLASSW wc{};
  wc.lpfnWndProc = Proc;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_WINDOW + 1));
  wc.lpszClassName = u"POSTTEST";
  if (!RegisterClassW(&wc)) return 1;
  HWND hwnd = CreateWindowExW(WS_EX_CAPTIONOKBTN, u"POSTTEST", u"Remote", WS_VISIBLE,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!hwnd) return 1;
  CreateWindowExW(0, u"BUTTON", u"Press", WS_CHILD | WS_VISIBLE, 20, 20, 100, 30, hwnd,
                  reinterpret_cast<HMENU>(static_cast<uintptr_t>(300)), nullptr, nullptr);
  UpdateWindow(hwnd);
  std::printf("ready\n");
  std::fflush(stdout);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}
