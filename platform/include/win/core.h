// Core services: wide text helpers, formatting, handles, last error, time,
// threads, critical sections, events and waits, message boxes.
#pragma once

#include <cstdarg>

#include "win/types.h"

// Exported from the platform's shared library; everything else in it is
// hidden.
#pragma GCC visibility push(default)

// ---- wide text (UTF-16, NUL-terminated) ----
// C-library style helpers for WCHAR text. They behave like their wchar_t
// namesakes; lengths are in characters.
size_t wcslen(const WCHAR* s);
WCHAR* wcscpy(WCHAR* dst, const WCHAR* src);
WCHAR* wcsncpy(WCHAR* dst, const WCHAR* src, size_t n);
WCHAR* wcscat(WCHAR* dst, const WCHAR* src);
int wcscmp(const WCHAR* a, const WCHAR* b);
int wcsncmp(const WCHAR* a, const WCHAR* b, size_t n);
int _wcsicmp(const WCHAR* a, const WCHAR* b);   // ASCII letters fold
int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t n);
const WCHAR* wcsstr(const WCHAR* hay, const WCHAR* needle);
WCHAR* wcsstr(WCHAR* hay, const WCHAR* needle);
const WCHAR* wcschr(const WCHAR* s, WCHAR c);
WCHAR* wcschr(WCHAR* s, WCHAR c);

// Win32 names for the same.
int lstrlenW(LPCWSTR s);
LPWSTR lstrcpyW(LPWSTR dst, LPCWSTR src);
LPWSTR lstrcpynW(LPWSTR dst, LPCWSTR src, int maxChars);  // always terminates
LPWSTR lstrcatW(LPWSTR dst, LPCWSTR src);
int lstrcmpW(LPCWSTR a, LPCWSTR b);
int lstrcmpiW(LPCWSTR a, LPCWSTR b);
#define lstrlen lstrlenW
#define lstrcpy lstrcpyW
#define lstrcpyn lstrcpynW
#define lstrcat lstrcatW
#define lstrcmp lstrcmpW
#define lstrcmpi lstrcmpiW

// wsprintf for wide text. Conversions: %s (wide text), %S (narrow text),
// %c (wide character), %d %i %u %x %X %ld %lu %lx %lX, flags '-' and '0',
// widths, and %%. Like the platform's, the output is limited to 1024
// characters including the terminator. Returns the characters written,
// not counting the terminator.
int wsprintfW(LPWSTR buf, LPCWSTR fmt, ...);
int wvsprintfW(LPWSTR buf, LPCWSTR fmt, va_list args);
#define wsprintf wsprintfW
#define wvsprintf wvsprintfW

// ---- last error ----
DWORD GetLastError();
void SetLastError(DWORD code);

// ---- handles ----
// Every kernel object (thread, event, file, port, device) is a HANDLE.
// Handle values are never reused within a process.
BOOL CloseHandle(HANDLE h);

// ---- time ----
DWORD GetTickCount();  // milliseconds since the process's platform start
void Sleep(DWORD ms);

// ---- the process ----
// Ends the process at once with `exitCode`: no window hears of it; the
// handheld's own ending work (the screenshot $HANDHELD_SCREENSHOT asks for,
// the registry's last write) still runs.
[[noreturn]] void ExitProcess(UINT exitCode);

// ---- threads ----
// (LPTHREAD_START_ROUTINE, the priorities and the WAIT_* results are in
// win/types.h.)
// The handle is waitable: it is signalled when the thread has returned.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES sa, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID param, DWORD flags, LPDWORD threadId);
DWORD ResumeThread(HANDLE thread);
HANDLE GetCurrentThread();  // pseudo handle, not to be closed
DWORD GetCurrentThreadId();
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
// Priorities are recorded, not enforced: Linux threads keep their policy.
BOOL SetThreadPriority(HANDLE thread, int priority);  // 0..7 scale
int GetThreadPriority(HANDLE thread);
BOOL CeSetThreadPriority(HANDLE thread, int priority);  // 0..255 scale
int CeGetThreadPriority(HANDLE thread);

// ---- critical sections (re-entrant; their free paths inline) ----
#include "win/critical_section.h"

// ---- events and waits ----
// Named events are shared within the process: creating an existing name
// returns a new handle to the same event and sets ERROR_ALREADY_EXISTS.
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES sa, BOOL manualReset, BOOL initialState, LPCWSTR name);
#define CreateEvent CreateEventW
BOOL SetEvent(HANDLE ev);
BOOL ResetEvent(HANDLE ev);
BOOL PulseEvent(HANDLE ev);

// Waits on events and threads.
DWORD WaitForSingleObject(HANDLE h, DWORD ms);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms);

// ---- message boxes ----
#define MB_OK 0x00000000u
#define MB_OKCANCEL 0x00000001u
#define MB_ABORTRETRYIGNORE 0x00000002u
#define MB_YESNOCANCEL 0x00000003u
#define MB_YESNO 0x00000004u
#define MB_RETRYCANCEL 0x00000005u
#define MB_ICONHAND 0x00000010u
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONSTOP MB_ICONHAND
#define MB_ICONQUESTION 0x00000020u
#define MB_ICONEXCLAMATION 0x00000030u
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONASTERISK 0x00000040u
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_DEFBUTTON1 0x00000000u
#define MB_DEFBUTTON2 0x00000100u
#define MB_DEFBUTTON3 0x00000200u
#define MB_APPLMODAL 0x00000000u
#define MB_SETFOREGROUND 0x00010000u
#define MB_TOPMOST 0x00040000u
#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
#define MessageBox MessageBoxW

#pragma GCC visibility pop
