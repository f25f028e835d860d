// Tessiv, the bus driver of the sleeve connector: a stream driver with the
// prefix OPT ("OPT1:"), loaded by the device manager from
// "Drivers\BuiltIn\Tessiv". Its watcher thread wakes on sleeve insertion
// and removal (the plug event "EventTessivPlug2Applet") and loads or unloads
// the sleeve's client driver from "Drivers\Tessiv\<upper>\<lower>", the two
// halves of the sleeve's identity as four upper-case hexadecimal digits.
#pragma once

#include <windows.h>

// The I/O control code that makes the driver look at the connector at once.
#define OptScanBus 0x5A5Au

// A card socket as card services name it: socket number, function number.
typedef struct _CARD_SOCKET_HANDLE {
  UCHAR uSocket;
  UCHAR uFunction;
} CARD_SOCKET_HANDLE;

extern "C" {

// Starts the driver (once; later calls return 1 at once). Returns 1, the
// device context, or 0 on failure (last error 14 when out of memory).
DWORD OPT_Init(LPCWSTR activeKey, LPCVOID busContext);
// Stops the driver when `context` is 1: the client driver is unloaded and
// the watcher thread ends before the driver's state is freed.
BOOL OPT_Deinit(DWORD context);
DWORD OPT_Open(DWORD context, DWORD access, DWORD shareMode);  // 1
BOOL OPT_Close(DWORD open);                                     // 1
// Not supported: last error 50, result 0.
DWORD OPT_Read(DWORD open, LPVOID buffer, DWORD count);
DWORD OPT_Write(DWORD open, LPCVOID buffer, DWORD count);
DWORD OPT_Seek(DWORD open, LONG amount, DWORD method);
// OptScanBus signals the plug event (nonzero on success); any other code
// fails with last error 50.
BOOL OPT_IOControl(DWORD open, DWORD code, LPBYTE in, DWORD inBytes, LPBYTE out, DWORD outBytes,
                   LPDWORD returned);

// Card services' detect function: `devKey` (at least `devKeyChars`
// characters) receives "Tessiv" when the attached sleeve's client key
// accepts this socket and function, and is returned; null otherwise.
LPWSTR DetectSleeve(CARD_SOCKET_HANDLE socket, UCHAR deviceType, LPWSTR devKey,
                    DWORD devKeyChars);

}  // extern "C"
