// System information, virtual memory over the simulated physical address
// space, and the host's controls of device registers.
#include "PhysicalMemory.h"
#include "RegisterModel.h"
#include "handheld.h"

using handheld::detail::PhysicalMemory;
using handheld::detail::RegisterModel;
using handheld::detail::ReportStatus;
using handheld::detail::Status;

void GetSystemInfo(LPSYSTEM_INFO info) {
  if (!info) return;
  *info = SYSTEM_INFO{};
  info->dwPageSize = static_cast<DWORD>(PhysicalMemory::PageSize());
  info->dwAllocationGranularity = 0x10000;
  info->dwNumberOfProcessors = 1;
  info->dwActiveProcessorMask = 1;
}

LPVOID VirtualAlloc(LPVOID address, DWORD size, DWORD type, DWORD protect) {
  // Only reservations at an address of the platform's choosing.
  if (address || !(type & MEM_RESERVE) || (type & ~(MEM_RESERVE | MEM_COMMIT))) {
    ReportStatus(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* base = nullptr;
  if (!ReportStatus(PhysicalMemory::Instance().Reserve(size, (type & MEM_COMMIT) != 0, protect, &base)))
    return nullptr;
  return base;
}

BOOL VirtualCopy(LPVOID dest, LPVOID src, DWORD size, DWORD protect) {
  if (!(protect & PAGE_PHYSICAL)) return ReportStatus(ERROR_INVALID_PARAMETER);
  uint64_t physical = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(src)) << 8;
  return ReportStatus(PhysicalMemory::Instance().Map(dest, physical, size, protect));
}

BOOL VirtualFree(LPVOID address, DWORD, DWORD type) {
  return ReportStatus(type == MEM_RELEASE ? PhysicalMemory::Instance().Release(address)
                                          : Status(ERROR_INVALID_PARAMETER));
}

namespace handheld {

std::vector<PhysicalMapping> PhysicalMappings() {
  std::vector<PhysicalMapping> mappings;
  for (const auto& m : PhysicalMemory::Instance().Mappings())
    mappings.push_back({reinterpret_cast<void*>(m.address), m.physical, m.bytes, m.protect});
  return mappings;
}

bool RegisterTrapsAvailable(std::string* reason) { return RegisterModel::Available(reason); }

bool AttachRegister(DWORD physical, DWORD width) {
  return RegisterModel::Instance().Attach(physical, width);
}

void DetachRegister(DWORD physical) { RegisterModel::Instance().Detach(physical); }

void QueueRegisterReads(DWORD physical, const std::vector<DWORD>& values) {
  RegisterModel::Instance().Queue(physical, values);
}

RegisterAccesses GetRegisterAccesses(DWORD physical) {
  return {RegisterModel::Instance().Reads(physical), RegisterModel::Instance().Writes(physical)};
}

}  // namespace handheld
