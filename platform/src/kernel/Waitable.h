// Kernel objects a thread can wait on: events, threads and message queues.
// All their states change, and all waits decide, under one lock, so a wait
// for several objects sees them consistently and takes them all at once.
// An object may also name a deadline (a queue's next timer): a wait wakes
// then and looks again, so nothing polls.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <optional>
#include <memory>
#include <mutex>
#include <vector>

#include "HandleTable.h"

namespace handheld::detail {

class Waitable : public KernelObject {
 public:
  // Waits until one (waitAll false) or all of `objects` are signalled, or
  // `ms` milliseconds passed (INFINITE: no limit). Returns WAIT_OBJECT_0 + the
  // index of the object taken, WAIT_OBJECT_0 when all were taken, or
  // WAIT_TIMEOUT. Auto-reset objects that satisfy the wait are reset by it.
  static DWORD Wait(const std::vector<std::shared_ptr<Waitable>>& objects, bool waitAll, DWORD ms);
  // The waitable objects behind `count` handles, checked as
  // WaitForMultipleObjects checks them: ERROR_INVALID_HANDLE for a handle
  // that is not waitable, ERROR_INVALID_PARAMETER for an object named twice
  // in a wait for all.
  static Status Collect(DWORD count, const HANDLE* handles, bool waitAll,
                        std::vector<std::shared_ptr<Waitable>>* objects);

 protected:
  // The lock under which every waitable's state is read and changed.
  static std::mutex& StateLock();
  // Under StateLock.
  virtual bool IsSignalled() const = 0;
  // Under StateLock: a wait has just been satisfied by this object.
  virtual void Acquire() {}
  // Under StateLock: when the object will become signalled by itself (a
  // timer falls due) without anyone changing it; none by default.
  virtual std::optional<std::chrono::steady_clock::time_point> Deadline() const {
    return std::nullopt;
  }
  // Under StateLock, after the object became signalled: satisfies the
  // waiting threads that can now proceed, oldest first.
  void WakeWaiters();
  // Under StateLock, after the object's deadline changed: the waiting
  // threads look at the deadlines again.
  void Rewake();

 private:
  struct Waiter {
    Waiter(const std::vector<std::shared_ptr<Waitable>>* objects, bool waitAll)
        : objects(objects), waitAll(waitAll) {}
    const std::vector<std::shared_ptr<Waitable>>* objects;
    bool waitAll;
    bool done = false;
    DWORD result = WAIT_TIMEOUT;
    // The futex word the waiter sleeps on: set to 1 (under StateLock) to
    // wake it. A futex of its own rather than a condition variable: a timed
    // wait that ends by its time-out then costs the one system call of the
    // sleep, where glibc's condition variable adds a wake-up of nobody.
    std::atomic<uint32_t> signal{0};
  };
  // Under StateLock: wakes `waiter` once it looks again.
  static void Notify(Waiter& waiter);
  // Releases `lock`, sleeps until notified or `until` (none: no limit),
  // takes `lock` again. May return early.
  static void Sleep(Waiter& waiter, std::unique_lock<std::mutex>& lock,
                    const std::optional<std::chrono::steady_clock::time_point>& until);
  static bool TrySatisfy(Waiter& waiter);
  static void Unregister(Waiter& waiter);

  std::list<Waiter*> waiters_;  // under StateLock
};

}  // namespace handheld::detail
