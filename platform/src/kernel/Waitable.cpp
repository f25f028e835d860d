#include "Waitable.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>

#include "ProcessLifetime.h"
#include "Thread.h"

namespace handheld::detail {

namespace {
struct WaitState {
  std::mutex lock;
};
}  // namespace

std::mutex& Waitable::StateLock() {
  // Detached threads may signal after main returned.
  return ProcessLifetime<WaitState>::Get().lock;
}

bool Waitable::TrySatisfy(Waiter& waiter) {
  const auto& objects = *waiter.objects;
  if (waiter.waitAll) {
    for (const auto& object : objects)
      if (!object->IsSignalled()) return false;
    for (const auto& object : objects) object->Acquire();
    waiter.result = WAIT_OBJECT_0;
    return true;
  }
  for (size_t i = 0; i < objects.size(); ++i) {
    if (objects[i]->IsSignalled()) {
      objects[i]->Acquire();
      waiter.result = WAIT_OBJECT_0 + static_cast<DWORD>(i);
      return true;
    }
  }
  return false;
}

void Waitable::Unregister(Waiter& waiter) {
  for (const auto& object : *waiter.objects) object->waiters_.remove(&waiter);
}

void Waitable::WakeWaiters() {
  // Satisfying one waiter can reset this object (auto-reset) or others
  // (wait for all), so look again from the oldest after each success.
  for (;;) {
    if (!IsSignalled()) return;
    auto it = std::find_if(waiters_.begin(), waiters_.end(),
                           [](Waiter* w) { return TrySatisfy(*w); });
    if (it == waiters_.end()) return;
    Waiter& waiter = **it;
    Unregister(waiter);
    waiter.done = true;
    Notify(waiter);
  }
}

void Waitable::Rewake() {
  for (Waiter* waiter : waiters_) Notify(*waiter);
}

void Waitable::Notify(Waiter& waiter) {
  waiter.signal.store(1, std::memory_order_release);
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&waiter.signal), FUTEX_WAKE_PRIVATE, 1, nullptr,
          nullptr, 0);
}

// The word is cleared under the lock before it is released, so a Notify
// that comes in between makes the futex wait return at once. The time limit
// is absolute on the monotonic clock, the steady clock's own.
void Waitable::Sleep(Waiter& waiter, std::unique_lock<std::mutex>& lock,
                     const std::optional<std::chrono::steady_clock::time_point>& until) {
  waiter.signal.store(0, std::memory_order_relaxed);
  timespec limit{};
  if (until) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(until->time_since_epoch()).count();
    if (ns <= 0) return;
    limit.tv_sec = static_cast<time_t>(ns / 1000000000);
    limit.tv_nsec = static_cast<long>(ns % 1000000000);
  }
  lock.unlock();
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&waiter.signal), FUTEX_WAIT_BITSET_PRIVATE, 0,
          until ? &limit : nullptr, nullptr, FUTEX_BITSET_MATCH_ANY);
  lock.lock();
}

Status Waitable::Collect(DWORD count, const HANDLE* handles, bool waitAll,
                         std::vector<std::shared_ptr<Waitable>>* objects) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) return ERROR_INVALID_PARAMETER;
  objects->reserve(objects->size() + count);
  for (DWORD i = 0; i < count; ++i) {
    // The calling thread's pseudo handle stands for the calling thread,
    // which has not ended while it waits.
    std::shared_ptr<Waitable> object = handles[i] == Thread::kCurrentThreadPseudoHandle
                                           ? Thread::Current()
                                           : HandleTable::LookupAs<Waitable>(handles[i]);
    if (!object) return ERROR_INVALID_HANDLE;
    // Waiting for all of a list that names one object twice cannot be done.
    if (waitAll && std::find(objects->begin(), objects->end(), object) != objects->end())
      return ERROR_INVALID_PARAMETER;
    objects->push_back(std::move(object));
  }
  return Status::Ok();
}

DWORD Waitable::Wait(const std::vector<std::shared_ptr<Waitable>>& objects, bool waitAll,
                     DWORD ms) {
  using Clock = std::chrono::steady_clock;
  const bool forever = ms == INFINITE;
  const auto deadline = forever ? Clock::time_point::max()
                                : Clock::now() + std::chrono::milliseconds(ms);

  std::unique_lock<std::mutex> lock(StateLock());
  Waiter waiter(&objects, waitAll);
  if (TrySatisfy(waiter)) return waiter.result;
  if (ms == 0) return WAIT_TIMEOUT;

  // Each object lists the waiter once, even when named twice.
  for (size_t i = 0; i < objects.size(); ++i) {
    bool seen = false;
    for (size_t k = 0; k < i && !seen; ++k) seen = objects[k] == objects[i];
    if (!seen) objects[i]->waiters_.push_back(&waiter);
  }
  for (;;) {
    Clock::time_point wake = deadline;
    for (const auto& object : objects)
      if (auto due = object->Deadline()) wake = std::min(wake, *due);
    if (wake == Clock::time_point::max())
      Sleep(waiter, lock, std::nullopt);
    else
      Sleep(waiter, lock, wake);
    if (waiter.done) return waiter.result;
    // A deadline passed, the deadlines changed, or the wake was spurious.
    if (TrySatisfy(waiter)) break;
    if (!forever && Clock::now() >= deadline) {
      Unregister(waiter);
      return WAIT_TIMEOUT;
    }
  }
  Unregister(waiter);
  return waiter.result;
}

}  // namespace handheld::detail
