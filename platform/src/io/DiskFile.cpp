#include "DiskFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <mutex>
#include <utility>

#include "DeviceFolder.h"
#include "HandheldPath.h"
#include "ProcessLifetime.h"
#include "win/files.h"

namespace handheld::detail {
namespace {

// Open handles per host file, for the share-mode checks.
struct ShareEntry {
  const DiskFile* file;
  DWORD access;
  DWORD shareMode;
};
using FileId = std::pair<dev_t, ino_t>;

struct ShareTable {
  std::mutex mutex;
  std::multimap<FileId, ShareEntry> entries;
};

ShareTable& Shares() { return ProcessLifetime<ShareTable>::Get(); }

bool Conflicts(const ShareEntry& open, DWORD access, DWORD shareMode) {
  const DWORD kData = GENERIC_READ | GENERIC_WRITE;
  if ((access & kData) == 0 || (open.access & kData) == 0) return false;
  return ((access & GENERIC_READ) && !(open.shareMode & FILE_SHARE_READ)) ||
         ((access & GENERIC_WRITE) && !(open.shareMode & FILE_SHARE_WRITE)) ||
         ((open.access & GENERIC_READ) && !(shareMode & FILE_SHARE_READ)) ||
         ((open.access & GENERIC_WRITE) && !(shareMode & FILE_SHARE_WRITE));
}

// Maps a device path to the host through the handheld's path gate.
bool MapPath(const std::u16string& devicePath, std::string* hostPath, Status* error) {
  HandheldPath path(devicePath);
  *error = path.status();
  *hostPath = path.host();
  return path.ok();
}

// The file system root and its standard folders exist on every handheld.
struct PreparedRoot {
  std::mutex mutex;
  std::string folder;
};

void PrepareRoot() {
  PreparedRoot& prepared = ProcessLifetime<PreparedRoot>::Get();
  std::string folder = DeviceFolder();
  std::lock_guard<std::mutex> lock(prepared.mutex);
  if (folder == prepared.folder) return;
  std::error_code ignored;
  std::filesystem::create_directories(folder + "/files/My Documents", ignored);
  std::filesystem::create_directories(folder + "/files/Windows", ignored);
  prepared.folder = folder;
}

// A missing file and a missing folder on its way are different errors.
Status MissingError(const std::string& hostPath) {
  std::string parent = std::filesystem::path(hostPath).parent_path().string();
  struct stat st {};
  if (stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ERROR_PATH_NOT_FOUND;
  return ERROR_FILE_NOT_FOUND;
}

Status OpenError(int err, const std::string& hostPath) {
  if (err == ENOENT) return MissingError(hostPath);
  return FileObject::ErrorFromErrno(err);
}

}  // namespace

namespace {

// The descriptor's flags for `access`; emptying needs a writable
// descriptor, while the handle still keeps to `access`. The path's gate has
// refused symbolic links already; O_NOFOLLOW refuses one put in the file's
// place since.
int OpenFlags(DWORD access, bool truncate) {
  int mode = O_RDONLY;
  if ((access & GENERIC_READ) && (access & GENERIC_WRITE))
    mode = O_RDWR;
  else if (access & GENERIC_WRITE)
    mode = O_WRONLY;
  if (truncate && mode == O_RDONLY) mode = O_RDWR;
  return mode | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW;
}

// Opens or creates the file as `creation` asks; -1 with *error. Whether the
// file was there matters for the result; a file removed or created between
// the two attempts is simply tried again. A file made here is the device's
// owner's alone (0600), whatever the umask.
int OpenOrCreate(const std::string& hostPath, int flags, DWORD creation, bool* existed,
                 Status* error) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    if (creation == CREATE_NEW || creation == CREATE_ALWAYS || creation == OPEN_ALWAYS) {
      const int fd = open(hostPath.c_str(), flags | O_CREAT | O_EXCL, 0600);
      if (fd >= 0) return fd;
      if (errno != EEXIST || creation == CREATE_NEW) {
        *error = OpenError(errno, hostPath);
        return -1;
      }
    }
    const int fd = open(hostPath.c_str(), flags);
    if (fd >= 0) {
      *existed = true;
      return fd;
    }
    if (errno != ENOENT || creation == OPEN_EXISTING || creation == TRUNCATE_EXISTING) {
      *error = OpenError(errno, hostPath);
      return -1;
    }
  }
  *error = ERROR_GEN_FAILURE;
  return -1;
}

}  // namespace

std::shared_ptr<DiskFile> DiskFile::Open(const std::u16string& devicePath, DWORD access,
                                         DWORD shareMode, DWORD creation, Status* error) {
  std::string hostPath;
  if (!MapPath(devicePath, &hostPath, error)) return nullptr;
  if (creation < CREATE_NEW || creation > TRUNCATE_EXISTING ||
      (creation == TRUNCATE_EXISTING && !(access & GENERIC_WRITE))) {
    *error = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  PrepareRoot();

  const bool truncate = creation == CREATE_ALWAYS || creation == TRUNCATE_EXISTING;
  bool existed = false;
  const int fd = OpenOrCreate(hostPath, OpenFlags(access, truncate), creation, &existed, error);
  if (fd < 0) return nullptr;

  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    *error = ERROR_ACCESS_DENIED;  // folders and special files are not files
    return nullptr;
  }
  // The descriptor only needs to block when it is a regular file, which
  // never blocks anyway; clear the flag so nothing surprises later.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);

  std::shared_ptr<DiskFile> file;
  {
    ShareTable& shares = Shares();
    std::lock_guard<std::mutex> lock(shares.mutex);
    auto range = shares.entries.equal_range(FileId(st.st_dev, st.st_ino));
    for (auto it = range.first; it != range.second; ++it) {
      if (Conflicts(it->second, access, shareMode)) {
        close(fd);
        *error = ERROR_SHARING_VIOLATION;
        return nullptr;  // the file was there before, so nothing was created
      }
    }
    // Emptied only once the share check has passed.
    if (truncate && existed && ftruncate(fd, 0) != 0) {
      *error = ErrorFromErrno(errno);
      close(fd);
      return nullptr;
    }
    file = std::make_shared<DiskFile>(fd, st.st_dev, st.st_ino, access);
    shares.entries.emplace(FileId(st.st_dev, st.st_ino),
                           ShareEntry{file.get(), access, shareMode});
  }
  *error = existed && (creation == CREATE_ALWAYS || creation == OPEN_ALWAYS)
               ? ERROR_ALREADY_EXISTS
               : ERROR_SUCCESS;
  return file;
}

bool DiskFile::Delete(const std::u16string& devicePath, Status* error) {
  std::string hostPath;
  if (!MapPath(devicePath, &hostPath, error)) return false;
  PrepareRoot();
  ShareTable& shares = Shares();
  std::lock_guard<std::mutex> lock(shares.mutex);
  struct stat st {};
  if (lstat(hostPath.c_str(), &st) != 0) {
    *error = OpenError(errno, hostPath);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    *error = ERROR_ACCESS_DENIED;
    return false;
  }
  if (shares.entries.count(FileId(st.st_dev, st.st_ino)) != 0) {
    *error = ERROR_SHARING_VIOLATION;
    return false;
  }
  if (unlink(hostPath.c_str()) != 0) {
    *error = OpenError(errno, hostPath);
    return false;
  }
  *error = ERROR_SUCCESS;
  return true;
}

DiskFile::DiskFile(int fd, dev_t device, ino_t inode, DWORD access)
    : fd_(fd), device_(device), inode_(inode), access_(access) {}

DiskFile::~DiskFile() {
  OnClose();  // in case the file never got a handle
  close(fd_);
}

void DiskFile::OnClose() {
  ShareTable& shares = Shares();
  std::lock_guard<std::mutex> lock(shares.mutex);
  auto range = shares.entries.equal_range(FileId(device_, inode_));
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second.file == this) {
      shares.entries.erase(it);
      return;
    }
  }
}

Status DiskFile::Read(void* buffer, DWORD count, DWORD* done) {
  *done = 0;
  if (!(access_ & GENERIC_READ)) return ERROR_ACCESS_DENIED;
  auto* bytes = static_cast<uint8_t*>(buffer);
  while (*done < count) {
    ssize_t n = read(fd_, bytes + *done, count - *done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrorFromErrno(errno);
    }
    if (n == 0) break;  // end of file
    *done += static_cast<DWORD>(n);
  }
  return Status::Ok();
}

Status DiskFile::Write(const void* buffer, DWORD count, DWORD* done) {
  *done = 0;
  if (!(access_ & GENERIC_WRITE)) return ERROR_ACCESS_DENIED;
  auto* bytes = static_cast<const uint8_t*>(buffer);
  while (*done < count) {
    ssize_t n = write(fd_, bytes + *done, count - *done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrorFromErrno(errno);
    }
    *done += static_cast<DWORD>(n);
  }
  return Status::Ok();
}

Status DiskFile::Seek(int64_t distance, DWORD method, uint64_t* position) {
  int whence;
  switch (method) {
    case FILE_BEGIN:
      whence = SEEK_SET;
      break;
    case FILE_CURRENT:
      whence = SEEK_CUR;
      break;
    case FILE_END:
      whence = SEEK_END;
      break;
    default:
      return ERROR_INVALID_PARAMETER;
  }
  off_t at = lseek(fd_, static_cast<off_t>(distance), whence);
  if (at < 0) return errno == EINVAL ? ERROR_NEGATIVE_SEEK : ErrorFromErrno(errno);
  *position = static_cast<uint64_t>(at);
  return Status::Ok();
}

Status DiskFile::Size(uint64_t* size) {
  struct stat st {};
  if (fstat(fd_, &st) != 0) return ErrorFromErrno(errno);
  *size = static_cast<uint64_t>(st.st_size);
  return Status::Ok();
}

Status DiskFile::Flush() {
  if (!(access_ & GENERIC_WRITE)) return ERROR_ACCESS_DENIED;
  if (fsync(fd_) != 0 && errno != EINVAL) return ErrorFromErrno(errno);
  return Status::Ok();
}

}  // namespace handheld::detail
