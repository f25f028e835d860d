// Ferrix, the sleeve library: sleeve presence, identity, power, interrupt
// and reset; card-detect and active-driver registry helpers; bus address
// translation and register buffer access under the driver kit's names.
// Every export keeps no state and may be called from any thread.
#pragma once

#include "windows.h"

extern "C" {

// ---- sleeve detection and control ----
// 1 while a sleeve is attached, else 0.
DWORD IsSleevePresent();
// The attached sleeve's identity (upper and lower half name its driver
// key), or 0 when none is attached or none was published within 5 seconds.
// Blocks while the platform publishes it.
DWORD GetSleeveID();
// Switches sleeve power on: 0 when it was on already, else 1.
DWORD SleevePower();
// Enables the sleeve interrupt when `enable` is 1, disables it otherwise.
DWORD OPTIntEnable(DWORD enable);
// Asserts the sleeve reset line for `ms` milliseconds, then releases it.
DWORD OPTReset(DWORD ms);

// ---- detect keys and driver registry helpers ----
// One row of a value table; a row whose name is null ends the table. `data`
// holds the value itself for REG_DWORD and a pointer to the (multi-)string
// for REG_SZ and REG_MULTI_SZ (pointer-sized: 32 bits on the handheld).
struct KeyValueEntry {
  LPCWSTR name;
  DWORD type;
  ULONG_PTR data;
};

// Registers (dll, entry) under "Drivers\PCMCIA\Detect": 1 when the
// registration exists afterwards, else 0.
DWORD AddDetectKey(LPCWSTR dll, LPCWSTR entry);
// Removes that registration: 0 only when the detect key cannot be opened.
DWORD RemoveDetectKey(LPCWSTR dll, LPCWSTR entry);
// Creates `subKey` below `parent` and writes the table into it: 1 when
// every value was written, else 0 (and a key this call created is removed).
DWORD AddKeyValues(HKEY parent, LPCWSTR subKey, const KeyValueEntry* table);
// The "Hnd" of the active driver loaded from `keyPath`, or 0.
DWORD GetDriversActiveHandle(LPCWSTR keyPath);

// ---- bus address translation and register access ----
typedef enum _INTERFACE_TYPE {
  InterfaceTypeUndefined = -1,
  Internal = 0,
  Isa,
  Eisa,
  MicroChannel,
  TurboChannel,
  PCIBus,
  VMEBus,
  NuBus,
  PCMCIABus,
  MaximumInterfaceType = 16
} INTERFACE_TYPE;

// Bus addresses are physical addresses, always in memory space.
BOOLEAN HalTranslateBusAddress(INTERFACE_TYPE interfaceType, ULONG busNumber,
                               PHYSICAL_ADDRESS busAddress, PULONG addressSpace,
                               PPHYSICAL_ADDRESS translatedAddress);
PVOID MmMapIoSpace(PHYSICAL_ADDRESS physicalAddress, ULONG bytes, BOOLEAN cacheEnable);
void MmUnmapIoSpace(PVOID address, ULONG bytes);
// Translates and maps (uncached); null on failure. Pointer-sized result.
PVOID MapDeviceIO(ULONG busAddress, ULONG bytes, PULONG addressSpace,
                  INTERFACE_TYPE interfaceType, ULONG busNumber);

// Each element is one separate access of the same register address.
void READ_REGISTER_BUFFER_UCHAR(PUCHAR reg, PUCHAR buffer, ULONG count);
void READ_REGISTER_BUFFER_USHORT(PUSHORT reg, PUSHORT buffer, ULONG count);
void READ_REGISTER_BUFFER_ULONG(PULONG reg, PULONG buffer, ULONG count);
void WRITE_REGISTER_BUFFER_UCHAR(PUCHAR reg, PUCHAR buffer, ULONG count);
void WRITE_REGISTER_BUFFER_USHORT(PUSHORT reg, PUSHORT buffer, ULONG count);
void WRITE_REGISTER_BUFFER_ULONG(PULONG reg, PULONG buffer, ULONG count);
void READ_PORT_BUFFER_UCHAR(PUCHAR port, PUCHAR buffer, ULONG count);
void READ_PORT_BUFFER_USHORT(PUSHORT port, PUSHORT buffer, ULONG count);
void READ_PORT_BUFFER_ULONG(PULONG port, PULONG buffer, ULONG count);
void WRITE_PORT_BUFFER_UCHAR(PUCHAR port, PUCHAR buffer, ULONG count);
void WRITE_PORT_BUFFER_USHORT(PUSHORT port, PUSHORT buffer, ULONG count);
void WRITE_PORT_BUFFER_ULONG(PULONG port, PULONG buffer, ULONG count);

}  // extern "C"
