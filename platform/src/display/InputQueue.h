// What a person does on the shown screen, in order: taps (mouse button 1
// on the scaled window, in screen pixels), keys (virtual-key codes with the
// character they type, if any) and the request to close the program. The
// presenter pushes events; the window system takes them. A listener set by
// the window system is called after every push, without locks held.
#pragma once

#include <functional>

#include "win/types.h"

namespace handheld::detail {

struct InputEvent {
  enum class Kind { kTapDown, kTapMove, kTapUp, kKeyDown, kKeyUp, kClose };
  Kind kind;
  int x = 0;  // taps: screen pixels
  int y = 0;
  UINT virtualKey = 0;  // keys: VK_ codes
  WCHAR character = 0;  // keys down: the character typed, 0 for none
  bool alt = false;
  bool shift = false;
  bool control = false;
};

class InputQueue {
 public:
  static constexpr size_t kCapacity = 256;  // older events are dropped beyond it

  static void Push(const InputEvent& event);
  // The oldest event; false when there is none.
  static bool Take(InputEvent* event);
  static void SetListener(std::function<void()> listener);
};

}  // namespace handheld::detail
