// What the window manager draws itself, around and above the windows: a
// top-level window's frame and caption, the top bar with the active
// window's title and its "ok" button, the wait cursor and the desktop's
// white. Called without WindowManager's lock, with what to draw and where
// it shows (screen coordinates), as gathered under it.
#pragma once

#include <string>
#include <vector>

#include "win/user.h"

namespace handheld::detail {

class WindowFrames {
 public:
  struct Frame {
    RECT rect;    // the window
    RECT client;  // its client area
    bool hasCaption;
    std::u16string caption;
    std::vector<RECT> shown;  // where the frame shows
  };
  static void DrawFrame(Frame frame);

  struct TopBar {
    std::u16string title;  // the active window's
    bool okButton;
    std::vector<RECT> shown;  // where the bar shows
  };
  static void DrawTopBar(TopBar bar);

  // A disc of four quarters in the middle of the screen.
  static void DrawWaitCursor();
  static void FillDesktop(const std::vector<RECT>& parts);
};

}  // namespace handheld::detail
