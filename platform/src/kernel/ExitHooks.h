// The work the layers above the kernel want done when ExitProcess ends the
// process at once (no destructors, no atexit handlers run then): the
// screenshot, the removal of the remote control's sockets. Hooks run in the
// order they were added, each once per Add. Safe to call from any thread.
#pragma once

namespace handheld::detail {

class ExitHooks {
 public:
  static constexpr int kMaxHooks = 16;
  using Hook = void (*)();

  // False when kMaxHooks are added already.
  static bool Add(Hook hook);
  static void RunAll();
};

}  // namespace handheld::detail
