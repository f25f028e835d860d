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

// At most two copies each: up to the end of the storage, then from its start.
DWORD ByteRing::PutRun(const BYTE* values, DWORD size) {
  const DWORD room = capacity - count;
  const DWORD total = size < room ? size : room;
  DWORD done = 0;
  while (done < total) {
    const DWORD toEnd = capacity - writeIndex;
    const DWORD piece = total - done < toEnd ? total - done : toEnd;
    std::memcpy(storage + writeIndex, values + done, piece);
    writeIndex += piece;
    if (writeIndex == capacity) writeIndex = 0;
    done += piece;
  }
  count += total;
  return total;
}

DWORD ByteRing::GetRun(BYTE* values, DWORD size) {
  const DWORD total = size < count ? size : count;
  DWORD done = 0;
  while (done < total) {
    const DWORD toEnd = capacity - readIndex;
    const DWORD piece = total - done < toEnd ? total - done : toEnd;
    std::memcpy(values + done, storage + readIndex, piece);
    readIndex += piece;
    if (readIndex == capacity) readIndex = 0;
    done += piece;
  }
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
