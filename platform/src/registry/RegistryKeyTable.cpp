#include "RegistryKeyTable.h"

namespace handheld::detail {
namespace {

constexpr uintptr_t kPredefinedFirst = 0x80000000u;
constexpr uintptr_t kPredefinedLast = 0x80000003u;

class RegistryKey : public HandleObject {
 public:
  explicit RegistryKey(RegistryKeyTable::Entry entry) : entry(std::move(entry)) {}
  const RegistryKeyTable::Entry entry;
};

}  // namespace

bool RegistryKeyTable::IsPredefined(HKEY handle) {
  auto value = reinterpret_cast<uintptr_t>(handle);
  return value >= kPredefinedFirst && value <= kPredefinedLast;
}

HKEY RegistryKeyTable::Add(std::shared_ptr<RegistryHive> hive, int64_t key) {
  return HandleTable::Add<HKEY>(HandleKind::kRegistryKey,
                                std::make_shared<RegistryKey>(Entry{std::move(hive), key}));
}

Status RegistryKeyTable::Lookup(HKEY handle, Entry* entry) {
  if (IsPredefined(handle)) {
    std::shared_ptr<RegistryHive> hive = RegistryHive::Current();
    if (!hive) return ERROR_CANTREAD;
    entry->hive = std::move(hive);
    entry->key = RegistryHive::kClassesRoot +
                 static_cast<int64_t>(reinterpret_cast<uintptr_t>(handle) - kPredefinedFirst);
    return Status::Ok();
  }
  auto key = HandleTable::LookupAs<RegistryKey>(HandleKind::kRegistryKey, handle);
  if (!key) return ERROR_INVALID_HANDLE;
  *entry = key->entry;
  return Status::Ok();
}

Status RegistryKeyTable::Remove(HKEY handle) {
  if (IsPredefined(handle)) return Status::Ok();
  return HandleTable::Remove(HandleKind::kRegistryKey, handle);
}

}  // namespace handheld::detail
