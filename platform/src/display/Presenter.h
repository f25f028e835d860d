// Shows the screen to a person, or to no one: the screen's pixels go out
// through a presenter, and what the person does comes back as input events
// (InputQueue). The screen tells its presenter of every change; the
// presenter copies the pixels when it is ready to show them.
#pragma once

#include "win/types.h"

namespace handheld::detail {

class Presenter {
 public:
  virtual ~Presenter() = default;
  // The screen's pixels changed. Cheap and non-blocking; callers may hold
  // Surface::DrawingLock().
  virtual void ScreenChanged() = 0;
  // Waits until the screen as it stands now is shown; false after
  // `timeoutMs` without that.
  virtual bool WaitShown(DWORD timeoutMs) = 0;
  // Whether a person can see it (a window on a display).
  virtual bool OnDisplay() const { return false; }
};

}  // namespace handheld::detail
