// The setup plug-in's hooks. They run on the installer's thread, one at a
// time; the values saved by Uninstall_Init are kept in module-wide state
// until Uninstall_Exit, while the installer keeps the plug-in loaded.
#include "Kolvane.h"

#include "RegKey.h"

namespace {

const WCHAR kClientKey[] = TEXT("Drivers\\Tessiv\\0100\\0001");
const WCHAR kBusKey[] = TEXT("Drivers\\BuiltIn\\Tessiv");
const WCHAR kSharedKey[] = TEXT("SOFTWARE\\Apps\\Shared");
const WCHAR kSharedBusDriver[] = TEXT("\\Windows\\Tessiv.dll");
const DWORD kOptScanBus = 0x5A5A;
const UINT kRetryStyle = MB_RETRYCANCEL | MB_SETFOREGROUND | MB_TOPMOST;  // 0x50005
const UINT kNoticeStyle = MB_OK | MB_SETFOREGROUND | MB_TOPMOST;         // 0x50000
const DWORD kSavedTextBytes = 100;

typedef DWORD (*GetDriversActiveHandleProc)(LPCWSTR keyPath);

// The bus driver's values, saved across an uninstall while another package
// shares it. Only the values that were read whole are written back.
BYTE savedFlag = 0;
WCHAR savedDll[kSavedTextBytes / sizeof(WCHAR)];
WCHAR savedPrefix[kSavedTextBytes / sizeof(WCHAR)];
DWORD savedOrder = 0;
DWORD savedDllBytes = 0;
DWORD savedPrefixBytes = 0;
bool dllSaved = false;
bool prefixSaved = false;
bool orderSaved = false;

// The device handle of the driver loaded from `keyPath`, 0 when none is
// (or Ferrix cannot tell).
DWORD ActiveHandle(LPCWSTR keyPath) {
  HMODULE ferrix = LoadLibraryW(TEXT("FERRIX.DLL"));
  if (!ferrix) return 0;
  GetDriversActiveHandleProc getHandle = reinterpret_cast<GetDriversActiveHandleProc>(
      reinterpret_cast<void*>(GetProcAddressW(ferrix, TEXT("GetDriversActiveHandle"))));
  DWORD handle = getHandle ? getHandle(keyPath) : 0;
  FreeLibrary(ferrix);
  return handle;
}

HANDLE DeviceHandle(DWORD value) {
  return reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(value));
}

// False when the user cancelled.
bool UnloadWithConsent(HWND parent, LPCWSTR keyPath) {
  for (;;) {
    DWORD handle = ActiveHandle(keyPath);
    if (!handle || DeactivateDevice(DeviceHandle(handle))) return true;
    WCHAR text[256];
    wsprintfW(text, TEXT("Could not unload driver %s - It may be in use by an application."), keyPath);
    if (MessageBoxW(parent, text, TEXT("Error:"), kRetryStyle) != IDRETRY) return false;
  }
}

BOOL ScanBus() {
  HANDLE bus = CreateFileW(TEXT("OPT1:"), 0, 0, NULL, OPEN_EXISTING, 0, NULL);
  if (bus == INVALID_HANDLE_VALUE) return FALSE;
  DWORD returned = 0;
  BOOL sent = DeviceIoControl(bus, kOptScanBus, NULL, 0, NULL, 0, &returned, NULL);
  CloseHandle(bus);
  return sent;
}

// A string value read whole: it fitted and ends with its terminator.
bool ReadText(RegKey& key, LPCWSTR name, WCHAR* buffer, DWORD* bytes) {
  *bytes = kSavedTextBytes;
  if (key.ReadValue(name, buffer, bytes) != ERROR_SUCCESS) return false;
  return *bytes >= sizeof(WCHAR) && *bytes <= kSavedTextBytes && *bytes % sizeof(WCHAR) == 0 &&
         buffer[*bytes / sizeof(WCHAR) - 1] == 0;
}

}  // namespace

extern "C" {

codeINSTALL_INIT Install_Init(HWND parent, BOOL, BOOL, LPCWSTR) {
  if (!UnloadWithConsent(parent, kClientKey) || !UnloadWithConsent(parent, kBusKey))
    return codeINSTALL_INIT_CANCEL;
  return codeINSTALL_INIT_CONTINUE;
}

codeINSTALL_EXIT Install_Exit(HWND parent, LPCWSTR, WORD failedDirs, WORD failedFiles,
                              WORD failedRegKeys, WORD failedRegValues, WORD failedShortcuts) {
  if (failedDirs || failedFiles || failedRegKeys || failedRegValues || failedShortcuts)
    return codeINSTALL_EXIT_UNINSTALL;
  if (!ActiveHandle(kBusKey) && !ActivateDevice(kBusKey, 0)) {
    MessageBoxW(parent, TEXT("Failed to Load Tessiv Bus Driver!!"), TEXT("Setup"), kNoticeStyle);
    return codeINSTALL_EXIT_UNINSTALL;
  }
  if (!ScanBus()) MessageBoxW(parent, TEXT("OptScanBus Failed!"), TEXT("Setup"), kNoticeStyle);
  return codeINSTALL_EXIT_DONE;
}

codeUNINSTALL_INIT Uninstall_Init(HWND parent, LPCWSTR) {
  if (!UnloadWithConsent(parent, kClientKey) || !UnloadWithConsent(parent, kBusKey))
    return codeUNINSTALL_INIT_CANCEL;
  DWORD shareCount = 0;
  RegKey shared;
  if (shared.Open(HKEY_LOCAL_MACHINE, kSharedKey, KEY_ALL_ACCESS) != ERROR_SUCCESS ||
      shared.ReadDword(kSharedBusDriver, &shareCount) != ERROR_SUCCESS)
    shareCount = 0;
  savedFlag = 0;
  if (shareCount > 1) {
    RegKey bus;
    if (bus.Open(HKEY_LOCAL_MACHINE, kBusKey, KEY_ALL_ACCESS) == ERROR_SUCCESS) {
      dllSaved = ReadText(bus, TEXT("DLL"), savedDll, &savedDllBytes);
      prefixSaved = ReadText(bus, TEXT("Prefix"), savedPrefix, &savedPrefixBytes);
      orderSaved = bus.ReadDword(TEXT("Order"), &savedOrder) == ERROR_SUCCESS;
      savedFlag = 1;
    }
  }
  return codeUNINSTALL_INIT_CONTINUE;
}

codeUNINSTALL_EXIT Uninstall_Exit(HWND) {
  if (!savedFlag) return codeUNINSTALL_EXIT_DONE;
  RegKey bus;
  if (bus.Open(HKEY_LOCAL_MACHINE, kBusKey, KEY_ALL_ACCESS) == ERROR_SUCCESS) {
    if (dllSaved) bus.WriteString(TEXT("DLL"), savedDll);
    if (prefixSaved) bus.WriteString(TEXT("Prefix"), savedPrefix);
    if (orderSaved) bus.WriteDword(TEXT("Order"), savedOrder);
    bus.Close();
  }
  DWORD handle = ActiveHandle(kBusKey);
  if (handle || ActivateDevice(kBusKey, 0)) ScanBus();
  return codeUNINSTALL_EXIT_DONE;
}

}  // extern "C"
