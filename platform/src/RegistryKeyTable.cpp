#include "RegistryKeyTable.h"

#include <pthread.h>

#include <mutex>
#include <unordered_map>

namespace handheld::detail {
namespace {

constexpr uintptr_t kPredefinedFirst = 0x80000000u;
constexpr uintptr_t kPredefinedLast = 0x80000003u;

struct Table {
  uintptr_t next = 0x10000;
  std::unordered_map<uintptr_t, RegistryKeyTable::Entry> entries;
};

std::mutex tableMutex;
Table* const table = new Table;  // never destroyed: threads may outlive exit

// A forked child keeps its parent's handles (their hives reconnect there);
// the table's lock must not be copied while another thread holds it.
Table& Current() {
  static std::once_flag once;
  std::call_once(once, [] {
    pthread_atfork([] { tableMutex.lock(); }, [] { tableMutex.unlock(); },
                   [] { tableMutex.unlock(); });
  });
  return *table;
}

}  // namespace

bool RegistryKeyTable::IsPredefined(HKEY handle) {
  auto value = reinterpret_cast<uintptr_t>(handle);
  return value >= kPredefinedFirst && value <= kPredefinedLast;
}

HKEY RegistryKeyTable::Add(std::shared_ptr<RegistryHive> hive, int64_t key) {
  std::lock_guard<std::mutex> lock(tableMutex);
  Table& t = Current();
  uintptr_t value = t.next;
  t.next += 4;
  if (t.next >= kPredefinedFirst && t.next <= kPredefinedLast + 4) t.next = kPredefinedLast + 5;
  t.entries.emplace(value, Entry{std::move(hive), key});
  return reinterpret_cast<HKEY>(value);
}

LONG RegistryKeyTable::Lookup(HKEY handle, Entry* entry) {
  auto value = reinterpret_cast<uintptr_t>(handle);
  if (IsPredefined(handle)) {
    std::shared_ptr<RegistryHive> hive = RegistryHive::Current();
    if (!hive) return ERROR_CANTREAD;
    entry->hive = std::move(hive);
    entry->key = RegistryHive::kClassesRoot + static_cast<int64_t>(value - kPredefinedFirst);
    return ERROR_SUCCESS;
  }
  std::lock_guard<std::mutex> lock(tableMutex);
  Table& t = Current();
  auto found = t.entries.find(value);
  if (found == t.entries.end()) return ERROR_INVALID_HANDLE;
  *entry = found->second;
  return ERROR_SUCCESS;
}

LONG RegistryKeyTable::Remove(HKEY handle) {
  if (IsPredefined(handle)) return ERROR_SUCCESS;
  std::shared_ptr<RegistryHive> release;  // the hive may close outside the lock
  std::lock_guard<std::mutex> lock(tableMutex);
  Table& t = Current();
  auto found = t.entries.find(reinterpret_cast<uintptr_t>(handle));
  if (found == t.entries.end()) return ERROR_INVALID_HANDLE;
  release = std::move(found->second.hive);
  t.entries.erase(found);
  return ERROR_SUCCESS;
}

}  // namespace handheld::detail
