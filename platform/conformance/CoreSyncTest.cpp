// Events, waits, critical sections and the handle table.

#include <atomic>
#include <cstdint>
#include <set>
#include <thread>
#include <vector>

#include "Conformance.h"

namespace {

using conformance::Thread;
using conformance::WString;

// Closes a handle when the test ends, whatever happens.
struct Owned {
  HANDLE h;
  explicit Owned(HANDLE handle) : h(handle) {}
  ~Owned() {
    if (h) CloseHandle(h);
  }
  operator HANDLE() const { return h; }
};

TEST(CoreEvents, AutoResetReleasesOneWaitAndResets) {
  Owned ev(CreateEventW(nullptr, FALSE, TRUE, nullptr));
  ASSERT_NE(ev.h, nullptr);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(ev));
  EXPECT_TRUE(SetEvent(ev));  // setting twice still releases one wait
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(ev));
  EXPECT_TRUE(ResetEvent(ev));
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
}

TEST(CoreEvents, ManualResetStaysSignalledUntilReset) {
  Owned ev(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
  SetEvent(ev);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(ev, 10), WAIT_OBJECT_0);
  ResetEvent(ev);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
}

TEST(CoreEvents, TimedWaitLastsAtLeastItsTimeout) {
  Owned ev(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  DWORD start = GetTickCount();
  EXPECT_EQ(WaitForSingleObject(ev, 120), WAIT_TIMEOUT);
  EXPECT_GE(GetTickCount() - start, 120u - 16u);  // the tick count steps by up to 16 ms
}

TEST(CoreEvents, SetFromAnotherThreadWakesAnInfiniteWait) {
  Owned ev(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  Thread setter([&] {
    Sleep(30);
    SetEvent(ev);
  });
  EXPECT_EQ(WaitForSingleObject(ev, INFINITE), WAIT_OBJECT_0);
  setter.join();
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);  // the wake took the signal
}

TEST(CoreEvents, EachSetOfAnAutoResetEventReleasesOneWaiter) {
  Owned ev(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  Owned quit(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::atomic<int> released{0};
  std::vector<Thread> waiters;
  for (int i = 0; i < 4; ++i) {
    waiters.emplace_back([&] {
      HANDLE both[2] = {ev, quit};
      if (WaitForMultipleObjects(2, both, FALSE, INFINITE) == WAIT_OBJECT_0) ++released;
    });
  }
  for (int i = 1; i <= 3; ++i) {
    SetEvent(ev);
    DWORD start = GetTickCount();
    while (released < i && GetTickCount() - start < 10000) Sleep(1);
    EXPECT_EQ(released, i);
  }
  Sleep(50);
  EXPECT_EQ(released, 3);  // the fourth waiter still waits
  SetEvent(quit);
  for (auto& t : waiters) t.join();
  EXPECT_EQ(released, 3);
}

// Starts `count` threads that report that they wait, then wait on `ev`.
struct PulseWaiters {
  std::atomic<int> ready{0};
  std::atomic<int> released{0};
  std::vector<Thread> threads;
  PulseWaiters(HANDLE ev, int count) {
    for (int i = 0; i < count; ++i) {
      threads.emplace_back([this, ev] {
        ++ready;
        if (WaitForSingleObject(ev, 20000) == WAIT_OBJECT_0) ++released;
      });
    }
    while (ready < count) Sleep(1);
    Sleep(200);  // from reporting to waiting takes microseconds
  }
  void Join() {
    for (auto& t : threads) t.join();
  }
};

TEST(CoreEvents, PulseOfManualEventReleasesAllWaitersAndLeavesItReset) {
  Owned ev(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  EXPECT_TRUE(PulseEvent(ev));  // nobody waits: nothing remains signalled
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);

  PulseWaiters waiters(ev, 3);
  PulseEvent(ev);
  waiters.Join();
  EXPECT_EQ(waiters.released, 3);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
}

TEST(CoreEvents, PulseOfAutoEventReleasesOneWaiter) {
  Owned ev(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  PulseWaiters waiters(ev, 2);
  PulseEvent(ev);
  DWORD start = GetTickCount();
  while (waiters.released < 1 && GetTickCount() - start < 10000) Sleep(1);
  Sleep(50);
  EXPECT_EQ(waiters.released, 1);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
  SetEvent(ev);  // lets the other one go
  waiters.Join();
  EXPECT_EQ(waiters.released, 2);
}

TEST(CoreEvents, NamedEventsAreSharedWhileAHandleIsOpen) {
  SetLastError(12345);
  HANDLE a = CreateEventW(nullptr, FALSE, FALSE, TEXT("EventTessivPlug2Applet"));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  HANDLE b = CreateEventW(nullptr, TRUE, TRUE, TEXT("EventTessivPlug2Applet"));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_NE(a, b);
  // Same object, created auto reset and not signalled: the second call's
  // arguments are ignored.
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_TIMEOUT);
  Thread setter([a] {
    Sleep(20);
    SetEvent(a);
  });
  EXPECT_EQ(WaitForSingleObject(b, 5000), WAIT_OBJECT_0);
  setter.join();
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_TIMEOUT);

  // Names are case-sensitive; other names are other events.
  Owned other(CreateEventW(nullptr, FALSE, FALSE, TEXT("eventtessivplug2applet")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  SetEvent(other);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_TIMEOUT);

  // Closing one handle keeps the event for the other.
  EXPECT_TRUE(CloseHandle(a));
  HANDLE c = CreateEventW(nullptr, FALSE, FALSE, TEXT("EventTessivPlug2Applet"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  SetEvent(c);
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);
  CloseHandle(b);
  CloseHandle(c);

  // With every handle closed the name is free: a new event with the new state.
  HANDLE d = CreateEventW(nullptr, TRUE, TRUE, TEXT("EventTessivPlug2Applet"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(WaitForSingleObject(d, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(d, 0), WAIT_OBJECT_0);  // manual reset now
  CloseHandle(d);

  // An empty name is no name.
  Owned e(CreateEventW(nullptr, FALSE, FALSE, TEXT("")));
  Owned f(CreateEventW(nullptr, FALSE, FALSE, TEXT("")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  SetEvent(e);
  EXPECT_EQ(WaitForSingleObject(f, 0), WAIT_TIMEOUT);
}

TEST(CoreEvents, NamedEventsOpenedAndClosedFromManyThreads) {
  // Opening and closing one name concurrently never yields a dead handle.
  std::atomic<int> failures{0};
  std::vector<Thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 500; ++i) {
        HANDLE h = CreateEventW(nullptr, FALSE, FALSE, TEXT("SharedByThreads"));
        if (!h || !SetEvent(h) || !CloseHandle(h)) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, 0);
}

TEST(CoreWaits, AnyReturnsTheFirstSignalledAndTakesOnlyIt) {
  Owned a(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  Owned b(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  Owned c(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  HANDLE all[3] = {a, b, c};
  EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), WAIT_TIMEOUT);
  SetEvent(c);
  SetEvent(b);
  EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), WAIT_TIMEOUT);
  // The same handle twice is fine when waiting for any.
  HANDLE twice[2] = {a, a};
  SetEvent(a);
  EXPECT_EQ(WaitForMultipleObjects(2, twice, FALSE, 1000), WAIT_OBJECT_0);
}

TEST(CoreWaits, AllWaitsForEveryObjectAndTakesNoneBeforeThat) {
  Owned a(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  Owned b(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  HANDLE both[2] = {a, b};
  SetEvent(a);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 30), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);  // still there after the failed wait
  SetEvent(a);

  Thread setter([&] {
    Sleep(30);
    SetEvent(b);
  });
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 5000), WAIT_OBJECT_0);
  setter.join();
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_TIMEOUT);  // both taken
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_TIMEOUT);

  // A thread waiting for any of them does not steal from one that waits for all.
  std::atomic<bool> gotAll{false};
  Thread allWaiter([&] { gotAll = WaitForMultipleObjects(2, both, TRUE, 5000) == WAIT_OBJECT_0; });
  Sleep(50);
  SetEvent(a);
  SetEvent(b);
  allWaiter.join();
  EXPECT_TRUE(gotAll);
}

TEST(CoreWaits, BadArgumentsFail) {
  Owned a(CreateEventW(nullptr, FALSE, TRUE, nullptr));
  HANDLE closed = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  CloseHandle(closed);

  SetLastError(0);
  EXPECT_EQ(WaitForSingleObject(closed, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  HANDHELD_BEHAVIOUR(
      "INVALID_HANDLE_VALUE is the current process's pseudo handle on desktop Windows "
      "(GetCurrentProcess returns (HANDLE)-1) and a wait on it times out; the handheld's "
      "pseudo handles are other values, and -1 is no handle: a wait on it fails") {
    EXPECT_EQ(WaitForSingleObject(INVALID_HANDLE_VALUE, 0), WAIT_FAILED);
  }
  // The calling thread has not ended: its handle is not signalled.
  EXPECT_EQ(WaitForSingleObject(GetCurrentThread(), 0), WAIT_TIMEOUT);
  HANDLE never = reinterpret_cast<HANDLE>(uintptr_t{0x7654320});
  HANDLE mixed[2] = {a, never};
  EXPECT_EQ(WaitForMultipleObjects(2, mixed, FALSE, 0), WAIT_FAILED);

  SetLastError(0);
  HANDLE one[1] = {a};
  EXPECT_EQ(WaitForMultipleObjects(0, one, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  std::vector<HANDLE> tooMany(MAXIMUM_WAIT_OBJECTS + 1, a.h);
  EXPECT_EQ(WaitForMultipleObjects(static_cast<DWORD>(tooMany.size()), tooMany.data(), FALSE, 0),
            WAIT_FAILED);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);  // none of these took it

  EXPECT_FALSE(SetEvent(closed));
  EXPECT_FALSE(ResetEvent(nullptr));
  EXPECT_FALSE(PulseEvent(INVALID_HANDLE_VALUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(CoreWaits, ClosingAHandleDoesNotEndAWaitOnItsEvent) {
  HANDLE h = CreateEventW(nullptr, FALSE, FALSE, TEXT("CloseWhileWaiting"));
  HANDLE other = CreateEventW(nullptr, FALSE, FALSE, TEXT("CloseWhileWaiting"));
  std::atomic<DWORD> result{0xDEAD};
  Thread waiter([&] { result = WaitForSingleObject(h, 5000); });
  Sleep(50);
  CloseHandle(h);
  Sleep(20);
  EXPECT_EQ(result, 0xDEADu);
  SetEvent(other);
  waiter.join();
  EXPECT_EQ(result, WAIT_OBJECT_0);
  CloseHandle(other);
}

TEST(CoreCriticalSections, ReEntrantAndExclusive) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EXPECT_TRUE(TryEnterCriticalSection(&cs));
  auto tryFromOtherThread = [&] {
    BOOL got = FALSE;
    Thread([&] {
      got = TryEnterCriticalSection(&cs);
      if (got) LeaveCriticalSection(&cs);
    }).join();
    return got;
  };
  EXPECT_FALSE(tryFromOtherThread());
  LeaveCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  EXPECT_FALSE(tryFromOtherThread());  // entered three times, left twice
  LeaveCriticalSection(&cs);
  EXPECT_TRUE(tryFromOtherThread());

  int counter = 0;  // guarded by cs only
  std::vector<Thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 5000; ++i) {
        EnterCriticalSection(&cs);
        EnterCriticalSection(&cs);
        ++counter;
        LeaveCriticalSection(&cs);
        LeaveCriticalSection(&cs);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 20000);
  DeleteCriticalSection(&cs);
}

// A thread that finds the section held past its spinning sleeps; leaving
// must wake it, from one holder and from one that entered twice.
TEST(CoreCriticalSections, LeavingWakesAThreadThatSleptOnIt) {
  for (int entries : {1, 2}) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    for (int i = 0; i < entries; ++i) EnterCriticalSection(&cs);
    std::atomic<bool> entered{false};
    Thread waiter([&] {
      EnterCriticalSection(&cs);
      entered = true;
      LeaveCriticalSection(&cs);
    });
    Sleep(100);  // long past any spinning: the waiter sleeps
    EXPECT_FALSE(entered.load()) << entries;
    for (int i = 0; i < entries; ++i) LeaveCriticalSection(&cs);
    const DWORD start = GetTickCount();
    while (!entered.load() && GetTickCount() - start < 5000) Sleep(1);
    EXPECT_TRUE(entered.load()) << "the sleeping thread was not woken (" << entries << ")";
    if (!entered.load()) {
      waiter.detach();  // still asleep: left behind rather than waited for
      return;
    }
    waiter.join();
    DeleteCriticalSection(&cs);
  }
}

TEST(CoreBasics, LastErrorIsPerThread) {
  SetLastError(87);
  DWORD seen = 1;
  Thread([&] {
    seen = GetLastError();
    SetLastError(5);
  }).join();
  EXPECT_EQ(seen, 0u);
  EXPECT_EQ(GetLastError(), 87u);
}

TEST(CoreBasics, TickCountAdvancesWithSleep) {
  // The tick count steps with the system timer: up to 16 ms at a time on
  // desktop Windows.
  DWORD a = GetTickCount();
  Sleep(60);
  DWORD b = GetTickCount();
  EXPECT_GE(b - a, 60u - 16u);
  EXPECT_LT(b - a, 10000u);
  Sleep(0);
  EXPECT_GE(GetTickCount() - b, 0u);
  EXPECT_LT(GetTickCount() - b, 10000u);
}

}  // namespace
