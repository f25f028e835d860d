// The process's handle table: handle values count upwards and are never
// handed out twice, so a stale handle is simply not found.
#include "HandleTable.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace handheld::detail {
namespace {

struct Table {
  std::mutex mutex;
  std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> handles;
  std::unordered_map<const KernelObject*, size_t> openHandles;  // per object
  // Far from 0 and from the all-bits-set values (INVALID_HANDLE_VALUE and the
  // pseudo handles); multiples of 4 like the handheld's own handles.
  uintptr_t next = 0x10000;
};

// Never destroyed: threads that outlive main may still close their handles.
Table& TheTable() {
  static Table* table = new Table;
  return *table;
}

HANDLE AddLocked(Table& table, const std::shared_ptr<KernelObject>& object) {
  uintptr_t value = table.next;
  table.next += 4;
  table.handles.emplace(value, object);
  ++table.openHandles[object.get()];
  return reinterpret_cast<HANDLE>(value);
}

}  // namespace

HANDLE HandleTable::Add(std::shared_ptr<KernelObject> object) {
  if (!object) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Table& table = TheTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  return AddLocked(table, object);
}

HANDLE HandleTable::Duplicate(const std::shared_ptr<KernelObject>& object) {
  if (!object) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Table& table = TheTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  // Once its last handle is gone the object is closing; it gets no new ones.
  auto it = table.openHandles.find(object.get());
  if (it == table.openHandles.end() || it->second == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return AddLocked(table, object);
}

std::shared_ptr<KernelObject> HandleTable::Lookup(HANDLE h) {
  Table& table = TheTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.handles.find(reinterpret_cast<uintptr_t>(h));
  if (it == table.handles.end()) return nullptr;
  return it->second;
}

bool HandleTable::Remove(HANDLE h) {
  Table& table = TheTable();
  std::shared_ptr<KernelObject> closing;
  {
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.handles.find(reinterpret_cast<uintptr_t>(h));
    if (it == table.handles.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    std::shared_ptr<KernelObject> object = std::move(it->second);
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
  return true;
}

}  // namespace handheld::detail
