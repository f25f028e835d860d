#include "Thread.h"

#include <atomic>
#include <unordered_map>
#include <system_error>
#include <thread>

#include "MessageQueue.h"
#include "ModuleLoader.h"
#include "ProcessLifetime.h"

namespace handheld::detail {
namespace {

std::atomic<DWORD> nextThreadId{0x1000};

DWORD NewThreadId() { return nextThreadId.fetch_add(4); }

// The record of the calling thread. Threads started here point at the record
// their std::thread keeps alive; other threads own theirs.
thread_local Thread* current = nullptr;
struct ForeignRecord {
  std::shared_ptr<Thread> thread;
  ~ForeignRecord() { current = nullptr; }
};
thread_local ForeignRecord foreignRecord;

// Threads by id, for posting to a thread.
struct ThreadIds {
  std::mutex mutex;
  std::unordered_map<DWORD, std::weak_ptr<Thread>> threads;
};

}  // namespace

void Thread::List(const std::shared_ptr<Thread>& thread) {
  ThreadIds& ids = ProcessLifetime<ThreadIds>::Get();
  std::lock_guard<std::mutex> lock(ids.mutex);
  ids.threads[thread->id_] = thread;
}

std::shared_ptr<Thread> Thread::FromId(DWORD id) {
  ThreadIds& ids = ProcessLifetime<ThreadIds>::Get();
  std::lock_guard<std::mutex> lock(ids.mutex);
  auto it = ids.threads.find(id);
  return it == ids.threads.end() ? nullptr : it->second.lock();
}

std::vector<int> Thread::RunningPriorities() {
  std::vector<std::shared_ptr<Thread>> threads;  // released outside the lock
  {
    ThreadIds& ids = ProcessLifetime<ThreadIds>::Get();
    std::lock_guard<std::mutex> lock(ids.mutex);
    for (const auto& [id, thread] : ids.threads)
      if (auto live = thread.lock()) threads.push_back(std::move(live));
  }
  std::vector<int> priorities;
  for (const auto& thread : threads)
    if (thread->start_ && !thread->Finished()) priorities.push_back(thread->Priority());
  return priorities;
}

std::shared_ptr<Thread> Thread::Create(LPTHREAD_START_ROUTINE start, LPVOID param,
                                       DWORD suspendCount) {
  auto thread = std::make_shared<Thread>(start, param, suspendCount);
  List(thread);
  return thread;
}

std::shared_ptr<MessageQueue> Thread::Queue() {
  std::lock_guard<std::mutex> lock(queueMutex_);
  if (!queue_) queue_ = std::make_shared<MessageQueue>();
  return queue_;
}

Thread::Thread(LPTHREAD_START_ROUTINE start, LPVOID param, DWORD suspendCount)
    : id_(NewThreadId()), start_(start), param_(param), suspendCount_(suspendCount) {}

Thread::Thread() : id_(NewThreadId()), start_(nullptr), param_(nullptr), suspendCount_(0) {}

Thread::~Thread() {
  ThreadIds& ids = ProcessLifetime<ThreadIds>::Get();
  std::lock_guard<std::mutex> lock(ids.mutex);
  auto it = ids.threads.find(id_);
  if (it != ids.threads.end() && it->second.expired()) ids.threads.erase(it);
}

std::shared_ptr<Thread> Thread::Current() {
  if (current) return current->shared_from_this();
  foreignRecord.thread = std::shared_ptr<Thread>(new Thread());
  List(foreignRecord.thread);
  current = foreignRecord.thread.get();
  return foreignRecord.thread;
}

std::shared_ptr<Thread> Thread::FromHandle(HANDLE h) {
  if (h == kCurrentThreadPseudoHandle) return Current();
  return HandleTable::LookupAs<Thread>(h);
}

DWORD Thread::Resume() {
  {
    std::lock_guard<std::mutex> lock(StateLock());
    if (suspendCount_ == 0) return 0;
    if (suspendCount_ > 1) return suspendCount_--;
    suspendCount_ = 0;  // this call starts it, no other
  }
  // The std::thread keeps the record alive until the routine returned, so
  // the creator may close its handle at once. It is detached: a finished
  // thread leaves nothing behind, and nobody joins it.
  try {
    std::thread([self = shared_from_this()] { self->Run(); }).detach();
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> lock(StateLock());
    suspendCount_ = 1;
    return 0xFFFFFFFFu;
  }
  return 1;
}

void Thread::Run() {
  current = this;
  ModuleLoader::Instance().ThreadStarted();
  DWORD code = start_(param_);
  ModuleLoader::Instance().ThreadEnding();
  {
    std::lock_guard<std::mutex> lock(StateLock());
    exitCode_ = code;
    finished_ = true;
    WakeWaiters();
  }
  current = nullptr;
}

DWORD Thread::ExitCode() const {
  std::lock_guard<std::mutex> lock(StateLock());
  return exitCode_;
}

int Thread::Priority() const {
  std::lock_guard<std::mutex> lock(StateLock());
  return priority_;
}

void Thread::SetPriority(int priority) {
  std::lock_guard<std::mutex> lock(StateLock());
  priority_ = priority;
}

bool Thread::Finished() const {
  std::lock_guard<std::mutex> lock(StateLock());
  return finished_;
}

bool Thread::IsSignalled() const { return finished_; }

}  // namespace handheld::detail
