// The handheld's calls and names that desktop Windows does not have, as
// this layer provides them on desktop Windows. Where the two platforms
// really differ, this is the one place that says so.
#pragma once

#include <windows.h>

// ---- where the two platforms' headers differ ----
// What a dialog procedure returns: BOOL on the handheld, INT_PTR on
// 64-bit desktop Windows.
typedef INT_PTR DIALOG_RESULT;

// ---- program entry ----
// The handheld calls a program's WinMain with a wide command line; desktop
// Windows calls wWinMain, which this layer provides and which calls the
// program's WinMain under this name.
#define WinMain HandheldWinMain
int WINAPI HandheldWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show);

// ---- windows ----
// The handheld's caption carries an "ok" button that sends WM_COMMAND IDOK.
// Desktop captions have none; the bit is no desktop style and is taken
// away before the window is made (the caption's close box closes the
// window with WM_CLOSE instead).
#define WS_EX_CAPTIONOKBTN 0x80000000L
HWND WINAPI HandheldCreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR title, DWORD style,
                                    int x, int y, int width, int height, HWND parent, HMENU menu,
                                    HINSTANCE instance, LPVOID param);
#undef CreateWindowEx
#undef CreateWindowExW
#define CreateWindowEx HandheldCreateWindowExW
#define CreateWindowExW HandheldCreateWindowExW

// ---- files and devices ----
// The handheld names its serial ports "COM3:"; desktop Windows opens them
// as "\\.\COM3". Every other name is passed on as it is.
HANDLE WINAPI HandheldCreateFileW(LPCWSTR name, DWORD access, DWORD share,
                                  LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                                  HANDLE templateFile);
#undef CreateFile
#undef CreateFileW
#define CreateFile HandheldCreateFileW
#define CreateFileW HandheldCreateFileW

// ---- library loading ----
// The handheld looks exports up by wide names; desktop Windows by narrow
// ones. Names that are not plain ASCII are not found.
FARPROC WINAPI GetProcAddressW(HMODULE module, LPCWSTR name);

// ---- threads ----
// The handheld's 0..255 priority scale has no desktop counterpart: fails
// with ERROR_NOT_SUPPORTED.
BOOL WINAPI CeSetThreadPriority(HANDLE thread, int priority);

// ---- the driver kit: calls desktop Windows cannot honour ----
// Each fails with ERROR_NOT_SUPPORTED.
typedef LARGE_INTEGER PHYSICAL_ADDRESS, *PPHYSICAL_ADDRESS;
#define PAGE_PHYSICAL 0x400

BOOL WINAPI KernelIoControl(DWORD code, LPVOID in, DWORD inBytes, LPVOID out, DWORD outBytes,
                            LPDWORD returned);
BOOL WINAPI VirtualCopy(LPVOID dest, LPVOID src, DWORD size, DWORD protect);

typedef struct _REGINI {
  LPCWSTR lpszVal;
  LPBYTE pData;
  DWORD dwLen;
  DWORD dwType;
} REGINI, *LPREGINI;
HANDLE WINAPI ActivateDeviceEx(LPCWSTR devKey, const REGINI* regEnts, DWORD count, LPVOID param);
HANDLE WINAPI ActivateDevice(LPCWSTR devKey, DWORD clientInfo);
BOOL WINAPI DeactivateDevice(HANDLE device);

// ---- the package installer's setup plug-in interface ----
typedef enum { codeINSTALL_INIT_CONTINUE = 0, codeINSTALL_INIT_CANCEL } codeINSTALL_INIT;
typedef enum { codeINSTALL_EXIT_DONE = 0, codeINSTALL_EXIT_UNINSTALL } codeINSTALL_EXIT;
typedef enum { codeUNINSTALL_INIT_CONTINUE = 0, codeUNINSTALL_INIT_CANCEL } codeUNINSTALL_INIT;
typedef enum { codeUNINSTALL_EXIT_DONE = 0 } codeUNINSTALL_EXIT;
