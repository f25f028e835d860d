// Files, serial ports and stream devices: CreateFile, ReadFile, WriteFile,
// DeviceIoControl, and the serial communications calls.
#pragma once

#include "win/types.h"

// Exported from the platform's shared library; everything else in it is
// hidden.
#pragma GCC visibility push(default)

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu

// Three kinds of name: "COMn:" serial ports (looked up in Drivers\Active by
// their "Name"), other device names of the form "XXXn:" (stream devices
// loaded by the device manager), and paths on the handheld's file system
// ("\My Documents\Quelmar.log"), kept under the device folder.
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES sa,
                   DWORD creation, DWORD flags, HANDLE templateFile);
#define CreateFile CreateFileW
BOOL ReadFile(HANDLE h, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE h, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped);
DWORD SetFilePointer(HANDLE h, LONG distance, PLONG distanceHigh, DWORD method);
DWORD GetFileSize(HANDLE h, LPDWORD sizeHigh);
BOOL FlushFileBuffers(HANDLE h);
BOOL DeleteFileW(LPCWSTR path);
#define DeleteFile DeleteFileW
BOOL DeviceIoControl(HANDLE h, DWORD code, LPVOID in, DWORD inBytes, LPVOID out, DWORD outBytes,
                     LPDWORD returned, LPOVERLAPPED overlapped);

// ---- serial ports ----
#define CBR_4800 4800u
#define CBR_9600 9600u
#define CBR_19200 19200u
#define CBR_38400 38400u
#define CBR_57600 57600u
#define CBR_115200 115200u
#define NOPARITY 0
#define ODDPARITY 1
#define EVENPARITY 2
#define MARKPARITY 3
#define SPACEPARITY 4
#define ONESTOPBIT 0
#define ONE5STOPBITS 1
#define TWOSTOPBITS 2
#define DTR_CONTROL_DISABLE 0
#define DTR_CONTROL_ENABLE 1
#define DTR_CONTROL_HANDSHAKE 2
#define RTS_CONTROL_DISABLE 0
#define RTS_CONTROL_ENABLE 1
#define RTS_CONTROL_HANDSHAKE 2
#define RTS_CONTROL_TOGGLE 3



#define EV_RXCHAR 0x0001u
#define EV_RXFLAG 0x0002u
#define EV_TXEMPTY 0x0004u
#define EV_CTS 0x0008u
#define EV_DSR 0x0010u
#define EV_RLSD 0x0020u
#define EV_BREAK 0x0040u
#define EV_ERR 0x0080u
#define EV_RING 0x0100u

#define PURGE_TXABORT 0x0001u
#define PURGE_RXABORT 0x0002u
#define PURGE_TXCLEAR 0x0004u
#define PURGE_RXCLEAR 0x0008u

#define SETXOFF 1
#define SETXON 2
#define SETRTS 3
#define CLRRTS 4
#define SETDTR 5
#define CLRDTR 6
#define SETBREAK 8
#define CLRBREAK 9

#define MS_CTS_ON 0x0010u
#define MS_DSR_ON 0x0020u
#define MS_RING_ON 0x0040u
#define MS_RLSD_ON 0x0080u

BOOL GetCommState(HANDLE port, LPDCB dcb);
BOOL SetCommState(HANDLE port, LPDCB dcb);
BOOL GetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS timeouts);
BOOL SetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS timeouts);
BOOL SetCommMask(HANDLE port, DWORD mask);
BOOL GetCommMask(HANDLE port, LPDWORD mask);
// Waits until an event of the mask occurs. Ends with FALSE and
// ERROR_INVALID_HANDLE (mask 0) when the port is closed from another thread.
BOOL WaitCommEvent(HANDLE port, LPDWORD mask, LPOVERLAPPED overlapped);
BOOL PurgeComm(HANDLE port, DWORD flags);
BOOL EscapeCommFunction(HANDLE port, DWORD func);
BOOL GetCommModemStatus(HANDLE port, LPDWORD status);

#pragma GCC visibility pop
