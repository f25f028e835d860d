#include "PhysicalMemory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ProcessLifetime.h"
#include "handheld.h"

namespace handheld::detail {

namespace {

size_t RoundUp(size_t bytes, size_t page) { return (bytes + page - 1) / page * page; }

bool HostProtection(DWORD protect, int* prot) {
  switch (protect & 0xFF) {
    case PAGE_NOACCESS:
      *prot = PROT_NONE;
      return true;
    case PAGE_READONLY:
      *prot = PROT_READ;
      return true;
    case PAGE_READWRITE:
      *prot = PROT_READ | PROT_WRITE;
      return true;
    default:
      return false;
  }
}

}  // namespace

PhysicalMemory& PhysicalMemory::Instance() {
  return ProcessLifetime<PhysicalMemory>::Get();
}

size_t PhysicalMemory::PageSize() {
  static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return page;
}

Status PhysicalMemory::OpenFileLocked() {
  std::string path = DeviceFolder() + "/physical.mem";
  if (fd_ >= 0 && path == path_) return Status::Ok();
  mkdir(DeviceFolder().c_str(), 0700);
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return ERROR_ACCESS_DENIED;
  struct stat st {};
  if (fstat(fd, &st) != 0 ||
      (static_cast<uint64_t>(st.st_size) < kSize && ftruncate(fd, static_cast<off_t>(kSize)) != 0)) {
    close(fd);
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  // Mappings of the previous device folder keep their own reference.
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
  path_ = path;
  return Status::Ok();
}

Status PhysicalMemory::Reserve(DWORD size, bool commit, DWORD protect, void** address) {
  int prot = PROT_NONE;
  if (size == 0 || !HostProtection(protect, &prot)) return ERROR_INVALID_PARAMETER;
  size_t bytes = RoundUp(size, PageSize());
  void* base = mmap(nullptr, bytes, commit ? prot : PROT_NONE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (base == MAP_FAILED) return ERROR_NOT_ENOUGH_MEMORY;
  std::lock_guard<std::mutex> lock(mutex_);
  reservations_[reinterpret_cast<uintptr_t>(base)] = bytes;
  *address = base;
  return Status::Ok();
}

Status PhysicalMemory::Map(void* dest, uint64_t physical, DWORD size, DWORD protect) {
  const size_t page = PageSize();
  const uintptr_t start = reinterpret_cast<uintptr_t>(dest);
  const size_t bytes = RoundUp(size, page);
  int prot = PROT_NONE;
  if (size == 0 || start % page != 0 || physical % page != 0 || physical + bytes > kSize ||
      !HostProtection(protect, &prot))
    return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = reservations_.upper_bound(start);
  if (it == reservations_.begin()) return ERROR_INVALID_PARAMETER;
  --it;
  if (start + bytes > it->first + it->second) return ERROR_INVALID_PARAMETER;
  if (Status status = OpenFileLocked(); !status.ok()) return status;
  if (mmap(dest, bytes, prot, MAP_SHARED | MAP_FIXED, fd_, static_cast<off_t>(physical)) ==
      MAP_FAILED)
    return ERROR_NOT_ENOUGH_MEMORY;
  Mapping mapping{start, static_cast<DWORD>(physical), size, protect, bytes, prot, false};
  for (DWORD trappedPage : trapped_) ProtectLocked(mapping, trappedPage, true);
  mappings_.push_back(mapping);
  return Status::Ok();
}

Status PhysicalMemory::Release(void* address) {
  const uintptr_t start = reinterpret_cast<uintptr_t>(address);
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = reservations_.find(start);
  if (it == reservations_.end()) return ERROR_INVALID_PARAMETER;
  for (Mapping& mapping : mappings_)
    if (mapping.address >= start && mapping.address < start + it->second) mapping.released = true;
  munmap(address, it->second);
  reservations_.erase(it);
  return Status::Ok();
}

std::vector<PhysicalMemory::Mapping> PhysicalMemory::Mappings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return mappings_;
}

void PhysicalMemory::ProtectLocked(const Mapping& mapping, DWORD physicalPage, bool trapped) const {
  if (mapping.released || physicalPage < mapping.physical ||
      physicalPage - mapping.physical >= mapping.hostBytes)
    return;
  void* page = reinterpret_cast<void*>(mapping.address + (physicalPage - mapping.physical));
  mprotect(page, PageSize(), trapped ? PROT_NONE : mapping.hostProtection);
}

void PhysicalMemory::Trap(DWORD physicalPage) {
  std::lock_guard<std::mutex> lock(mutex_);
  static_cast<void>(OpenFileLocked());  // a read loads the register's value through the file
  if (!trapped_.insert(physicalPage).second) return;
  for (const Mapping& mapping : mappings_) ProtectLocked(mapping, physicalPage, true);
}

void PhysicalMemory::Untrap(DWORD physicalPage) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (trapped_.erase(physicalPage) == 0) return;
  for (const Mapping& mapping : mappings_) ProtectLocked(mapping, physicalPage, false);
}

bool PhysicalMemory::FindTrapped(uintptr_t address, DWORD* physical, int* hostProtection) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Mapping& mapping : mappings_) {
    if (mapping.released || address < mapping.address || address - mapping.address >= mapping.hostBytes)
      continue;
    DWORD at = mapping.physical + static_cast<DWORD>(address - mapping.address);
    if (trapped_.count(at & ~static_cast<DWORD>(PageSize() - 1)) == 0) return false;
    *physical = at;
    *hostProtection = mapping.hostProtection;
    return true;
  }
  return false;
}

bool PhysicalMemory::ReadPhysical(DWORD physical, void* data, size_t bytes) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fd_ >= 0 && pread(fd_, data, bytes, physical) == static_cast<ssize_t>(bytes);
}

bool PhysicalMemory::WritePhysical(DWORD physical, const void* data, size_t bytes) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fd_ >= 0 && pwrite(fd_, data, bytes, physical) == static_cast<ssize_t>(bytes);
}

}  // namespace handheld::detail
