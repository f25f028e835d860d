// The screen's controls for the host, tools and tests.
#include "Screen.h"
#include "handheld.h"

namespace handheld {

bool WriteScreenshot(const std::string& path) { return detail::Screen::Instance().WritePng(path); }

bool WaitScreenShown(DWORD timeoutMs) { return detail::Screen::Instance().WaitShown(timeoutMs); }

}  // namespace handheld
