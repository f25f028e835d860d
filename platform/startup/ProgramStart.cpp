// The handheld's run-time start-up for a program: after the static
// initialisers, WinMain with the program's instance, no previous instance,
// an empty command line (the handheld's programs here take no arguments)
// and SW_SHOW; its result is the process's exit code.
#include <windows.h>

int main() {
  static WCHAR commandLine[] = TEXT("");
  return WinMain(GetModuleHandle(nullptr), nullptr, commandLine, SW_SHOW);
}
