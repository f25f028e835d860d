// The system's window classes: static text ("STATIC"), push buttons
// ("BUTTON"), single-line edit fields ("EDIT") and dialogs ("#32770").
// Controls draw in the dialog's font (WM_SETFONT) on the window colour;
// a push button that is tapped (down and up on it) or sent BM_CLICK sends
// WM_COMMAND (id, BN_CLICKED) to its parent.
#pragma once

#include <vector>

#include "Window.h"
#include "win/user.h"

namespace handheld::detail {

class Controls {
 public:
  struct SystemClass {
    WNDCLASSW wc;
    WindowRole role;
  };
  static std::vector<SystemClass> Classes();
  static constexpr const char16_t* kDialogClass = u"#32770";
};

}  // namespace handheld::detail
