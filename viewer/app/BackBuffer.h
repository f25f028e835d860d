#pragma once

#include <windows.h>

#include "DisplaySnapshot.h"

// The off-screen picture of the main window's client area, through which
// every repaint goes: the page is drawn whole into it and copied to the
// window in one block transfer, so nothing flickers. Made once, at the
// size the client area has then; it lives as long as the program.
class BackBuffer {
 public:
  static void Make(HWND window);
  // Fills the picture with the window colour, draws the status page into
  // it and copies it to the window at (0, 0).
  static void RenderAndBlit(const DisplaySnapshot& snapshot);

 private:
  BackBuffer() = delete;

  static HBITMAP bitmap;
  static HWND window;
  static RECT clientRect;  // as it was when the picture was made
};
