// The device manager: stream drivers loaded from their registry keys,
// listed under "Drivers\Active" and reached through CreateFile by their
// device names ("OPT1:", "COM3:"); and the serial I/O control codes through
// which the serial calls reach a serial stream driver.
#pragma once

#include "win/types.h"

// Exported from the platform's shared library; everything else in it is
// hidden.
#pragma GCC visibility push(default)

// A value the device manager adds to a driver's "Drivers\Active" record.
typedef struct _REGINI {
  LPCWSTR lpszVal;
  LPBYTE pData;
  DWORD dwLen;
  DWORD dwType;
} REGINI, *LPREGINI;

// Loads the driver that the key `devKey` (below HKEY_LOCAL_MACHINE)
// describes: "Dll" names the library, "Prefix" its three-letter entry point
// prefix and device name, "Index" the digit of the name (the first free one
// from 1 when absent). The driver is recorded under "Drivers\Active" in a
// new numbered subkey with "Key" (= devKey), "Name" ("OPT1:"), "Hnd" (the
// device handle) and the given values, then its <Prefix>_Init is called with
// that subkey's path and `param`. Returns the device handle, or null with
// the last error set (a failed Init: ERROR_OPEN_FAILED, nothing kept).
// ActivateDevice adds the value "ClientInfo".
HANDLE ActivateDeviceEx(LPCWSTR devKey, const REGINI* regEnts, DWORD count, LPVOID param);
HANDLE ActivateDevice(LPCWSTR devKey, DWORD clientInfo);
// Calls the driver's <Prefix>_Deinit (a Deinit that returns FALSE refuses:
// the device stays active and the call fails with ERROR_BUSY), removes its
// record and its name and
// unloads the library (once handles still open on the device are closed;
// their calls fail with ERROR_DEVICE_REMOVED meanwhile).
BOOL DeactivateDevice(HANDLE device);

// The entry points of a stream driver with prefix XXX, as the device
// manager calls them (contexts are the driver's own 32-bit values, 0 being
// failure):
//   DWORD XXX_Init(LPCWSTR activeKey, LPCVOID busContext);
//   BOOL  XXX_Deinit(DWORD deviceContext);
//   DWORD XXX_Open(DWORD deviceContext, DWORD access, DWORD shareMode);
//   BOOL  XXX_Close(DWORD openContext);
//   DWORD XXX_Read(DWORD openContext, LPVOID buffer, DWORD count);     -1 fails
//   DWORD XXX_Write(DWORD openContext, LPCVOID buffer, DWORD count);   -1 fails
//   DWORD XXX_Seek(DWORD openContext, LONG amount, DWORD method);      -1 fails
//   BOOL  XXX_IOControl(DWORD openContext, DWORD code, LPBYTE in, DWORD inBytes,
//                       LPBYTE out, DWORD outBytes, LPDWORD returned);
// Init and Deinit are required; a missing other entry point makes its call
// fail with ERROR_NOT_SUPPORTED. Whatever last error the driver sets is
// what the caller sees.
#define ERROR_OPEN_FAILED 110L
#define ERROR_BUSY 170L
#define ERROR_DEVICE_IN_USE 2404L

// ---- serial I/O control codes ----
// The serial calls (SetCommState, WaitCommEvent, ...) on a port served by a
// stream driver reach its XXX_IOControl with these codes.
#define FILE_DEVICE_SERIAL_PORT 0x0000001Bu
#define METHOD_BUFFERED 0u
#define FILE_ANY_ACCESS 0u
#define CTL_CODE(type, function, method, access) \
  (((type) << 16) | ((access) << 14) | ((function) << 2) | (method))
#define SERIAL_CTL(function) CTL_CODE(FILE_DEVICE_SERIAL_PORT, function, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define IOCTL_SERIAL_SET_BREAK_ON SERIAL_CTL(1)
#define IOCTL_SERIAL_SET_BREAK_OFF SERIAL_CTL(2)
#define IOCTL_SERIAL_SET_DTR SERIAL_CTL(3)
#define IOCTL_SERIAL_CLR_DTR SERIAL_CTL(4)
#define IOCTL_SERIAL_SET_RTS SERIAL_CTL(5)
#define IOCTL_SERIAL_CLR_RTS SERIAL_CTL(6)
#define IOCTL_SERIAL_SET_XOFF SERIAL_CTL(7)
#define IOCTL_SERIAL_SET_XON SERIAL_CTL(8)
#define IOCTL_SERIAL_GET_WAIT_MASK SERIAL_CTL(9)   // out: DWORD
#define IOCTL_SERIAL_SET_WAIT_MASK SERIAL_CTL(10)  // in: DWORD
#define IOCTL_SERIAL_WAIT_ON_MASK SERIAL_CTL(11)   // out: DWORD
#define IOCTL_SERIAL_GET_MODEMSTATUS SERIAL_CTL(13)  // out: DWORD
#define IOCTL_SERIAL_SET_TIMEOUTS SERIAL_CTL(15)   // in: COMMTIMEOUTS
#define IOCTL_SERIAL_GET_TIMEOUTS SERIAL_CTL(16)   // out: COMMTIMEOUTS
#define IOCTL_SERIAL_PURGE SERIAL_CTL(17)          // in: DWORD
#define IOCTL_SERIAL_GET_DCB SERIAL_CTL(20)        // out: DCB
#define IOCTL_SERIAL_SET_DCB SERIAL_CTL(21)        // in: DCB

#pragma GCC visibility pop
