// The Pocket PC shell: activation and setting-change handling and the
// full-screen request.
#pragma once

#include "windows.h"

#pragma GCC visibility push(default)

typedef struct tagSHACTIVATEINFO {
  DWORD cbSize;
  HWND hwndLastFocus;
  UINT fSipUp : 1;
  UINT fSipOnDeactivation : 1;
  UINT fActive : 1;
  UINT fReserved : 29;
} SHACTIVATEINFO, *PSHACTIVATEINFO;

// WM_ACTIVATE: notes in the record whether the window is active and, when
// it loses activation, which window had the focus (given back on return).
BOOL SHHandleWMActivate(HWND hwnd, WPARAM wParam, LPARAM lParam, SHACTIVATEINFO* info,
                        DWORD flags);
// WM_SETTINGCHANGE: the handheld has no input panel whose changes would move
// the window, so nothing changes.
BOOL SHHandleWMSettingChange(HWND hwnd, WPARAM wParam, LPARAM lParam, SHACTIVATEINFO* info);

#define SHFS_SHOWTASKBAR 0x0001u
#define SHFS_HIDETASKBAR 0x0002u
#define SHFS_SHOWSIPBUTTON 0x0004u
#define SHFS_HIDESIPBUTTON 0x0008u
#define SHFS_SHOWSTARTICON 0x0010u
#define SHFS_HIDESTARTICON 0x0020u
// While `hwnd` is the active window the screen's top bar (the task bar) lies
// beneath every window (SHFS_HIDETASKBAR) or above them (SHFS_SHOWTASKBAR);
// the window keeps its place, so a window left in the work area still has
// the bar, its title and its "ok" button above it. The input-panel button
// and the start icon are recorded.
BOOL SHFullScreen(HWND hwnd, DWORD state);

#pragma GCC visibility pop
