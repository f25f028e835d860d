// Bus address translation, device memory mapping and the register buffer
// transfers. The handheld has one bus address space, physical memory, and
// port access is register access.
#include <cstring>

#include "Ferrix.h"

namespace {

constexpr DWORD kCachedProtection = PAGE_READWRITE | PAGE_PHYSICAL;
constexpr DWORD kUncachedProtection = PAGE_READWRITE | PAGE_PHYSICAL | PAGE_NOCACHE;

DWORD PageMask() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize - 1;
}

// Every element is its own access of the register, in order.
template <class T>
void ReadBuffer(T* reg, T* buffer, ULONG count) {
  volatile T* device = reg;
  for (ULONG i = 0; i < count; ++i) buffer[i] = *device;
}

template <class T>
void WriteBuffer(T* reg, T* buffer, ULONG count) {
  volatile T* device = reg;
  for (ULONG i = 0; i < count; ++i) *device = buffer[i];
}

}  // namespace

extern "C" {

BOOLEAN HalTranslateBusAddress(INTERFACE_TYPE, ULONG, PHYSICAL_ADDRESS busAddress,
                               PULONG addressSpace, PPHYSICAL_ADDRESS translatedAddress) {
  *addressSpace = 0;
  std::memcpy(translatedAddress, &busAddress, sizeof(busAddress));
  return TRUE;
}

PVOID MmMapIoSpace(PHYSICAL_ADDRESS physicalAddress, ULONG bytes, BOOLEAN cacheEnable) {
  const DWORD mask = PageMask();
  const DWORD offset = physicalAddress.LowPart & mask;
  const DWORD pageBase = physicalAddress.LowPart & ~mask;
  const DWORD length = bytes + offset;
  auto* reserved = static_cast<BYTE*>(VirtualAlloc(nullptr, length, MEM_RESERVE, PAGE_NOACCESS));
  if (!reserved) return nullptr;
  if (!VirtualCopy(reserved, reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(pageBase >> 8)),
                   length, cacheEnable ? kCachedProtection : kUncachedProtection)) {
    VirtualFree(reserved, length, MEM_RELEASE);
    return nullptr;
  }
  return reserved + offset;
}

void MmUnmapIoSpace(PVOID address, ULONG bytes) {
  const ULONG_PTR mask = PageMask();
  const ULONG_PTR at = reinterpret_cast<ULONG_PTR>(address);
  VirtualFree(reinterpret_cast<LPVOID>(at & ~mask), bytes + static_cast<DWORD>(at & mask),
              MEM_RELEASE);
}

PVOID MapDeviceIO(ULONG busAddress, ULONG bytes, PULONG addressSpace,
                  INTERFACE_TYPE interfaceType, ULONG busNumber) {
  PHYSICAL_ADDRESS bus;
  bus.QuadPart = busAddress;
  PHYSICAL_ADDRESS translated;
  if (!HalTranslateBusAddress(interfaceType, busNumber, bus, addressSpace, &translated))
    return nullptr;
  if (*addressSpace != 0)
    return reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(translated.LowPart));
  return MmMapIoSpace(translated, bytes, FALSE);
}

void READ_REGISTER_BUFFER_UCHAR(PUCHAR reg, PUCHAR buffer, ULONG count) { ReadBuffer(reg, buffer, count); }
void READ_REGISTER_BUFFER_USHORT(PUSHORT reg, PUSHORT buffer, ULONG count) { ReadBuffer(reg, buffer, count); }
void READ_REGISTER_BUFFER_ULONG(PULONG reg, PULONG buffer, ULONG count) { ReadBuffer(reg, buffer, count); }
void WRITE_REGISTER_BUFFER_UCHAR(PUCHAR reg, PUCHAR buffer, ULONG count) { WriteBuffer(reg, buffer, count); }
void WRITE_REGISTER_BUFFER_USHORT(PUSHORT reg, PUSHORT buffer, ULONG count) { WriteBuffer(reg, buffer, count); }
void WRITE_REGISTER_BUFFER_ULONG(PULONG reg, PULONG buffer, ULONG count) { WriteBuffer(reg, buffer, count); }
void READ_PORT_BUFFER_UCHAR(PUCHAR port, PUCHAR buffer, ULONG count) { ReadBuffer(port, buffer, count); }
void READ_PORT_BUFFER_USHORT(PUSHORT port, PUSHORT buffer, ULONG count) { ReadBuffer(port, buffer, count); }
void READ_PORT_BUFFER_ULONG(PULONG port, PULONG buffer, ULONG count) { ReadBuffer(port, buffer, count); }
void WRITE_PORT_BUFFER_UCHAR(PUCHAR port, PUCHAR buffer, ULONG count) { WriteBuffer(port, buffer, count); }
void WRITE_PORT_BUFFER_USHORT(PUSHORT port, PUSHORT buffer, ULONG count) { WriteBuffer(port, buffer, count); }
void WRITE_PORT_BUFFER_ULONG(PULONG port, PULONG buffer, ULONG count) { WriteBuffer(port, buffer, count); }

}  // extern "C"
