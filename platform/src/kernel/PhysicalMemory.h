// The handheld's physical address space and the virtual memory calls over
// it. Physical memory is a sparse file ("physical.mem", 4 GiB) in the device
// folder; VirtualCopy maps pages of it into a reservation, so all mappings
// of a physical page share its bytes. Pages that hold a device register are
// trapped: kept inaccessible in every mapping (see RegisterModel).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "Status.h"
#include "win/types.h"

namespace handheld::detail {

class PhysicalMemory {
 public:
  static constexpr uint64_t kSize = uint64_t{1} << 32;

  struct Mapping {
    uintptr_t address;
    DWORD physical;
    DWORD bytes;    // as requested
    DWORD protect;  // as requested
    size_t hostBytes;  // whole pages
    int hostProtection;
    bool released;
  };

  static PhysicalMemory& Instance();
  PhysicalMemory() = default;
  static size_t PageSize();

  Status Reserve(DWORD size, bool commit, DWORD protect, void** address);
  Status Map(void* dest, uint64_t physical, DWORD size, DWORD protect);
  Status Release(void* address);

  std::vector<Mapping> Mappings() const;

  // Keeps the page at `physicalPage` inaccessible in every mapping, present
  // and future, or lets it be mapped as requested again.
  void Trap(DWORD physicalPage);
  void Untrap(DWORD physicalPage);

  // For the trap handlers (no allocation): the physical address behind a
  // trapped mapped address, and the protection its mapping asked for.
  bool FindTrapped(uintptr_t address, DWORD* physical, int* hostProtection) const;
  // Reads and writes physical memory directly.
  bool ReadPhysical(DWORD physical, void* data, size_t bytes) const;
  bool WritePhysical(DWORD physical, const void* data, size_t bytes) const;

 private:
  Status OpenFileLocked();
  void ProtectLocked(const Mapping& mapping, DWORD physicalPage, bool trapped) const;

  mutable std::mutex mutex_;
  std::string path_;
  int fd_ = -1;
  std::map<uintptr_t, size_t> reservations_;  // base -> bytes
  std::vector<Mapping> mappings_;
  std::set<DWORD> trapped_;
};

}  // namespace handheld::detail
