// The bus driver's single instance record, created by OPT_Init and freed by
// OPT_Deinit once its watcher thread has ended.
#pragma once

#include <windows.h>

#include <atomic>

struct BusDriverContext {
  HANDLE watcherThread;
  HANDLE plugEvent;   // "EventTessivPlug2Applet", auto-reset
  std::atomic<DWORD> stopFlag;  // 1 once the driver shuts down
  // The client driver and the sleeve it was loaded for (0xFFFFFFFF: none);
  // changed only under clientLock, so the watcher's loading and unloading
  // and OPT_Deinit's unloading never overlap.
  DWORD currentSleeve;
  HANDLE clientDevice;
  CRITICAL_SECTION clientLock;
  HANDLE readyEvent;  // unnamed, auto-reset: the watcher runs
};
