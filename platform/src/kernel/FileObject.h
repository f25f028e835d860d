// Base of every object that CreateFile hands out: files on the handheld's
// file system, serial ports and stream devices. Each operation returns its
// status; the defaults refuse with ERROR_INVALID_FUNCTION.
#pragma once

#include <cstdint>

#include "HandleTable.h"
#include "Status.h"

namespace handheld::detail {

class FileObject : public KernelObject {
 public:
  FileObject* AsFile() final { return this; }
  // `*done` is set to the bytes moved, also when the call fails part way.
  virtual Status Read(void* buffer, DWORD count, DWORD* done);
  virtual Status Write(const void* buffer, DWORD count, DWORD* done);
  // SetFilePointer: `*position` receives the new 64-bit position.
  virtual Status Seek(int64_t distance, DWORD method, uint64_t* position);
  virtual Status Size(uint64_t* size);
  virtual Status Flush();
  virtual Status IoControl(DWORD code, void* in, DWORD inBytes, void* out, DWORD outBytes,
                           DWORD* returned);

  // The platform's error code for a host errno value.
  static Status ErrorFromErrno(int err);
};

}  // namespace handheld::detail
