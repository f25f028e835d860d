#include "ByteRing.h"

#include <cstring>
#include <new>

// The storage is allocated without throwing. Should the allocation fail,
// the ring keeps a capacity of 0 and behaves as a ring that holds nothing:
// every Put is refused and Get and PeekAt find it empty.
ByteRing::ByteRing(WORD capacityBytes)
    : capacity(capacityBytes), storage(nullptr), count(0), readIndex(0), writeIndex(0) {
  if (capacity > 0) {
    storage = new (std::nothrow) BYTE[capacity];
    if (storage == nullptr) capacity = 0;
  }
}

ByteRing::~ByteRing() { delete[] storage; }

namespace {

// Copies `total` bytes between the storage, from `index` on, and the
// caller's bytes: at most two pieces, up to the storage's end and then from
// its start. `copy(at, done, piece)` moves one piece. Answers the index
// after the bytes.
template <typename Copy>
DWORD CopyWrapping(DWORD index, DWORD total, DWORD capacity, Copy copy) {
  DWORD done = 0;
  while (done < total) {
    const DWORD toEnd = capacity - index;
    const DWORD piece = total - done < toEnd ? total - done : toEnd;
    copy(index, done, piece);
    index += piece;
    if (index == capacity) index = 0;
    done += piece;
  }
  return index;
}

}  // namespace

DWORD ByteRing::PutRun(const BYTE* values, DWORD size) {
  const DWORD room = capacity - count;
  const DWORD total = size < room ? size : room;
  writeIndex = CopyWrapping(writeIndex, total, capacity, [&](DWORD at, DWORD done, DWORD piece) {
    std::memcpy(storage + at, values + done, piece);
  });
  count += total;
  return total;
}

DWORD ByteRing::GetRun(BYTE* values, DWORD size) {
  const DWORD total = size < count ? size : count;
  readIndex = CopyWrapping(readIndex, total, capacity, [&](DWORD at, DWORD done, DWORD piece) {
    std::memcpy(values + done, storage + at, piece);
  });
  count -= total;
  return total;
}

bool ByteRing::PeekAt(BYTE& value, DWORD offset) const {
  if (count <= offset) return false;
  value = storage[(readIndex + offset) % capacity];
  return true;
}

void ByteRing::Clear() {
  count = 0;
  readIndex = 0;
  writeIndex = 0;
}
