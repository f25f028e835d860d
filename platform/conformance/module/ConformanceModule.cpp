// A module for the conformance cases to load, as the setup plug-in loads
// the sleeve's library: its entry declines the per-thread calls, as the
// programs' modules do, and counts the calls it gets.
#include <windows.h>

namespace {

LONG processAttaches = 0;
LONG threadAttaches = 0;
BOOL threadCallsDeclined = FALSE;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    ++processAttaches;
    threadCallsDeclined = DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_THREAD_ATTACH) {
    ++threadAttaches;
  }
  return TRUE;
}

// The process attaches in bits 0-7, the thread attaches in bits 8-15, and
// whether DisableThreadLibraryCalls succeeded in bit 16.
extern "C" DWORD ConformanceModuleState() {
  return static_cast<DWORD>(processAttaches & 0xFF) |
         static_cast<DWORD>(threadAttaches & 0xFF) << 8 |
         static_cast<DWORD>(threadCallsDeclined ? 1 : 0) << 16;
}
