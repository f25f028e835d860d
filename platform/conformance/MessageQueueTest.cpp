// Thread message queues: posting across threads, taking and peeking,
// thread timers as deadlines inside the wait, and MsgWaitForMultipleObjects.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "Conformance.h"

namespace {

using conformance::Thread;
using conformance::WString;

using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point since) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

TEST(MessageQueue, PeekLeavesOrTakesAndFiltersByRange) {
  const DWORD self = GetCurrentThreadId();
  MSG msg{};
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  ASSERT_TRUE(PostThreadMessageW(self, WM_USER + 7, 3, 4));
  ASSERT_TRUE(PostThreadMessageW(self, WM_APP + 1, 0, 0));
  EXPECT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, WM_USER + 7u);
  EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_APP, WM_APP + 10, PM_REMOVE));  // past the first
  EXPECT_EQ(msg.message, WM_APP + 1u);
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_APP, WM_APP + 10, PM_REMOVE));
  EXPECT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_USER + 7u);
  EXPECT_EQ(msg.wParam, 3u);
  EXPECT_EQ(msg.lParam, 4);
  EXPECT_EQ(msg.hwnd, nullptr);
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
}

std::atomic<int> procTicks{0};
void CALLBACK CountTick(HWND, UINT message, UINT_PTR, DWORD) {
  if (message == WM_TIMER) ++procTicks;
}

TEST(MessageQueue, ThreadTimersWakeGetMessageOnTimeAndRunTheirProcedures) {
  constexpr UINT kPeriodMs = 100;
  UINT_PTR timer = SetTimer(nullptr, 0, kPeriodMs, nullptr);
  ASSERT_NE(timer, 0u);
  std::vector<long> lateness;
  Clock::time_point start = Clock::now();
  for (int tick = 0; tick < 5; ++tick) {
    MSG msg;
    ASSERT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
    long elapsed = ElapsedMs(start);
    start = Clock::now();
    EXPECT_EQ(msg.message, WM_TIMER);
    EXPECT_EQ(msg.wParam, timer);
    // Never early by more than a step of the system timer (16 ms on
    // desktop Windows).
    EXPECT_GE(elapsed, static_cast<long>(kPeriodMs) - 16);
    lateness.push_back(elapsed - static_cast<long>(kPeriodMs));
  }
  std::sort(lateness.begin(), lateness.end());
  std::printf("median lateness of a 100 ms thread timer: %ld ms\n", lateness[lateness.size() / 2]);
  EXPECT_LE(lateness[lateness.size() / 2], 20);
  EXPECT_TRUE(KillTimer(nullptr, timer));
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 2 * kPeriodMs, QS_ALLINPUT), WAIT_TIMEOUT);
  EXPECT_FALSE(KillTimer(nullptr, timer));

  // A timer with a procedure: DispatchMessage runs it.
  procTicks = 0;
  UINT_PTR withProc = SetTimer(nullptr, 0, 10, CountTick);
  MSG msg;
  while (procTicks < 2 && GetMessageW(&msg, nullptr, 0, 0)) DispatchMessageW(&msg);
  EXPECT_TRUE(KillTimer(nullptr, withProc));
}

TEST(MessageQueue, MsgWaitWakesForAHandleAMessageOrItsTimeOut) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  const DWORD self = GetCurrentThreadId();
  Thread setter([&] {
    Sleep(30);
    SetEvent(event);
  });
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 5000, QS_ALLINPUT), WAIT_OBJECT_0);
  setter.join();

  Thread poster([&] {
    Sleep(30);
    PostThreadMessageW(self, WM_USER, 0, 0);
  });
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 5000, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
  poster.join();
  // The message stays in the queue until taken; a mask without posted
  // messages does not see it.
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 50, QS_TIMER), WAIT_TIMEOUT);
  MSG msg;
  EXPECT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 20, QS_ALLINPUT), WAIT_TIMEOUT);

  HANDLE bogus = reinterpret_cast<HANDLE>(uintptr_t{0x7654320});
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &bogus, FALSE, 0, QS_ALLINPUT), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  CloseHandle(event);
}

}  // namespace
