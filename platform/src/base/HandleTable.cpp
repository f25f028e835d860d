// The process's handle table: one counter for the values of every kind,
// counting upwards, so no value is handed out twice.
#include "HandleTable.h"

#include <pthread.h>

#include <atomic>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "ProcessLifetime.h"

namespace handheld::detail {
namespace {

// Far from 0 and from the all-bits-set values (INVALID_HANDLE_VALUE and the
// pseudo handles); multiples of 4 like the handheld's own handles.
constexpr uintptr_t kFirstValue = 0x10000;
constexpr uintptr_t kStep = 4;
// The predefined registry roots (HKEY_CLASSES_ROOT .. HKEY_USERS) live here.
constexpr uintptr_t kReservedFirst = 0x80000000u;
constexpr uintptr_t kReservedLast = 0x80000003u;

struct Entry {
  HandleKind kind;
  std::shared_ptr<HandleObject> object;
};

struct Table {
  std::mutex mutex;
  std::unordered_map<uintptr_t, Entry> handles;
  std::unordered_map<const HandleObject*, size_t> openHandles;  // per object
  uintptr_t next = kFirstValue;
  // Counts the removals, bumped under the lock before each one: a look-up
  // a thread remembers still holds while the count is what it was then.
  std::atomic<uint64_t> removals{0};

  Table() {
    // A forked child keeps its parent's handles (registry keys reconnect
    // there); the lock must not be copied while another thread holds it.
    pthread_atfork([] { ProcessLifetime<Table>::Get().mutex.lock(); },
                   [] { ProcessLifetime<Table>::Get().mutex.unlock(); },
                   [] { ProcessLifetime<Table>::Get().mutex.unlock(); });
  }

  void* AddLocked(HandleKind kind, const std::shared_ptr<HandleObject>& object) {
    uintptr_t value = next;
    next += kStep;
    if (next >= kReservedFirst && next <= kReservedLast) next = kReservedFirst + kStep;
    handles.emplace(value, Entry{kind, object});
    ++openHandles[object.get()];
    return reinterpret_cast<void*>(value);
  }
};

Table& TheTable() { return ProcessLifetime<Table>::Get(); }

// Each thread's last look-up, so that a thread that uses one handle over and
// over (a ReadFile a byte) finds it without the table's lock. It holds the
// object weakly: a closed handle's object is not kept alive by a thread
// that looked it up once. (Reached without a call: this file is built
// with the initial-exec TLS model.)
struct LastLookup {
  uintptr_t value = 0;
  HandleKind kind = HandleKind::kKernelObject;
  uint64_t removals = 0;
  std::weak_ptr<HandleObject> object;
};
thread_local LastLookup lastLookup;

}  // namespace

void* HandleTable::Add(HandleKind kind, std::shared_ptr<HandleObject> object) {
  if (!object) return nullptr;
  Table& table = TheTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  return table.AddLocked(kind, object);
}

void* HandleTable::Duplicate(HandleKind kind, const std::shared_ptr<HandleObject>& object) {
  if (!object) return nullptr;
  Table& table = TheTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  // Once its last handle is gone the object is closing; it gets no new ones.
  auto it = table.openHandles.find(object.get());
  if (it == table.openHandles.end() || it->second == 0) return nullptr;
  return table.AddLocked(kind, object);
}

std::shared_ptr<HandleObject> HandleTable::Lookup(HandleKind kind, const void* value) {
  Table& table = TheTable();
  const auto key = reinterpret_cast<uintptr_t>(value);
  LastLookup& last = lastLookup;
  // No removal since the last look-up of this handle: it is open still.
  if (last.value == key && last.kind == kind &&
      last.removals == table.removals.load(std::memory_order_acquire)) {
    if (std::shared_ptr<HandleObject> object = last.object.lock()) return object;
  }
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.handles.find(key);
  if (it == table.handles.end() || it->second.kind != kind) return nullptr;
  last.value = key;
  last.kind = kind;
  last.removals = table.removals.load(std::memory_order_relaxed);
  last.object = it->second.object;
  return it->second.object;
}

Status HandleTable::Remove(HandleKind kind, const void* value) {
  Table& table = TheTable();
  std::shared_ptr<HandleObject> closing;
  {
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.handles.find(reinterpret_cast<uintptr_t>(value));
    if (it == table.handles.end() || it->second.kind != kind) return ERROR_INVALID_HANDLE;
    table.removals.fetch_add(1, std::memory_order_release);
    std::shared_ptr<HandleObject> object = std::move(it->second.object);
    table.handles.erase(it);
    auto count = table.openHandles.find(object.get());
    if (--count->second == 0) {
      table.openHandles.erase(count);
      closing = std::move(object);
    }
  }
  // Outside the lock: OnClose may wake other threads that use handles, and
  // the object may be destroyed right here when nobody else holds it.
  if (closing) closing->OnClose();
  return Status::Ok();
}

}  // namespace handheld::detail
