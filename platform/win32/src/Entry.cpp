// Desktop Windows starts a program with a wide command line at wWinMain;
// the handheld's programs begin at WinMain.
#include <windows.h>

extern "C" int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine,
                               int show) {
  return HandheldWinMain(instance, previous, commandLine, show);
}
