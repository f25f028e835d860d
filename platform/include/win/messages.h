// Message queues: one per thread, created on first use. Posted messages,
// thread timers and the waits that sleep until a message, a timer or a
// handle is due.
#pragma once

#include "win/types.h"

// Exported from the platform's shared library; everything else in it is
// hidden.
#pragma GCC visibility push(default)

#define WM_NULL 0x0000u
#define WM_QUIT 0x0012u
#define WM_TIMER 0x0113u
#define WM_USER 0x0400u
#define WM_APP 0x8000u

#define PM_NOREMOVE 0x0000u
#define PM_REMOVE 0x0001u

// Wake masks of MsgWaitForMultipleObjects.
#define QS_KEY 0x0001u
#define QS_MOUSEMOVE 0x0002u
#define QS_MOUSEBUTTON 0x0004u
#define QS_MOUSE (QS_MOUSEMOVE | QS_MOUSEBUTTON)
#define QS_POSTMESSAGE 0x0008u
#define QS_TIMER 0x0010u
#define QS_PAINT 0x0020u
#define QS_SENDMESSAGE 0x0040u
#define QS_INPUT (QS_MOUSE | QS_KEY)
#define QS_ALLEVENTS (QS_INPUT | QS_POSTMESSAGE | QS_TIMER | QS_PAINT)
#define QS_ALLINPUT (QS_INPUT | QS_POSTMESSAGE | QS_TIMER | QS_PAINT | QS_SENDMESSAGE)

// Posts to the queue of the thread `threadId` (made if the thread has none
// yet). ERROR_INVALID_THREAD_ID for a thread that does not exist or ended.
BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
#define PostThreadMessage PostThreadMessageW
// Ends the calling thread's message loop: GetMessage returns FALSE with
// WM_QUIT (wParam = exitCode) once the posted messages are taken.
void PostQuitMessage(int exitCode);

// Messages come in this order: posted messages, WM_QUIT, then WM_TIMER of
// the timers that are due (one per timer however late it is). A filter of
// 0, 0 takes every message; `hwnd` null takes the thread's own messages and
// those of its windows.
// GetMessage sleeps until a message passes the filter; it returns FALSE for
// WM_QUIT, else TRUE.
BOOL GetMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax);
#define GetMessage GetMessageW
// PeekMessage never sleeps. PM_REMOVE takes the message; PM_NOREMOVE leaves
// it (and a due timer stays due).
BOOL PeekMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags);
#define PeekMessage PeekMessageW
BOOL TranslateMessage(const MSG* msg);
// Runs the timer procedure of a WM_TIMER that has one, and hands messages
// for windows to their window procedures. Thread messages go nowhere (0).
LRESULT DispatchMessageW(const MSG* msg);
#define DispatchMessage DispatchMessageW

// Waits like WaitForMultipleObjects, and also for the calling thread's
// queue: WAIT_OBJECT_0 + count when a message of a kind in `wakeMask`
// (QS_POSTMESSAGE, QS_TIMER, QS_ALLINPUT ...) is in the queue. Timers are
// deadlines inside the wait: nothing polls.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms,
                                DWORD wakeMask);
DWORD MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, DWORD ms, DWORD wakeMask,
                                  DWORD flags);
#define MWMO_WAITALL 0x0001u

// Timers. With no window (hwnd null) the timer belongs to the calling
// thread: `id` is ignored and a new id returned; WM_TIMER carries the id in
// wParam and `proc` in lParam (DispatchMessage calls it). Periods are in
// milliseconds (0 counts as 1). Returns 0 on failure.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc);
BOOL KillTimer(HWND hwnd, UINT_PTR id);

#pragma GCC visibility pop
