// Where windows may draw and what needs drawing again. A window's visible
// region is its area less its visible children, the siblings above it and
// above each of its ancestors, the top-level windows above it and the
// screen's parts that lie above every window: the top bar (unless the
// active window hides it) and the wait cursor while it shows. What is
// invalidated or exposed is gathered into each window's update rectangle.
// Every call is made under WindowManager's lock.
#pragma once

#include <vector>

#include "Window.h"
#include "WindowTree.h"

namespace handheld::detail {

class Clipping {
 public:
  explicit Clipping(const WindowTree& tree) : tree_(tree) {}

  // The top bar lies above every window, or beneath them all while the
  // active window asked for the full screen; either way it shows, and
  // takes taps, where no window covers it.
  bool TopBarAbove() const;
  bool WaitCursorShown() const { return waitCursor_; }
  void SetWaitCursor(bool shown) { waitCursor_ = shown; }

  // The parts of `rect` (screen) no top-level window covers.
  std::vector<RECT> Uncovered(const RECT& rect) const;
  // The parts of `area` (screen) where `window` shows.
  std::vector<RECT> Visible(const Window& window, const RECT& area) const;

  // Adds `rect` (client coordinates, null for the whole client area) to
  // the window's update rectangle and to its children's beneath it.
  void Invalidate(Window& window, const RECT* rect, bool erase) const;
  void Validate(Window& window, const RECT* rect) const;
  // Takes the update rectangle (empty when nothing was invalid) and
  // whether it asked for erasing.
  RECT TakeUpdate(Window& window, bool* erase) const;
  // Everything beneath `rect` (screen) is drawn again: the top-level
  // windows there are invalidated. Gives the parts that show the desktop.
  std::vector<RECT> Expose(const RECT& rect) const;

 private:
  // Takes from `region` the siblings above `window` and above each of its
  // ancestors, and the top-level windows above its own.
  void SubtractAbove(const Window& window, std::vector<RECT>* region) const;

  const WindowTree& tree_;
  bool waitCursor_ = false;
};

}  // namespace handheld::detail
