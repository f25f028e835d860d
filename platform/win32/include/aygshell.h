// The Pocket PC shell's activation, setting-change and full-screen calls,
// which desktop Windows does not have, as this layer provides them.
#pragma once

#include <windows.h>

typedef struct tagSHACTIVATEINFO {
  DWORD cbSize;
  HWND hwndLastFocus;
  UINT fSipUp : 1;
  UINT fSipOnDeactivation : 1;
  UINT fActive : 1;
  UINT fReserved : 29;
} SHACTIVATEINFO, *PSHACTIVATEINFO;

// WM_ACTIVATE: notes whether the window is active and, when it loses
// activation, which of its windows had the focus (given back on return).
BOOL WINAPI SHHandleWMActivate(HWND hwnd, WPARAM wParam, LPARAM lParam, SHACTIVATEINFO* info,
                               DWORD flags);
// WM_SETTINGCHANGE: desktop Windows has no input panel whose changes would
// move the window, so nothing changes.
BOOL WINAPI SHHandleWMSettingChange(HWND hwnd, WPARAM wParam, LPARAM lParam,
                                    SHACTIVATEINFO* info);

#define SHFS_SHOWTASKBAR 0x0001
#define SHFS_HIDETASKBAR 0x0002
#define SHFS_SHOWSIPBUTTON 0x0004
#define SHFS_HIDESIPBUTTON 0x0008
#define SHFS_SHOWSTARTICON 0x0010
#define SHFS_HIDESTARTICON 0x0020
// Desktop Windows has no task bar or input panel of the handheld's kind
// to hide: the window stays as it is and the call succeeds.
BOOL WINAPI SHFullScreen(HWND hwnd, DWORD state);
