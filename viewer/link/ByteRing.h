#pragma once

#include <windows.h>

// Fixed-capacity first-in first-out byte queue. No lock of its own: the
// owner guards every call. Put and Get run once per received byte, so they
// are inline; an index that reaches the capacity goes back to 0 (the true
// remainder, without a division).
class ByteRing {
 public:
  explicit ByteRing(WORD capacity);
  virtual ~ByteRing();

  ByteRing(const ByteRing&) = delete;
  ByteRing& operator=(const ByteRing&) = delete;

  bool Put(BYTE value) {
    // Tested before anything is stored: a ring of capacity 0 is always full.
    if (count >= capacity) return false;
    storage[writeIndex] = value;
    if (++writeIndex == capacity) writeIndex = 0;
    ++count;
    return true;
  }
  bool Get(BYTE& value) {
    if (count == 0) return false;
    value = storage[readIndex];
    if (++readIndex == capacity) readIndex = 0;
    --count;
    return true;
  }
  // Stores the first bytes of `values` that fit, in order, as a Put for
  // each would; answers how many were stored.
  DWORD PutRun(const BYTE* values, DWORD size);
  // Takes up to `size` of the oldest bytes into `values`, as a Get for each
  // would; answers how many were taken.
  DWORD GetRun(BYTE* values, DWORD size);
  bool PeekAt(BYTE& value, DWORD offset) const;
  void Clear();

  DWORD Count() const { return count; }
  DWORD Capacity() const { return capacity; }

 private:
  DWORD capacity;
  BYTE* storage;
  DWORD count;
  DWORD readIndex;
  DWORD writeIndex;
};
