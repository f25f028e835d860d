#include "ByteRing.h"

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
