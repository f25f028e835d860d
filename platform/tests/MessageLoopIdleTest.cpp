// A thread's message loop sleeps while its queue is empty.
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "windows.h"

namespace {

using Clock = std::chrono::steady_clock;

double ThreadCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 + usage.ru_stime.tv_sec * 1e3 +
         usage.ru_stime.tv_usec / 1e3;
}

TEST(MessageLoop, PostedMessagesWakeASleepingLoopThatUsesNoCpuWhileIdle) {
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<DWORD> id{0};
  std::vector<UINT> got;
  double idleCpuMs = -1;
  int exitCode = -1;
  std::thread loop([&] {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // makes the queue
    id = GetCurrentThreadId();
    SetEvent(ready);
    double before = ThreadCpuMs();
    bool first = true;
    while (GetMessageW(&msg, nullptr, 0, 0)) {
      if (first) idleCpuMs = ThreadCpuMs() - before;
      first = false;
      got.push_back(msg.message);
      if (msg.message == WM_APP) PostQuitMessage(5);
    }
    exitCode = static_cast<int>(msg.wParam);
  });
  ASSERT_EQ(WaitForSingleObject(ready, 5000), WAIT_OBJECT_0);
  Sleep(1000);  // the loop sleeps in GetMessage meanwhile
  EXPECT_TRUE(PostThreadMessageW(id, WM_USER + 1, 0, 0));
  EXPECT_TRUE(PostThreadMessageW(id, WM_USER + 2, 0, 0));
  EXPECT_TRUE(PostThreadMessageW(id, WM_APP, 0, 0));
  loop.join();
  EXPECT_EQ(got, (std::vector<UINT>{WM_USER + 1, WM_USER + 2, WM_APP}));
  EXPECT_EQ(exitCode, 5);
  // A loop that polled would spend milliseconds of CPU in that second.
  std::printf("CPU used by a GetMessage loop idle for 1 s: %.3f ms\n", idleCpuMs);
  EXPECT_GE(idleCpuMs, 0);
  EXPECT_LT(idleCpuMs, 20);
  // The thread has ended: there is nobody to post to.
  SetLastError(0);
  EXPECT_FALSE(PostThreadMessageW(id, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
  CloseHandle(ready);
}

}  // namespace
