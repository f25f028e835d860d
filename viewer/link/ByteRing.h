#pragma once

#include <windows.h>

// Fixed-capacity first-in first-out byte queue. No lock of its own: the
// owner guards every call.
class ByteRing {
 public:
  explicit ByteRing(WORD capacity);
  virtual ~ByteRing();

  ByteRing(const ByteRing&) = delete;
  ByteRing& operator=(const ByteRing&) = delete;

  bool Put(BYTE value);
  bool Get(BYTE& value);
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
