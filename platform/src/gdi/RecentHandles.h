// The handles of one kind looked up lately, each with its object: a paint
// finds the same device context and the same few fonts and brushes scores
// of times, and a look-up here is a few compares instead of the handle
// table's lock, hash and cast.
//
// Used under Surface::DrawingLock() only, by the drawing calls, which are
// also the only ones that remove handles of these kinds: they Forget a
// handle before removing it, and handle values are never reused, so a
// handle found here is still open. A pointer given out stays good until the
// next look-up in the same cache (an object stays alive as long as its
// handle is open).
#pragma once

#include <array>
#include <cstddef>
#include <memory>

#include "HandleTable.h"

namespace handheld::detail {

template <class T, size_t kEntries>
class RecentHandles {
 public:
  explicit RecentHandles(HandleKind kind) : kind_(kind) {}

  // The object behind an open handle of the kind holding a T, else null.
  const std::shared_ptr<T>* Find(const void* handle) {
    if (!handle) return nullptr;
    for (Entry& entry : entries_)
      if (entry.handle == handle) return &entry.object;
    std::shared_ptr<T> found = HandleTable::LookupAs<T>(kind_, handle);
    if (!found) return nullptr;
    Entry& entry = entries_[next_];
    next_ = (next_ + 1) % kEntries;
    entry.handle = handle;
    entry.object = std::move(found);
    return &entry.object;
  }
  T* FindObject(const void* handle) {
    const std::shared_ptr<T>* found = Find(handle);
    return found ? found->get() : nullptr;
  }
  void Forget(const void* handle) {
    for (Entry& entry : entries_)
      if (entry.handle == handle) entry = Entry{};
  }

 private:
  struct Entry {
    const void* handle = nullptr;
    std::shared_ptr<T> object;
  };

  const HandleKind kind_;
  std::array<Entry, kEntries> entries_{};
  size_t next_ = 0;  // the entry a miss replaces, oldest first
};

}  // namespace handheld::detail
