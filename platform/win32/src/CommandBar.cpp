// The handheld's command bar on desktop Windows: a hidden child window
// stands for the bar, and its menu becomes the parent's menu bar.
#include <windows.h>

#include <commctrl.h>

namespace {

HWND ParentOf(HWND commandBar) {
  return IsWindow(commandBar) ? GetParent(commandBar) : nullptr;
}

BOOL NoBar() {
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return FALSE;
}

}  // namespace

HWND WINAPI CommandBar_Create(HINSTANCE instance, HWND parent, int id) {
  return CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 0, 0, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
}

BOOL WINAPI CommandBar_InsertMenubar(HWND commandBar, HINSTANCE instance, WORD menuId, WORD) {
  HWND parent = ParentOf(commandBar);
  if (parent == nullptr) return NoBar();
  HMENU menu = LoadMenuW(instance, MAKEINTRESOURCEW(menuId));
  if (menu == nullptr) return FALSE;
  if (!SetMenu(parent, menu)) {
    DestroyMenu(menu);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI CommandBar_AddAdornments(HWND commandBar, DWORD, DWORD) {
  return ParentOf(commandBar) != nullptr ? TRUE : NoBar();
}

BOOL WINAPI CommandBar_Show(HWND commandBar, BOOL) {
  HWND parent = ParentOf(commandBar);
  if (parent == nullptr) return NoBar();
  return DrawMenuBar(parent);
}

void WINAPI CommandBar_Destroy(HWND commandBar) {
  HWND parent = ParentOf(commandBar);
  if (parent == nullptr) return;
  HMENU menu = GetMenu(parent);
  SetMenu(parent, nullptr);
  if (menu != nullptr) DestroyMenu(menu);
  DestroyWindow(commandBar);
}

int WINAPI CommandBar_Height(HWND) { return 0; }
