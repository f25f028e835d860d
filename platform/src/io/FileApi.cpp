// CreateFile and the calls that work on what it opens.
#include <memory>
#include <string>

#include "DiskFile.h"
#include "FileObject.h"
#include "DeviceTable.h"
#include "win/core.h"
#include "win/files.h"

using handheld::detail::DiskFile;
using handheld::detail::FileObject;
using handheld::detail::HandleTable;
using handheld::detail::KernelObject;
using handheld::detail::ReportStatus;
using handheld::detail::Status;
using handheld::detail::DeviceTable;

namespace {

constexpr DWORD kInvalidFileSize = 0xFFFFFFFFu;

std::shared_ptr<FileObject> LookupFile(HANDLE h) {
  std::shared_ptr<KernelObject> object = HandleTable::LookupKernel(h);
  FileObject* file = object ? object->AsFile() : nullptr;
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return std::shared_ptr<FileObject>(std::move(object), file);
}

}  // namespace

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                   DWORD creation, DWORD, HANDLE) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::u16string path(name);
  std::shared_ptr<FileObject> object;
  Status error;
  if (DeviceTable::IsDeviceName(path)) {
    object = DeviceTable::Open(path, access, shareMode, &error);
  } else {
    object = DiskFile::Open(path, access, shareMode, creation, &error);
  }
  if (!object) {
    SetLastError(error.code());
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = HandleTable::Add(object);
  if (!h) return INVALID_HANDLE_VALUE;
  SetLastError(error.code());  // ERROR_ALREADY_EXISTS when an existing file was opened or emptied
  return h;
}

BOOL ReadFile(HANDLE h, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
  if (read) *read = 0;
  std::shared_ptr<FileObject> file = LookupFile(h);
  if (!file) return FALSE;
  if (!buffer && toRead != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD done = 0;
  Status status = file->Read(buffer, toRead, &done);
  if (read) *read = done;
  return ReportStatus(status);
}

BOOL WriteFile(HANDLE h, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
  if (written) *written = 0;
  std::shared_ptr<FileObject> file = LookupFile(h);
  if (!file) return FALSE;
  if (!buffer && toWrite != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD done = 0;
  Status status = file->Write(buffer, toWrite, &done);
  if (written) *written = done;
  return ReportStatus(status);
}

DWORD SetFilePointer(HANDLE h, LONG distance, PLONG distanceHigh, DWORD method) {
  std::shared_ptr<FileObject> file = LookupFile(h);
  if (!file) return INVALID_SET_FILE_POINTER;
  int64_t move = distance;
  if (distanceHigh)
    move = static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                static_cast<uint32_t>(distance));
  uint64_t position = 0;
  if (!ReportStatus(file->Seek(move, method, &position))) return INVALID_SET_FILE_POINTER;
  if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<uint32_t>(position >> 32));
  // A position whose low half is all ones is told apart from failure by the
  // last error.
  SetLastError(NO_ERROR);
  return static_cast<DWORD>(position);
}

DWORD GetFileSize(HANDLE h, LPDWORD sizeHigh) {
  std::shared_ptr<FileObject> file = LookupFile(h);
  if (!file) return kInvalidFileSize;
  uint64_t size = 0;
  if (!ReportStatus(file->Size(&size))) return kInvalidFileSize;
  if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
  SetLastError(NO_ERROR);
  return static_cast<DWORD>(size);
}

BOOL FlushFileBuffers(HANDLE h) {
  std::shared_ptr<FileObject> file = LookupFile(h);
  if (!file) return FALSE;
  return ReportStatus(file->Flush());
}

BOOL DeleteFileW(LPCWSTR path) {
  if (!path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Status error;
  if (!DiskFile::Delete(path, &error)) return ReportStatus(error);
  return TRUE;
}

BOOL DeviceIoControl(HANDLE h, DWORD code, LPVOID in, DWORD inBytes, LPVOID out, DWORD outBytes,
                     LPDWORD returned, LPOVERLAPPED) {
  if (returned) *returned = 0;
  std::shared_ptr<FileObject> file = LookupFile(h);
  if (!file) return FALSE;
  DWORD done = 0;
  Status status = file->IoControl(code, in, inBytes, out, outBytes, &done);
  if (returned) *returned = done;
  return ReportStatus(status);
}
