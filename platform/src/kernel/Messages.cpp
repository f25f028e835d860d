// Posting, taking and dispatching messages, thread timers and the waits on
// a thread's queue.
#include <memory>
#include <vector>

#include "MessageQueue.h"
#include "Thread.h"
#include "win/core.h"
#include "win/messages.h"

using handheld::detail::MessageQueue;
using handheld::detail::ReportStatus;
using handheld::detail::Status;
using handheld::detail::Thread;
using handheld::detail::Waitable;

namespace {

constexpr DWORD kAllMessages = 0xFFFFFFFFu;

MessageQueue::Filter FilterOf(HWND hwnd, UINT first, UINT last) {
  return MessageQueue::Filter{hwnd, first, last, kAllMessages};
}

// The queue a timer of `hwnd` lives in: the calling thread's for a thread
// timer, the owner's for a window's.
std::shared_ptr<MessageQueue> TimerQueue(HWND hwnd) {
  return hwnd ? MessageQueue::QueueOfWindow(hwnd) : MessageQueue::Current();
}

}  // namespace

BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<Thread> thread = Thread::FromId(threadId);
  if (!thread || thread->Finished()) return ReportStatus(ERROR_INVALID_THREAD_ID);
  thread->Queue()->Post(MSG{nullptr, message, wParam, lParam, GetTickCount(), {}});
  return TRUE;
}

void PostQuitMessage(int exitCode) { MessageQueue::Current()->PostQuit(exitCode); }

BOOL GetMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax) {
  if (!msg) {
    ReportStatus(ERROR_INVALID_PARAMETER);
    return -1;
  }
  std::shared_ptr<MessageQueue> queue = MessageQueue::Current();
  const MessageQueue::Filter filter = FilterOf(hwnd, filterMin, filterMax);
  const std::vector<std::shared_ptr<Waitable>> objects{queue};
  for (;;) {
    queue->RunSent();
    if (queue->Take(filter, true, msg)) break;
    queue->SetWaitFilter(filter);
    Waitable::Wait(objects, false, INFINITE);
  }
  return msg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL PeekMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
  if (!msg) return ReportStatus(ERROR_INVALID_PARAMETER);
  MessageQueue::Current()->RunSent();
  return MessageQueue::Current()->Take(FilterOf(hwnd, filterMin, filterMax),
                                       (removeFlags & PM_REMOVE) != 0, msg)
             ? TRUE
             : FALSE;
}

LRESULT DispatchMessageW(const MSG* msg) {
  if (!msg) return 0;
  if (msg->message == WM_TIMER && msg->lParam) {
    auto proc = reinterpret_cast<TIMERPROC>(msg->lParam);
    std::shared_ptr<MessageQueue> queue = TimerQueue(msg->hwnd);
    if (queue && queue->HasTimer(msg->hwnd, static_cast<UINT_PTR>(msg->wParam), proc))
      proc(msg->hwnd, WM_TIMER, static_cast<UINT_PTR>(msg->wParam), GetTickCount());
    return 0;
  }
  return msg->hwnd ? MessageQueue::DispatchToWindow(*msg) : 0;
}

DWORD MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, DWORD ms, DWORD wakeMask,
                                  DWORD flags) {
  std::vector<std::shared_ptr<Waitable>> objects;
  // One slot stays for the queue.
  if (count >= MAXIMUM_WAIT_OBJECTS || (count > 0 && !handles)) {
    ReportStatus(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  const bool waitAll = (flags & MWMO_WAITALL) != 0;
  if (count > 0) {
    if (Status status = Waitable::Collect(count, handles, waitAll, &objects); !status.ok()) {
      ReportStatus(status);
      return WAIT_FAILED;
    }
  }
  std::shared_ptr<MessageQueue> queue = MessageQueue::Current();
  queue->SetWaitFilter(MessageQueue::Filter{nullptr, 0, 0, wakeMask});
  objects.push_back(queue);
  return Waitable::Wait(objects, waitAll, ms);
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms,
                                DWORD wakeMask) {
  return MsgWaitForMultipleObjectsEx(count, handles, ms, wakeMask, waitAll ? MWMO_WAITALL : 0);
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
  std::shared_ptr<MessageQueue> queue = TimerQueue(hwnd);
  if (!queue) {
    ReportStatus(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return queue->SetTimer(hwnd, id, elapse, proc);
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  std::shared_ptr<MessageQueue> queue = TimerQueue(hwnd);
  if (!queue) return ReportStatus(ERROR_INVALID_WINDOW_HANDLE);
  if (!queue->KillTimer(hwnd, id)) return ReportStatus(ERROR_INVALID_PARAMETER);
  return TRUE;
}
