// Where the window manager's parts of the screen lie. The top bar covers
// y 0..26 unless the active window asked to hide it (SHFullScreen); the
// work area, which CW_USEDEFAULT gives a top-level window, is y 26..294; a
// command bar lies in the band 294..320; the wait cursor shows in the
// middle of the screen.
#pragma once

#include "Screen.h"
#include "win/user.h"

namespace handheld::detail {

struct ScreenLayout {
  static constexpr int kTopBarHeight = 26;
  static constexpr int kCommandBarHeight = 26;
  static constexpr int kCaptionHeight = 18;  // a dialog's own caption
  static constexpr int kWaitCursorSize = 32;

  static constexpr RECT kScreen{0, 0, Screen::kWidth, Screen::kHeight};
  static constexpr RECT kTopBar{0, 0, Screen::kWidth, kTopBarHeight};
  static constexpr RECT kWorkArea{0, kTopBarHeight, 240, 320 - kCommandBarHeight};
  static constexpr RECT kOkButton{204, 4, 236, 22};  // in the top bar
  static constexpr RECT kWaitCursor{(Screen::kWidth - kWaitCursorSize) / 2,
                                    (Screen::kHeight - kWaitCursorSize) / 2,
                                    (Screen::kWidth + kWaitCursorSize) / 2,
                                    (Screen::kHeight + kWaitCursorSize) / 2};
};

}  // namespace handheld::detail
