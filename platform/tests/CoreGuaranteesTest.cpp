// What the stand-in promises beyond the calls' common contract: handle
// values that are never used twice, the handheld's own priority scale, and
// formatting calls that take null arguments without harm.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>

#include "windows.h"

namespace {

// A thread held until `go` is set, that then records its own priority.
struct Held {
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> priorityInside{-1};
  ~Held() { CloseHandle(go); }
};

DWORD RecordOwnPriority(LPVOID param) {
  auto* held = static_cast<Held*>(param);
  WaitForSingleObject(held->go, INFINITE);
  held->priorityInside = CeGetThreadPriority(GetCurrentThread());
  return 0;
}

TEST(CoreHandles, ValuesAreNeverReusedAndStaleHandlesFail) {
  std::set<HANDLE> seen;
  for (int i = 0; i < 2000; ++i) {
    HANDLE h = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(h, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(seen.insert(h).second);
    EXPECT_TRUE(CloseHandle(h));
  }
  HANDLE stale = *seen.begin();
  SetLastError(0);
  EXPECT_FALSE(CloseHandle(stale));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
}

TEST(CoreThreads, PrioritiesAreRecordedOnBothScales) {
  Held gate;
  HANDLE t = CreateThread(nullptr, 0, RecordOwnPriority, &gate, CREATE_SUSPENDED, nullptr);
  EXPECT_EQ(GetThreadPriority(t), THREAD_PRIORITY_NORMAL);
  EXPECT_EQ(CeGetThreadPriority(t), 251);
  EXPECT_TRUE(CeSetThreadPriority(t, 104));
  EXPECT_EQ(CeGetThreadPriority(t), 104);
  EXPECT_EQ(GetThreadPriority(t), THREAD_PRIORITY_TIME_CRITICAL);
  EXPECT_TRUE(SetThreadPriority(t, THREAD_PRIORITY_IDLE));
  EXPECT_EQ(CeGetThreadPriority(t), 255);
  EXPECT_EQ(GetThreadPriority(t), THREAD_PRIORITY_IDLE);

  SetLastError(0);
  EXPECT_FALSE(CeSetThreadPriority(t, 256));
  EXPECT_FALSE(CeSetThreadPriority(t, -1));
  EXPECT_FALSE(SetThreadPriority(t, 8));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(CeGetThreadPriority(t), 255);

  EXPECT_TRUE(CeSetThreadPriority(t, 0));
  EXPECT_TRUE(CeSetThreadPriority(t, 104));
  ResumeThread(t);
  SetEvent(gate.go);
  EXPECT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(gate.priorityInside, 104);  // seen through the pseudo handle inside
  CloseHandle(t);

  EXPECT_EQ(CeGetThreadPriority(nullptr), THREAD_PRIORITY_ERROR_RETURN);
  EXPECT_EQ(GetThreadPriority(nullptr), THREAD_PRIORITY_ERROR_RETURN);
  EXPECT_FALSE(SetThreadPriority(nullptr, THREAD_PRIORITY_NORMAL));

  // The calling thread through its pseudo handle; closing that is harmless.
  int before = CeGetThreadPriority(GetCurrentThread());
  EXPECT_TRUE(CeSetThreadPriority(GetCurrentThread(), 200));
  EXPECT_EQ(CeGetThreadPriority(GetCurrentThread()), 200);
  EXPECT_TRUE(CeSetThreadPriority(GetCurrentThread(), before));
  EXPECT_TRUE(CloseHandle(GetCurrentThread()));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(GetCurrentThread(), &code));
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
}

TEST(CoreFormat, OddFormatsStaySafe) {
  WCHAR buf[8] = u"junk";
  EXPECT_EQ(wsprintfW(buf, u"50%"), 2);  // a lone '%' at the end is dropped
  EXPECT_EQ(std::u16string(buf), u"50");
  EXPECT_EQ(wsprintfW(buf, u"%q|"), 2);
  EXPECT_EQ(std::u16string(buf), u"q|");
  EXPECT_EQ(wsprintfW(buf, nullptr), 0);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(wsprintfW(nullptr, u"x"), 0);
}

TEST(CoreFormat, ShortIntegersAndTheCountOfACutText) {
  WCHAR buf[1100];
  EXPECT_EQ(wsprintfW(buf, u"%hd %hu", 0x18000, 0x18000), 12);
  EXPECT_EQ(std::u16string(buf), u"-32768 32768");
  // A text cut at 1023 characters counts what it holds.
  std::u16string longText(3000, u'x');
  EXPECT_EQ(wsprintfW(buf, u"%s", longText.c_str()), 1023);
}

// A list may not name one object twice; waiting for all of such a list
// fails and takes nothing.
TEST(CoreWaits, AllOfAListNamingAnObjectTwiceFails) {
  HANDLE a = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  HANDLE twice[2] = {a, a};
  SetLastError(0);
  EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);
  CloseHandle(a);
}

TEST(CoreThreads, NullArgumentsAreRefused) {
  SetLastError(0);
  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(GetExitCodeThread(GetCurrentThread(), nullptr));
}

std::atomic<int> procTicks{0};
void CountTick(HWND, UINT message, UINT_PTR, DWORD) {
  if (message == WM_TIMER) ++procTicks;
}

// DispatchMessage runs a timer's procedure only for a live timer, whatever
// a posted WM_TIMER claims.
TEST(MessageQueue, APostedTimerMessageRunsNoProcedureOfADeadTimer) {
  UINT_PTR withProc = SetTimer(nullptr, 0, 10, CountTick);
  MSG msg;
  while (procTicks < 1 && GetMessageW(&msg, nullptr, 0, 0)) DispatchMessageW(&msg);
  EXPECT_TRUE(KillTimer(nullptr, withProc));
  PostThreadMessageW(GetCurrentThreadId(), WM_TIMER, withProc,
                     reinterpret_cast<LPARAM>(&CountTick));
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  DispatchMessageW(&msg);
  EXPECT_EQ(procTicks, 1);
}

}  // namespace
