// Turns the presenter's taps and keys into the messages windows get. A tap
// on the top bar's "ok" button is the active window's IDOK; a tap outside
// an open popup menu (and its bar) closes it; other taps go to the window
// with the capture, else to the enabled window beneath, which holds the
// capture until the tap ends. Keys go to the focus when it lies in the
// active window, else to the active window, else to the main window; the
// modifier state and the characters typed are kept for GetKeyState and
// TranslateMessage. Every call is made under WindowManager's lock; the
// message is posted after it is let go.
#pragma once

#include <deque>
#include <memory>

#include "Clipping.h"
#include "InputQueue.h"
#include "Window.h"
#include "WindowTree.h"

namespace handheld::detail {

class InputRouter {
 public:
  InputRouter(WindowTree& tree, const Clipping& clipping) : tree_(tree), clipping_(clipping) {}

  // The window the event goes to (null for none) and its message, all but
  // `hwnd`, `time` and `pt`.
  std::shared_ptr<Window> Route(const InputEvent& event, MSG* msg);

  // The modifier state as the last key event left it.
  SHORT KeyState(int virtualKey) const;
  // The character typed with a key-down message, taken once.
  bool TakeCharacter(const MSG& msg, WCHAR* character);
  // Drops what is kept for a window that goes.
  void Forget(HWND hwnd);

 private:
  std::shared_ptr<Window> TapDown(POINT point, MSG* msg);
  // A tap on the top bar, where it shows: the "ok" button's IDOK, or none.
  bool TopBarTap(POINT point, std::shared_ptr<Window>* target, MSG* msg) const;
  // The open popup menu a tap at `point` closes, if any.
  std::shared_ptr<Window> PopupClosedBy(POINT point) const;
  std::shared_ptr<Window> Key(const InputEvent& event, MSG* msg);
  // The enabled window at `point`, the deepest child; none on a window a
  // modal dialog disabled.
  HWND WindowAt(POINT point) const;

  WindowTree& tree_;
  const Clipping& clipping_;
  bool shiftDown_ = false;
  bool controlDown_ = false;
  bool altDown_ = false;
  struct Typed {
    HWND hwnd;
    UINT virtualKey;
    WCHAR character;
  };
  std::deque<Typed> typed_;
};

}  // namespace handheld::detail
