// Ending the process at once.
#include <unistd.h>

#include <cstdio>

#include "ExitHooks.h"
#include "handheld.h"

void ExitProcess(UINT exitCode) {
  handheld::detail::ExitHooks::RunAll();
  std::fflush(nullptr);
  // No destructors, no exit handlers: threads still running (a serial
  // reader) find nothing torn down under them, as on the device.
  _exit(static_cast<int>(exitCode));
}
