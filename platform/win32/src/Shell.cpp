// The shell's activation, setting-change and full-screen calls on desktop
// Windows.
#include <windows.h>

#include <aygshell.h>

BOOL WINAPI SHHandleWMActivate(HWND hwnd, WPARAM wParam, LPARAM, SHACTIVATEINFO* info, DWORD) {
  if (info == nullptr) return FALSE;
  const bool active = LOWORD(wParam) != WA_INACTIVE;
  if (!active) {
    HWND focus = GetFocus();
    info->hwndLastFocus = (focus != nullptr && IsChild(hwnd, focus)) ? focus : nullptr;
  } else if (info->hwndLastFocus != nullptr && IsWindow(info->hwndLastFocus)) {
    SetFocus(info->hwndLastFocus);
  }
  info->fActive = active ? 1 : 0;
  return TRUE;
}

BOOL WINAPI SHHandleWMSettingChange(HWND, WPARAM, LPARAM, SHACTIVATEINFO* info) {
  return info != nullptr;
}

BOOL WINAPI SHFullScreen(HWND hwnd, DWORD) {
  if (!IsWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return TRUE;
}
