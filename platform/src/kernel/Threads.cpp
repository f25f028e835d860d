// Thread creation, identity, exit codes and priorities.
#include "Thread.h"
#include "handheld.h"
#include "win/core.h"

using handheld::detail::HandleTable;
using handheld::detail::Thread;

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID param,
                    DWORD flags, LPDWORD threadId) {
  if (!start) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto thread = Thread::Create(start, param, 1);
  // The handle exists before the routine runs, so it can close it itself.
  HANDLE handle = HandleTable::Add(thread);
  if (!handle) return nullptr;
  if (threadId) *threadId = thread->Id();
  if (!(flags & CREATE_SUSPENDED) && thread->Resume() == 0xFFFFFFFFu) {
    (void)HandleTable::Remove(handle);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return handle;
}

DWORD ResumeThread(HANDLE h) {
  auto thread = Thread::FromHandle(h);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0xFFFFFFFFu;
  }
  DWORD previous = thread->Resume();
  if (previous == 0xFFFFFFFFu) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return previous;
}

HANDLE GetCurrentThread() { return Thread::kCurrentThreadPseudoHandle; }

DWORD GetCurrentThreadId() { return Thread::Current()->Id(); }

BOOL GetExitCodeThread(HANDLE h, LPDWORD exitCode) {
  auto thread = Thread::FromHandle(h);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!exitCode) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *exitCode = thread->ExitCode();
  return TRUE;
}

BOOL SetThreadPriority(HANDLE h, int priority) {
  if (priority < THREAD_PRIORITY_TIME_CRITICAL || priority > THREAD_PRIORITY_IDLE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return CeSetThreadPriority(h, Thread::kFirstScaledPriority + priority);
}

int GetThreadPriority(HANDLE h) {
  int priority = CeGetThreadPriority(h);
  if (priority == THREAD_PRIORITY_ERROR_RETURN) return priority;
  // Priorities above the eight scaled ones read as the highest of those.
  if (priority < Thread::kFirstScaledPriority) return THREAD_PRIORITY_TIME_CRITICAL;
  return priority - Thread::kFirstScaledPriority;
}

BOOL CeSetThreadPriority(HANDLE h, int priority) {
  if (priority < 0 || priority > 255) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto thread = Thread::FromHandle(h);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  thread->SetPriority(priority);
  return TRUE;
}

int CeGetThreadPriority(HANDLE h) {
  auto thread = Thread::FromHandle(h);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return THREAD_PRIORITY_ERROR_RETURN;
  }
  return thread->Priority();
}

namespace handheld {

std::vector<int> RunningThreadPriorities() { return Thread::RunningPriorities(); }

}  // namespace handheld
