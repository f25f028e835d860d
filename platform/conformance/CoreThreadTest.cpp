// Threads: start, suspension, exit codes, identity, priorities and waits.

#include <atomic>
#include <set>

#include "Conformance.h"

namespace {

using conformance::Thread;
using conformance::WString;

DWORD ReturnParam(LPVOID param) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(param)); }

struct Gate {
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<DWORD> id{0};
  std::atomic<int> priorityInside{-100};
  ~Gate() {
    CloseHandle(go);
    CloseHandle(started);
  }
};

DWORD WaitAtGate(LPVOID param) {
  auto* gate = static_cast<Gate*>(param);
  gate->id = GetCurrentThreadId();
  SetEvent(gate->started);
  WaitForSingleObject(gate->go, INFINITE);
  gate->priorityInside = GetThreadPriority(GetCurrentThread());
  return 77;
}

TEST(CoreThreads, RunsTheRoutineAndSignalsItsHandleWithTheExitCode) {
  Gate gate;
  DWORD id = 0;
  HANDLE t = CreateThread(nullptr, 0, WaitAtGate, &gate, 0, &id);
  ASSERT_NE(t, nullptr);
  EXPECT_NE(id, 0u);
  ASSERT_EQ(WaitForSingleObject(gate.started, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(gate.id, id);
  EXPECT_NE(id, GetCurrentThreadId());
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(t, &code));
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(WaitForSingleObject(t, 20), WAIT_TIMEOUT);
  SetEvent(gate.go);
  EXPECT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0);  // stays signalled
  EXPECT_TRUE(GetExitCodeThread(t, &code));
  EXPECT_EQ(code, 77u);
  EXPECT_TRUE(CloseHandle(t));
  EXPECT_FALSE(GetExitCodeThread(t, &code));
}

TEST(CoreThreads, SuspendedThreadRunsOnlyAfterResume) {
  Gate gate;
  HANDLE t = CreateThread(nullptr, 0, WaitAtGate, &gate, CREATE_SUSPENDED, nullptr);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(WaitForSingleObject(gate.started, 100), WAIT_TIMEOUT);
  EXPECT_EQ(ResumeThread(t), 1u);
  EXPECT_EQ(WaitForSingleObject(gate.started, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(ResumeThread(t), 0u);  // not suspended any more
  SetEvent(gate.go);
  EXPECT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
  CloseHandle(t);
  EXPECT_EQ(ResumeThread(t), 0xFFFFFFFFu);
}

TEST(CoreThreads, AHandleClosedAtOnceLeavesTheThreadRunning) {
  Gate gate;
  HANDLE t = CreateThread(nullptr, 0, WaitAtGate, &gate, 0, nullptr);
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(CloseHandle(t));
  ASSERT_EQ(WaitForSingleObject(gate.started, 5000), WAIT_OBJECT_0);
  SetEvent(gate.go);
  // It got through the gate and read its priority, so it ran on.
  DWORD start = GetTickCount();
  while (gate.priorityInside == -100 && GetTickCount() - start < 5000) Sleep(1);
  EXPECT_EQ(gate.priorityInside, THREAD_PRIORITY_NORMAL);
  Sleep(20);  // let it return before the gate goes away
}

struct SelfCloser {
  HANDLE self = nullptr;
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<BOOL> closed{FALSE};
};

DWORD CloseOwnHandle(LPVOID param) {
  auto* s = static_cast<SelfCloser*>(param);
  s->closed = CloseHandle(s->self);
  SetEvent(s->done);
  return 0;
}

TEST(CoreThreads, AThreadMayCloseItsOwnHandle) {
  SelfCloser s;
  s.self = CreateThread(nullptr, 0, CloseOwnHandle, &s, CREATE_SUSPENDED, nullptr);
  ASSERT_NE(s.self, nullptr);
  ResumeThread(s.self);
  EXPECT_EQ(WaitForSingleObject(s.done, 5000), WAIT_OBJECT_0);
  EXPECT_TRUE(s.closed);
  CloseHandle(s.done);
  Sleep(20);
}

TEST(CoreThreads, ManyShortThreadsWithClosedHandles) {
  static std::atomic<int> finished;
  finished = 0;
  auto body = [](LPVOID) -> DWORD {
    ++finished;
    return 0;
  };
  std::set<DWORD> ids;
  for (int i = 0; i < 200; ++i) {
    DWORD id = 0;
    HANDLE t = CreateThread(nullptr, 0, body, nullptr, 0, &id);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(ids.insert(id).second);
    CloseHandle(t);
  }
  DWORD start = GetTickCount();
  while (finished < 200 && GetTickCount() - start < 20000) Sleep(5);
  EXPECT_EQ(finished, 200);
  Sleep(50);  // the last ones leave their routine
}

TEST(CoreThreads, WaitsMixThreadsAndEvents) {
  HANDLE ev = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE t =
      CreateThread(nullptr, 0, ReturnParam, reinterpret_cast<LPVOID>(uintptr_t{5}), 0, nullptr);
  HANDLE both[2] = {ev, t};
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 5000), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 20), WAIT_TIMEOUT);
  SetEvent(ev);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 5000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(t, &code);
  EXPECT_EQ(code, 5u);
  CloseHandle(t);
  CloseHandle(ev);
}

TEST(CoreThreads, IdsAreStablePerThreadAndDistinct) {
  DWORD mine = GetCurrentThreadId();
  EXPECT_NE(mine, 0u);
  EXPECT_EQ(GetCurrentThreadId(), mine);
  DWORD other = 0;
  Thread([&] { other = GetCurrentThreadId(); }).join();
  EXPECT_NE(other, 0u);
  EXPECT_NE(other, mine);
}

TEST(CoreThreads, BadArguments) {
  HANDLE ev = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  DWORD code = 0;
  EXPECT_FALSE(GetExitCodeThread(ev, &code));  // not a thread
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(ResumeThread(ev), 0xFFFFFFFFu);
  CloseHandle(ev);
}

}  // namespace
