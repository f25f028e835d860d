// The bus driver: entry points, the watcher thread, loading and unloading
// of the client driver, card detection.
//
// Threads: the device manager's threads call OPT_Init and OPT_Deinit, any
// thread may call OPT_IOControl, card services call DetectSleeve, and the
// watcher thread loads and unloads client drivers. The instance pointer is
// read and changed only under the module's instance lock, so a scan request
// never signals an event that OPT_Deinit is closing. Loading and unloading
// run under the context's client lock, both on the watcher thread and in
// OPT_Deinit; the identity is read before the lock is taken, so OPT_Deinit
// never waits for a 5-second identity wait to take it.
//
// Shutdown: OPT_Deinit sets the stop flag and signals the plug event, so the
// watcher wakes from its wait without a time-out; once the flag is set the
// watcher loads and unloads nothing. The context is freed only after the
// watcher has ended: if it has not ended within 5000 ms (it may still be
// reading an identity, which takes a little over 5 seconds at most) the
// wait goes on, because the thread still uses the context and runs in this
// library.
#include "Tessiv.h"

#include <new>

#include "BusDriverContext.h"
#include "Ferrix.h"
#include "RegKey.h"

namespace {

const DWORD kNoSleeve = 0xFFFFFFFFu;
const int kWatcherPriority = 104;
const DWORD kStopWaitMs = 5000;
const WCHAR kDllName[] = TEXT("Tessiv.DLL");
const WCHAR kDetectEntry[] = TEXT("DetectSleeve");
const WCHAR kPlugEventName[] = TEXT("EventTessivPlug2Applet");
const WCHAR kClientKeyFormat[] = TEXT("Drivers\\Tessiv\\%04X\\%04X");
// "Drivers\Tessiv\XXXX\XXXX" and its terminator.
const DWORD kClientKeyChars = 25;

CRITICAL_SECTION instanceLock;  // set up when the library is loaded
BusDriverContext* instance = NULL;

void FormatClientKey(LPWSTR buffer, DWORD sleeveId) {
  wsprintfW(buffer, kClientKeyFormat, static_cast<unsigned>(sleeveId >> 16),
            static_cast<unsigned>(sleeveId & 0xFFFFu));
}

// Client lock held.
void UnloadClientLocked(BusDriverContext* context) {
  if (!context->clientDevice) return;
  DeactivateDevice(context->clientDevice);
  context->clientDevice = NULL;
  context->currentSleeve = kNoSleeve;
}

void UnloadClient(BusDriverContext* context) {
  EnterCriticalSection(&context->clientLock);
  if (!context->stopFlag) UnloadClientLocked(context);
  LeaveCriticalSection(&context->clientLock);
}

void LoadClient(BusDriverContext* context) {
  DWORD sleeveId = GetSleeveID();  // up to about 5 seconds
  EnterCriticalSection(&context->clientLock);
  if (!context->stopFlag && !(context->clientDevice && sleeveId == context->currentSleeve)) {
    UnloadClientLocked(context);
    WCHAR path[kClientKeyChars];
    FormatClientKey(path, sleeveId);
    RegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS) == ERROR_SUCCESS) {
      SleevePower();
      context->clientDevice = ActivateDevice(path, 0);
      if (context->clientDevice) context->currentSleeve = sleeveId;
      key.Close();
    }
  }
  LeaveCriticalSection(&context->clientLock);
}

DWORD WINAPI WatcherThread(LPVOID param) {
  BusDriverContext* context = static_cast<BusDriverContext*>(param);
  CeSetThreadPriority(GetCurrentThread(), kWatcherPriority);
  SetEvent(context->readyEvent);
  while (!context->stopFlag) {
    if (WaitForSingleObject(context->plugEvent, INFINITE) != WAIT_OBJECT_0) continue;
    if (context->stopFlag) break;
    if (IsSleevePresent())
      LoadClient(context);
    else
      UnloadClient(context);
  }
  return 0;
}

// Instance lock held.
void FreeContext(BusDriverContext* context) {
  if (context->readyEvent) CloseHandle(context->readyEvent);
  if (context->watcherThread) CloseHandle(context->watcherThread);
  if (context->plugEvent) CloseHandle(context->plugEvent);
  DeleteCriticalSection(&context->clientLock);
  delete context;
  instance = NULL;
}

DWORD NotSupported() {
  SetLastError(ERROR_NOT_SUPPORTED);
  return 0;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(module);
    InitializeCriticalSection(&instanceLock);
  } else if (reason == DLL_PROCESS_DETACH) {
    DeleteCriticalSection(&instanceLock);
  }
  return TRUE;
}

extern "C" {

DWORD OPT_Init(LPCWSTR, LPCVOID) {
  EnterCriticalSection(&instanceLock);
  if (instance) {
    LeaveCriticalSection(&instanceLock);
    return 1;
  }
  BusDriverContext* context = new (std::nothrow) BusDriverContext;
  if (!context) {
    SetLastError(ERROR_OUTOFMEMORY);
    LeaveCriticalSection(&instanceLock);
    return 0;
  }
  context->watcherThread = NULL;
  context->plugEvent = NULL;
  context->stopFlag = 0;
  context->currentSleeve = kNoSleeve;
  context->clientDevice = NULL;
  context->readyEvent = NULL;
  InitializeCriticalSection(&context->clientLock);
  instance = context;

  bool started = false;
  if (AddDetectKey(kDllName, kDetectEntry)) {
    context->plugEvent = CreateEventW(NULL, FALSE, FALSE, kPlugEventName);
    if (context->plugEvent) context->readyEvent = CreateEventW(NULL, FALSE, FALSE, NULL);
    if (context->readyEvent)
      context->watcherThread = CreateThread(NULL, 0, WatcherThread, context, 0, NULL);
    started = context->watcherThread != NULL;
  }
  if (!started) {
    DWORD error = GetLastError();
    FreeContext(context);
    SetLastError(error);
    LeaveCriticalSection(&instanceLock);
    return 0;
  }
  WaitForSingleObject(context->readyEvent, INFINITE);
  LeaveCriticalSection(&instanceLock);
  return 1;
}

BOOL OPT_Deinit(DWORD deviceContext) {
  EnterCriticalSection(&instanceLock);
  BusDriverContext* context = instance;
  if (context && deviceContext == 1) {
    context->stopFlag = 1;
    SetEvent(context->plugEvent);
    // Whatever client is still loaded goes, sleeve or no sleeve: the
    // watcher will not see a removal that arrives from now on.
    EnterCriticalSection(&context->clientLock);
    UnloadClientLocked(context);
    LeaveCriticalSection(&context->clientLock);
    RemoveDetectKey(kDllName, kDetectEntry);
    if (WaitForSingleObject(context->watcherThread, kStopWaitMs) != WAIT_OBJECT_0)
      WaitForSingleObject(context->watcherThread, INFINITE);
    FreeContext(context);
  }
  LeaveCriticalSection(&instanceLock);
  return TRUE;
}

DWORD OPT_Open(DWORD, DWORD, DWORD) { return 1; }

BOOL OPT_Close(DWORD) { return 1; }

DWORD OPT_Read(DWORD, LPVOID, DWORD) { return NotSupported(); }

DWORD OPT_Write(DWORD, LPCVOID, DWORD) { return NotSupported(); }

DWORD OPT_Seek(DWORD, LONG, DWORD) { return NotSupported(); }

BOOL OPT_IOControl(DWORD, DWORD code, LPBYTE, DWORD, LPBYTE, DWORD, LPDWORD) {
  if (code != OptScanBus) return NotSupported();
  EnterCriticalSection(&instanceLock);
  BOOL signalled = SetEvent(instance ? instance->plugEvent : NULL);
  LeaveCriticalSection(&instanceLock);
  return signalled;
}

LPWSTR DetectSleeve(CARD_SOCKET_HANDLE socket, UCHAR, LPWSTR devKey, DWORD devKeyChars) {
  DWORD sleeveId = GetSleeveID();
  // The path is formatted into the caller's buffer, so it must hold it.
  if (!devKey || devKeyChars < kClientKeyChars) return NULL;
  FormatClientKey(devKey, sleeveId);
  RegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, devKey, KEY_ALL_ACCESS) != ERROR_SUCCESS) return NULL;
  lstrcpyW(devKey, TEXT("Tessiv"));
  DWORD value = 0;
  if (key.ReadDword(TEXT("Socket"), &value) != ERROR_SUCCESS) return devKey;
  if (value != socket.uSocket) return NULL;
  if (key.ReadDword(TEXT("Function"), &value) != ERROR_SUCCESS) return devKey;
  return value == socket.uFunction ? devKey : NULL;
}

}  // extern "C"
