// A thread of the handheld: a start routine run on its own std::thread, or a
// thread the platform did not start (the main thread) seen from inside.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "Waitable.h"

namespace handheld::detail {

class MessageQueue;

class Thread : public Waitable, public std::enable_shared_from_this<Thread> {
 public:
  // What GetCurrentThread returns: stands for the calling thread, never in
  // the handle table.
  static inline const HANDLE kCurrentThreadPseudoHandle =
      reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));
  // Priorities on the handheld's 0..255 scale; the 0..7 scale maps onto its
  // last eight values.
  static constexpr int kFirstScaledPriority = 248;
  static constexpr int kDefaultPriority = kFirstScaledPriority + THREAD_PRIORITY_NORMAL;

  Thread(LPTHREAD_START_ROUTINE start, LPVOID param, DWORD suspendCount);
  ~Thread() override;
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // The calling thread's record; made on first use for threads that were
  // not created by CreateThread.
  static std::shared_ptr<Thread> Current();
  // The thread a handle names (the pseudo handle included), or null.
  static std::shared_ptr<Thread> FromHandle(HANDLE h);
  // The thread with this id while its record lives (a handle is open or it
  // runs), or null.
  static std::shared_ptr<Thread> FromId(DWORD id);
  // The priorities of the threads started by CreateThread that run now.
  static std::vector<int> RunningPriorities();
  // A new thread that has not run yet, listed under its id; Resume starts
  // it when its suspend count drops to zero.
  static std::shared_ptr<Thread> Create(LPTHREAD_START_ROUTINE start, LPVOID param,
                                        DWORD suspendCount);

  // Lowers the suspend count and starts the routine when it reaches zero.
  // Returns the previous count, or 0xFFFFFFFF when no thread could be started.
  DWORD Resume();
  DWORD Id() const { return id_; }
  DWORD ExitCode() const;  // STILL_ACTIVE until the routine returned
  bool Finished() const;
  // The thread's message queue, made on first use.
  std::shared_ptr<MessageQueue> Queue();
  int Priority() const;    // 0..255
  void SetPriority(int priority);

 protected:
  bool IsSignalled() const override;

 private:
  Thread();  // a thread that runs already (foreign)
  void Run();
  static void List(const std::shared_ptr<Thread>& thread);

  const DWORD id_;
  const LPTHREAD_START_ROUTINE start_;
  const LPVOID param_;
  // Under StateLock.
  DWORD suspendCount_;
  bool finished_ = false;
  DWORD exitCode_ = STILL_ACTIVE;
  int priority_ = kDefaultPriority;

  std::mutex queueMutex_;
  std::shared_ptr<MessageQueue> queue_;  // under queueMutex_
};

}  // namespace handheld::detail
