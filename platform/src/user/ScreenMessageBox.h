// A message box drawn on the screen: a captioned box over the work area
// with the text (broken into lines) and a row of push buttons. Tapping a
// button, Enter (the default button), Escape (Cancel, or the one button of
// an OK box) and a remote answer (WM_COMMAND with the id) answer it. The
// owner is disabled while it is up. Made by the modal loop of MessageBox on
// the box's thread, which asks Answer() after each message.
#pragma once

#include <string>
#include <vector>

#include "win/user.h"

namespace handheld::detail {

class ScreenMessageBox {
 public:
  ScreenMessageBox(HWND owner, const std::u16string& text, const std::u16string& caption,
                   UINT type, std::vector<int> buttons, int defaultButton);
  ~ScreenMessageBox();
  ScreenMessageBox(const ScreenMessageBox&) = delete;
  ScreenMessageBox& operator=(const ScreenMessageBox&) = delete;

  bool shown() const { return hwnd_ != nullptr; }
  // The button chosen, or 0 while none is.
  int Answer() const;

  static constexpr const char16_t* kClassName = u"#MessageBox";

  // Whether the program's windows are shown on a display.
  static bool OnDisplay();
  // Whether boxes and dialogs of the system go on the screen: when shown
  // on a display, or when asked to (Force).
  static bool Wanted();
  static void Force(bool onScreen);

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  HWND hwnd_ = nullptr;
  HWND owner_ = nullptr;
  bool ownerWasEnabled_ = false;
};

}  // namespace handheld::detail
