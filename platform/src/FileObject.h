// Base of every object that CreateFile hands out: files on the handheld's
// file system, serial ports and stream devices. Each operation reports
// failure by returning false after setting the thread's last error; the
// defaults refuse with ERROR_INVALID_FUNCTION.
#pragma once

#include <cstdint>

#include "HandleTable.h"

namespace handheld::detail {

class FileObject : public KernelObject {
 public:
  // `*done` is set to the bytes moved, also when the call fails part way.
  virtual bool Read(void* buffer, DWORD count, DWORD* done);
  virtual bool Write(const void* buffer, DWORD count, DWORD* done);
  // SetFilePointer: `*position` receives the new 64-bit position.
  virtual bool Seek(int64_t distance, DWORD method, uint64_t* position);
  virtual bool Size(uint64_t* size);
  virtual bool Flush();
  virtual bool IoControl(DWORD code, void* in, DWORD inBytes, void* out, DWORD outBytes,
                         DWORD* returned);

  // The platform's error code for a host errno value.
  static DWORD ErrorFromErrno(int err);

 protected:
  static bool Fail(DWORD error);
};

}  // namespace handheld::detail
