// Device contexts of windows: the window manager says where a window may
// draw, the drawing side makes the device context (GetDC, BeginPaint). It
// is released with ReleaseDC.
#pragma once

#include <vector>

#include "win/gdi.h"

namespace handheld::detail {

HDC CreateWindowDC(POINT origin, std::vector<RECT> visible);

}  // namespace handheld::detail
