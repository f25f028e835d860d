#include "MessageQueue.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "ProcessLifetime.h"
#include "Thread.h"
#include "win/core.h"
#include "win/messages.h"

namespace handheld::detail {
namespace {

struct HookSlot {
  std::mutex mutex;
  MessageQueue::WindowHooks hooks;
};

MessageQueue::WindowHooks Hooks() {
  HookSlot& slot = ProcessLifetime<HookSlot>::Get();
  std::lock_guard<std::mutex> lock(slot.mutex);
  return slot.hooks;
}

bool InRange(const MessageQueue::Filter& filter, UINT message) {
  if (filter.first == 0 && filter.last == 0) return true;
  return message >= filter.first && message <= filter.last;
}

constexpr UINT WM_PAINT_MESSAGE = 0x000Fu;  // WM_PAINT

bool ForWindow(const MessageQueue::Filter& filter, HWND hwnd) {
  return !filter.hwnd || filter.hwnd == hwnd;
}

}  // namespace

std::shared_ptr<MessageQueue> MessageQueue::Current() { return Thread::Current()->Queue(); }

void MessageQueue::Post(const MSG& msg) {
  std::lock_guard<std::mutex> lock(StateLock());
  posted_.push_back(msg);
  WakeWaiters();
}

void MessageQueue::PostQuit(int exitCode) {
  std::lock_guard<std::mutex> lock(StateLock());
  quit_ = true;
  exitCode_ = exitCode;
  WakeWaiters();
}

MessageQueue::Found MessageQueue::FindLocked(const Filter& filter, Clock::time_point now) const {
  if (filter.wakeMask & QS_POSTMESSAGE) {
    for (size_t i = 0; i < posted_.size(); ++i)
      if (ForWindow(filter, posted_[i].hwnd) && InRange(filter, posted_[i].message))
        return Found{Found::kPosted, i};
    if (quit_) return Found{Found::kQuit, 0};  // WM_QUIT passes every filter
  }
  if ((filter.wakeMask & QS_PAINT) && InRange(filter, WM_PAINT_MESSAGE)) {
    for (size_t i = 0; i < paints_.size(); ++i)
      if (ForWindow(filter, paints_[i])) return Found{Found::kPaint, i};
  }
  if ((filter.wakeMask & QS_TIMER) && InRange(filter, WM_TIMER)) {
    const Timer* first = nullptr;
    for (const Timer& timer : timers_) {
      if (timer.due > now || !ForWindow(filter, timer.hwnd)) continue;
      if (!first || timer.due < first->due) first = &timer;
    }
    if (first) return Found{Found::kTimer, static_cast<size_t>(first - timers_.data())};
  }
  return Found{};
}

bool MessageQueue::Take(const Filter& filter, bool remove, MSG* msg) {
  std::lock_guard<std::mutex> lock(StateLock());
  const Clock::time_point now = Clock::now();
  const Found found = FindLocked(filter, now);
  switch (found.kind) {
    case Found::kNone:
      return false;
    case Found::kPosted:
      *msg = posted_[found.index];
      if (remove) posted_.erase(posted_.begin() + static_cast<std::ptrdiff_t>(found.index));
      return true;
    case Found::kQuit:
      *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(exitCode_), 0, GetTickCount(), {}};
      if (remove) quit_ = false;
      return true;
    case Found::kPaint:
      // Stays until the window is validated.
      *msg = MSG{paints_[found.index], WM_PAINT_MESSAGE, 0, 0, GetTickCount(), {}};
      return true;
    case Found::kTimer: {
      Timer& timer = timers_[found.index];
      *msg = MSG{timer.hwnd, WM_TIMER, static_cast<WPARAM>(timer.id),
                 reinterpret_cast<LPARAM>(timer.proc), GetTickCount(), {}};
      // One WM_TIMER however late the queue is read; the period starts anew.
      if (remove) timer.due = now + timer.period;
      return true;
    }
  }
  return false;
}

void MessageQueue::SetWaitFilter(const Filter& filter) {
  std::lock_guard<std::mutex> lock(StateLock());
  waitFilter_ = filter;
}

bool MessageQueue::IsSignalled() const {
  if (!sent_.empty() && (waitFilter_.wakeMask & QS_SENDMESSAGE)) return true;
  return FindLocked(waitFilter_, Clock::now()).kind != Found::kNone;
}

void MessageQueue::PostSent(std::function<void()> task) {
  std::lock_guard<std::mutex> lock(StateLock());
  sent_.push_back(std::move(task));
  WakeWaiters();
}

bool MessageQueue::RunSent() {
  bool ran = false;
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard<std::mutex> lock(StateLock());
      if (sent_.empty()) return ran;
      task = std::move(sent_.front());
      sent_.pop_front();
    }
    task();  // the window procedure runs without the queue's lock
    ran = true;
  }
}

void MessageQueue::SetPaintPending(HWND hwnd, bool pending) {
  std::lock_guard<std::mutex> lock(StateLock());
  auto it = std::find(paints_.begin(), paints_.end(), hwnd);
  if (pending && it == paints_.end()) {
    paints_.push_back(hwnd);
    WakeWaiters();
  } else if (!pending && it != paints_.end()) {
    paints_.erase(it);
  }
}

std::optional<MessageQueue::Clock::time_point> MessageQueue::Deadline() const {
  if (!(waitFilter_.wakeMask & QS_TIMER) || !InRange(waitFilter_, WM_TIMER)) return std::nullopt;
  // Timers due already make the queue signalled; only future ones wake.
  const Clock::time_point now = Clock::now();
  std::optional<Clock::time_point> next;
  for (const Timer& timer : timers_) {
    if (timer.due <= now || !ForWindow(waitFilter_, timer.hwnd)) continue;
    if (!next || timer.due < *next) next = timer.due;
  }
  return next;
}

UINT_PTR MessageQueue::SetTimer(HWND hwnd, UINT_PTR id, UINT periodMs, TIMERPROC proc) {
  const Clock::duration period = std::chrono::milliseconds(std::max<UINT>(periodMs, 1));
  std::lock_guard<std::mutex> lock(StateLock());
  if (!hwnd) {
    id = nextTimerId_++;
  } else {
    auto it = std::find_if(timers_.begin(), timers_.end(),
                           [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    if (it != timers_.end()) timers_.erase(it);
  }
  timers_.push_back(Timer{hwnd, id, period, Clock::now() + period, proc});
  // A thread waiting on this queue takes the new deadline into account.
  Rewake();
  return id;
}

bool MessageQueue::KillTimer(HWND hwnd, UINT_PTR id) {
  std::lock_guard<std::mutex> lock(StateLock());
  auto it = std::find_if(timers_.begin(), timers_.end(),
                         [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
  if (it == timers_.end()) return false;
  timers_.erase(it);
  return true;
}

void MessageQueue::KillTimers(HWND hwnd) {
  std::lock_guard<std::mutex> lock(StateLock());
  timers_.erase(std::remove_if(timers_.begin(), timers_.end(),
                               [&](const Timer& t) { return t.hwnd == hwnd; }),
                timers_.end());
}

bool MessageQueue::HasTimer(HWND hwnd, UINT_PTR id, TIMERPROC proc) const {
  std::lock_guard<std::mutex> lock(StateLock());
  return std::any_of(timers_.begin(), timers_.end(), [&](const Timer& t) {
    return t.hwnd == hwnd && t.id == id && t.proc == proc;
  });
}

void MessageQueue::SetWindowHooks(WindowHooks hooks) {
  HookSlot& slot = ProcessLifetime<HookSlot>::Get();
  std::lock_guard<std::mutex> lock(slot.mutex);
  slot.hooks = std::move(hooks);
}

std::shared_ptr<MessageQueue> MessageQueue::QueueOfWindow(HWND hwnd) {
  WindowHooks hooks = Hooks();
  return hooks.queueOf ? hooks.queueOf(hwnd) : nullptr;
}

LRESULT MessageQueue::DispatchToWindow(const MSG& msg) {
  WindowHooks hooks = Hooks();
  return hooks.dispatch ? hooks.dispatch(msg) : 0;
}

}  // namespace handheld::detail
