// A file on the handheld's file system, kept under the device folder's
// "files/" root. Reads and writes go straight to the host file (no buffering
// in the process), so an abrupt exit loses nothing that WriteFile accepted.
// Share modes are honoured between the handles of this process.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "FileObject.h"

namespace handheld::detail {

class DiskFile : public FileObject {
 public:
  // Opens or creates `devicePath` ("\My Documents\Quelmar.log"). Returns
  // null with `*error` set on failure. On success `*error` is
  // ERROR_ALREADY_EXISTS when CREATE_ALWAYS or OPEN_ALWAYS found the file
  // already there, else ERROR_SUCCESS.
  static std::shared_ptr<DiskFile> Open(const std::u16string& devicePath, DWORD access,
                                        DWORD shareMode, DWORD creation, Status* error);
  // Removes a file that no handle of this process has open.
  static bool Delete(const std::u16string& devicePath, Status* error);

  DiskFile(int fd, dev_t device, ino_t inode, DWORD access);
  ~DiskFile() override;
  DiskFile(const DiskFile&) = delete;
  DiskFile& operator=(const DiskFile&) = delete;

  Status Read(void* buffer, DWORD count, DWORD* done) override;
  Status Write(const void* buffer, DWORD count, DWORD* done) override;
  Status Seek(int64_t distance, DWORD method, uint64_t* position) override;
  Status Size(uint64_t* size) override;
  Status Flush() override;
  void OnClose() override;

 private:
  const int fd_;
  const dev_t device_;
  const ino_t inode_;
  const DWORD access_;
};

}  // namespace handheld::detail
