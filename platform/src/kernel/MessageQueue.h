// A thread's message queue: posted messages, the quit request and the
// thread's timers. It is a waitable object, signalled while a message that
// passes the owner's current filter can be taken, and its earliest timer is
// a deadline inside every wait on it, so a message loop sleeps until a
// message, a timer or a handle is due and never polls.
//
// Only the owning thread takes messages and waits on its queue; any thread
// may post. Window messages are the window system's: a posted message may
// carry an HWND, and DispatchMessage hands those to the dispatcher it
// installs (SetWindowDispatcher).
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "Waitable.h"
#include "win/types.h"

namespace handheld::detail {

class MessageQueue : public Waitable {
 public:
  using Clock = std::chrono::steady_clock;

  // What a wait or a take accepts: messages between `first` and `last`
  // (0, 0: all) for `hwnd` (null: all), of the kinds in `wakeMask` (QS_*).
  struct Filter {
    HWND hwnd = nullptr;
    UINT first = 0;
    UINT last = 0;
    DWORD wakeMask = 0xFFFFFFFFu;
  };

  // The calling thread's queue, made on first use.
  static std::shared_ptr<MessageQueue> Current();

  void Post(const MSG& msg);
  void PostQuit(int exitCode);
  // Takes (or, with `remove` false, copies) the first message passing
  // `filter`. False when there is none.
  bool Take(const Filter& filter, bool remove, MSG* msg);
  // Messages sent from other threads (SendMessage): each is run by the
  // owner when it next takes or waits for messages, before any posted one.
  void PostSent(std::function<void()> task);
  // Runs the sent messages waiting now; false when there were none.
  bool RunSent();

  // Windows of the owner that need painting: WM_PAINT comes after posted
  // messages and before timers, and stays until the window is validated.
  void SetPaintPending(HWND hwnd, bool pending);

  // The filter that makes the queue signalled while its owner waits on it
  // (GetMessage, MsgWaitForMultipleObjects); set before each wait.
  void SetWaitFilter(const Filter& filter);

  // Timers: a new one (id 0 for a thread timer picks a fresh id) or, for an
  // id the window has already, a restart with the new period. Returns the id.
  UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT periodMs, TIMERPROC proc);
  bool KillTimer(HWND hwnd, UINT_PTR id);
  void KillTimers(HWND hwnd);  // every timer of a window that goes
  // Whether the timer (hwnd, id) runs with `proc`: DispatchMessage calls
  // only the procedures of live timers, never an address a message carries.
  bool HasTimer(HWND hwnd, UINT_PTR id, TIMERPROC proc) const;

  // What the window system plugs in for messages that name a window.
  struct WindowHooks {
    // The queue of the thread that owns `hwnd`; null when it is no window.
    std::function<std::shared_ptr<MessageQueue>(HWND)> queueOf;
    // Hands a message to its window's procedure.
    std::function<LRESULT(const MSG&)> dispatch;
  };
  static void SetWindowHooks(WindowHooks hooks);
  static std::shared_ptr<MessageQueue> QueueOfWindow(HWND hwnd);  // null without hooks
  static LRESULT DispatchToWindow(const MSG& msg);                 // 0 without hooks

 protected:
  bool IsSignalled() const override;
  std::optional<Clock::time_point> Deadline() const override;

 private:
  struct Timer {
    HWND hwnd;
    UINT_PTR id;
    Clock::duration period;
    Clock::time_point due;
    TIMERPROC proc;
  };
  // Where the first message passing a filter is.
  struct Found {
    enum Kind { kNone, kPosted, kQuit, kPaint, kTimer } kind = kNone;
    size_t index = 0;  // in posted_, paints_ or timers_
  };
  // Under StateLock.
  Found FindLocked(const Filter& filter, Clock::time_point now) const;

  // Under StateLock.
  std::deque<MSG> posted_;
  bool quit_ = false;
  int exitCode_ = 0;
  std::vector<Timer> timers_;
  std::vector<HWND> paints_;
  std::deque<std::function<void()>> sent_;
  UINT_PTR nextTimerId_ = 1;
  Filter waitFilter_;
};

}  // namespace handheld::detail
