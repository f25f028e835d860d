// Quelmar, the GPS sleeve's status viewer.
#include <windows.h>

#include "MainWindow.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int show) {
  if (!MainWindow::Startup(instance, show)) return 0;
  HACCEL accelerators = LoadAccelerators(instance, MAKEINTRESOURCE(MainWindow::kAccelerators));
  MSG message;
  while (GetMessage(&message, nullptr, 0, 0)) {
    if (!TranslateAccelerator(message.hwnd, accelerators, &message)) {
      TranslateMessage(&message);
      DispatchMessage(&message);
    }
  }
  return static_cast<int>(message.wParam);
}
