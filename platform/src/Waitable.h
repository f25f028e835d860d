// Kernel objects a thread can wait on: events and threads. All their states
// change, and all waits decide, under one lock, so a wait for several objects
// sees them consistently and takes them all at once.
#pragma once

#include <condition_variable>
#include <list>
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

 protected:
  // The lock under which every waitable's state is read and changed.
  static std::mutex& StateLock();
  // Under StateLock.
  virtual bool IsSignalled() const = 0;
  // Under StateLock: a wait has just been satisfied by this object.
  virtual void Acquire() {}
  // Under StateLock, after the object became signalled: satisfies the
  // waiting threads that can now proceed, oldest first.
  void WakeWaiters();

 private:
  struct Waiter {
    Waiter(const std::vector<std::shared_ptr<Waitable>>* objects, bool waitAll)
        : objects(objects), waitAll(waitAll) {}
    const std::vector<std::shared_ptr<Waitable>>* objects;
    bool waitAll;
    bool done = false;
    DWORD result = WAIT_TIMEOUT;
    std::condition_variable wake;
  };
  static bool TrySatisfy(Waiter& waiter);
  static void Unregister(Waiter& waiter);

  std::list<Waiter*> waiters_;  // under StateLock
};

}  // namespace handheld::detail
