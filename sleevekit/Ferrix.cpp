// The library's entry point. Ferrix keeps no state, so it only declines the
// per-thread attach and detach calls.
#include "Ferrix.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
