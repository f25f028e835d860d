// The shell's calls: activation, setting changes and full-screen windows.
#include "WindowManager.h"
#include "aygshell.h"

using handheld::detail::WindowManager;

BOOL SHHandleWMActivate(HWND hwnd, WPARAM wParam, LPARAM, SHACTIVATEINFO* info, DWORD) {
  if (!info || !IsWindow(hwnd)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const bool active = LOWORD(wParam) != WA_INACTIVE;
  if (!active) {
    info->hwndLastFocus = GetFocus();
  } else if (info->hwndLastFocus && IsWindow(info->hwndLastFocus)) {
    SetFocus(info->hwndLastFocus);
  }
  info->fActive = active ? 1 : 0;
  return TRUE;
}

BOOL SHHandleWMSettingChange(HWND hwnd, WPARAM, LPARAM, SHACTIVATEINFO* info) {
  if (!info || !IsWindow(hwnd)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

BOOL SHFullScreen(HWND hwnd, DWORD state) {
  auto window = WindowManager::Instance().Find(hwnd);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (state & SHFS_HIDETASKBAR) WindowManager::Instance().SetHideTopBar(window, true);
  if (state & SHFS_SHOWTASKBAR) WindowManager::Instance().SetHideTopBar(window, false);
  return TRUE;
}
