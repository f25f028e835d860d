#include "FileObject.h"

#include <cerrno>

namespace handheld::detail {

DWORD FileObject::ErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case EBUSY:
    case ETXTBSY:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ENAMETOOLONG:
    case EILSEQ:
      return ERROR_INVALID_NAME;
    case ENOSPC:
    case EDQUOT:
      return 112;  // ERROR_DISK_FULL
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case EMFILE:
    case ENFILE:
      return 4;  // ERROR_TOO_MANY_OPEN_FILES
    default:
      return ERROR_GEN_FAILURE;
  }
}

bool FileObject::Fail(DWORD error) {
  SetLastError(error);
  return false;
}

bool FileObject::Read(void*, DWORD, DWORD* done) {
  *done = 0;
  return Fail(ERROR_INVALID_FUNCTION);
}

bool FileObject::Write(const void*, DWORD, DWORD* done) {
  *done = 0;
  return Fail(ERROR_INVALID_FUNCTION);
}

bool FileObject::Seek(int64_t, DWORD, uint64_t*) { return Fail(ERROR_INVALID_FUNCTION); }

bool FileObject::Size(uint64_t*) { return Fail(ERROR_INVALID_FUNCTION); }

bool FileObject::Flush() { return Fail(ERROR_INVALID_FUNCTION); }

bool FileObject::IoControl(DWORD, void*, DWORD, void*, DWORD, DWORD* returned) {
  *returned = 0;
  return Fail(ERROR_INVALID_FUNCTION);
}

}  // namespace handheld::detail
