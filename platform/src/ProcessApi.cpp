// Ending the process at once.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "ControlChannel.h"
#include "handheld.h"

void ExitProcess(UINT exitCode) {
  const char* screenshot = std::getenv("HANDHELD_SCREENSHOT");
  if (screenshot && *screenshot && !handheld::WriteScreenshot(screenshot))
    std::fprintf(stderr, "handheld: cannot write the screenshot %s\n", screenshot);
  handheld::detail::ControlChannel::RemoveSocket();
  std::fflush(nullptr);
  // No destructors, no exit handlers: threads still running (a serial
  // reader) find nothing torn down under them, as on the device.
  _exit(static_cast<int>(exitCode));
}
