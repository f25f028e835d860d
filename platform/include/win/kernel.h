// Kernel services of the handheld: the OEM layer (KernelIoControl), system
// information, virtual memory with physical mappings, and the module loader.
#pragma once

#include "win/types.h"

typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef BYTE BOOLEAN;
typedef void* PVOID;
typedef UCHAR* PUCHAR;
typedef USHORT* PUSHORT;
typedef ULONG* PULONG;
typedef uintptr_t ULONG_PTR;

typedef union _LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  };
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;
typedef LARGE_INTEGER PHYSICAL_ADDRESS, *PPHYSICAL_ADDRESS;

#define WINAPI
#define APIENTRY

// Exported from the platform's shared library; everything else in it is
// hidden.
#pragma GCC visibility push(default)

// ---- OEM layer ----
// Requests of the platform layer; what each code does belongs to the
// handheld's OEM layer. Unknown codes fail with ERROR_NOT_SUPPORTED.
BOOL KernelIoControl(DWORD code, LPVOID in, DWORD inBytes, LPVOID out, DWORD outBytes,
                     LPDWORD returned);

// ---- system information ----
typedef struct _SYSTEM_INFO {
  WORD wProcessorArchitecture;
  WORD wReserved;
  DWORD dwPageSize;
  LPVOID lpMinimumApplicationAddress;
  LPVOID lpMaximumApplicationAddress;
  DWORD dwActiveProcessorMask;
  DWORD dwNumberOfProcessors;
  DWORD dwProcessorType;
  DWORD dwAllocationGranularity;
  WORD wProcessorLevel;
  WORD wProcessorRevision;
} SYSTEM_INFO, *LPSYSTEM_INFO;
void GetSystemInfo(LPSYSTEM_INFO info);

// ---- virtual memory ----
#define MEM_COMMIT 0x1000u
#define MEM_RESERVE 0x2000u
#define MEM_DECOMMIT 0x4000u
#define MEM_RELEASE 0x8000u
#define PAGE_NOACCESS 0x01u
#define PAGE_READONLY 0x02u
#define PAGE_READWRITE 0x04u
#define PAGE_NOCACHE 0x200u
#define PAGE_PHYSICAL 0x400u

// Reserves (and with MEM_COMMIT also commits) a range at an address of the
// platform's choosing; `address` must be null.
LPVOID VirtualAlloc(LPVOID address, DWORD size, DWORD type, DWORD protect);
// Maps `size` bytes at `dest`, which lies inside a reservation, onto
// physical memory. With PAGE_PHYSICAL, `src` is the page-aligned physical
// address shifted right by 8.
BOOL VirtualCopy(LPVOID dest, LPVOID src, DWORD size, DWORD protect);
// MEM_RELEASE frees the reservation that starts at `address`, whatever its
// mappings; the size given is not needed and not checked against it.
BOOL VirtualFree(LPVOID address, DWORD size, DWORD type);

// ---- modules ----
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_BAD_EXE_FORMAT 193L
#define ERROR_DLL_INIT_FAILED 1114L
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef intptr_t (*FARPROC)();

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

// The handheld's module names ("FERRIX.DLL", "\Windows\Tessiv.dll") name the
// built libraries, compared without regard to case, folder or extension. A
// module's entry point (DllMain) gets DLL_PROCESS_ATTACH on its first load
// and DLL_PROCESS_DETACH when its last reference is freed; an attach that
// returns FALSE fails the load.
HMODULE LoadLibraryW(LPCWSTR name);
#define LoadLibrary LoadLibraryW
FARPROC GetProcAddressW(HMODULE module, LPCWSTR procName);
#define GetProcAddress GetProcAddressW
BOOL FreeLibrary(HMODULE module);
// The module wants no DLL_THREAD_ATTACH and DLL_THREAD_DETACH calls.
BOOL DisableThreadLibraryCalls(HMODULE module);

#pragma GCC visibility pop
