#include "FileObject.h"

#include <cerrno>

namespace handheld::detail {

Status FileObject::ErrorFromErrno(int err) {
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
    case ELOOP:  // a symbolic link where none may be
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
      return ERROR_DISK_FULL;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    default:
      return ERROR_GEN_FAILURE;
  }
}

Status FileObject::Read(void*, DWORD, DWORD* done) {
  *done = 0;
  return ERROR_INVALID_FUNCTION;
}

Status FileObject::Write(const void*, DWORD, DWORD* done) {
  *done = 0;
  return ERROR_INVALID_FUNCTION;
}

Status FileObject::Seek(int64_t, DWORD, uint64_t*) { return ERROR_INVALID_FUNCTION; }

Status FileObject::Size(uint64_t*) { return ERROR_INVALID_FUNCTION; }

Status FileObject::Flush() { return ERROR_INVALID_FUNCTION; }

Status FileObject::IoControl(DWORD, void*, DWORD, void*, DWORD, DWORD* returned) {
  *returned = 0;
  return ERROR_INVALID_FUNCTION;
}

}  // namespace handheld::detail
