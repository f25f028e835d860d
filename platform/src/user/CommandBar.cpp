// The command bar and its popup menus: the bar is a top-level window owned
// by the program's window, in the band below the work area; a popup is a
// window owned by the bar, standing on top of it.
#include <algorithm>
#include <string>
#include <vector>

#include "Menu.h"
#include "ScreenLayout.h"
#include "WindowManager.h"
#include "commctrl.h"

namespace handheld::detail {
namespace {

constexpr const char16_t* kBarClass = u"#CommandBar";
constexpr const char16_t* kPopupClass = u"#MenuPopup";
constexpr int kTitlePadding = 8;
constexpr int kCloseWidth = 26;
constexpr int kOkWidth = 30;
constexpr int kItemHeight = 20;
constexpr int kPopupMinWidth = 80;
constexpr RECT kBand{0, ScreenLayout::kWorkArea.bottom, 240, 320};

HBRUSH SystemBrush(int index) {
  return reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(index + 1));
}

std::shared_ptr<Window> FindWindow(HWND hwnd) { return WindowManager::Instance().Find(hwnd); }

// The bar's state: its menu, the open popup's index, its adornments.
struct BarState {
  HMENU menu = nullptr;
  int open = -1;
  DWORD adornments = 0;
};

BarState StateOf(HWND bar) {
  BarState state;
  auto window = FindWindow(bar);
  if (!window) return state;
  auto lock = WindowManager::Instance().Guard();
  state.menu = window->menu;
  state.open = window->openPopup;
  state.adornments = static_cast<DWORD>(window->userData);
  return state;
}

void SetOpen(HWND bar, int open) {
  if (auto window = FindWindow(bar)) {
    auto lock = WindowManager::Instance().Guard();
    window->openPopup = open;
  }
  InvalidateRect(bar, nullptr, TRUE);
}

int TextWidth(const std::u16string& text) {
  HDC dc = CreateCompatibleDC(nullptr);
  RECT r{0, 0, 0, 0};
  DrawTextW(dc, text.c_str(), -1, &r, DT_CALCRECT | DT_SINGLELINE);
  DeleteDC(dc);
  return r.right;
}

// Where each popup's title lies on the bar (x from, x to).
std::vector<std::pair<int, int>> TitleCells(const Menu& menu) {
  std::vector<std::pair<int, int>> cells;
  int x = 0;
  for (const Menu::Item& item : menu.items) {
    const int width = TextWidth(item.text) + 2 * kTitlePadding;
    cells.emplace_back(x, x + width);
    x += width;
  }
  return cells;
}

RECT CloseButton() { return RECT{kBand.right - kCloseWidth, 0, kBand.right, kBand.bottom - kBand.top}; }
RECT OkButton() {
  const RECT close = CloseButton();
  return RECT{close.left - kOkWidth, 0, close.left, close.bottom};
}

HWND OpenPopupWindow(HWND bar) {
  for (HWND top : WindowManager::Instance().TopLevels()) {
    auto w = FindWindow(top);
    if (!w || w->windowClass->role != WindowRole::kMenuPopup) continue;
    auto lock = WindowManager::Instance().Guard();
    if (w->owner == bar) return top;
  }
  return nullptr;
}

void ClosePopup(HWND bar) {
  if (HWND popup = OpenPopupWindow(bar)) DestroyWindow(popup);
  SetOpen(bar, -1);
}

void OpenPopup(HWND bar, int index, int left) {
  ClosePopup(bar);
  const BarState state = StateOf(bar);
  auto menu = Menu::Find(state.menu);
  if (!menu || index < 0 || static_cast<size_t>(index) >= menu->items.size()) return;
  auto popup = Menu::Find(menu->items[static_cast<size_t>(index)].popup);
  if (!popup) return;
  int width = kPopupMinWidth;
  for (const Menu::Item& item : popup->items)
    width = std::max(width, TextWidth(item.text) + 3 * kTitlePadding);
  const int height = static_cast<int>(popup->items.size()) * kItemHeight + 2;
  left = std::min(left, static_cast<int>(kBand.right) - width);
  HWND window = CreateWindowExW(0, kPopupClass, u"", WS_POPUP, left, kBand.top - height, width,
                                height, bar, nullptr, nullptr, nullptr);
  if (!window) return;
  if (auto w = FindWindow(window)) {
    auto lock = WindowManager::Instance().Guard();
    w->menu = popup->handle;
  }
  ShowWindow(window, SW_SHOWNA);
  SetOpen(bar, index);
}

LRESULT PaintBar(HWND bar) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(bar, &ps);
  RECT client;
  GetClientRect(bar, &client);
  FillRect(dc, &client, SystemBrush(COLOR_BTNFACE));
  RECT line{0, 0, client.right, 1};
  FillRect(dc, &line, SystemBrush(COLOR_BTNSHADOW));
  SetBkMode(dc, TRANSPARENT);
  const BarState state = StateOf(bar);
  if (auto menu = Menu::Find(state.menu)) {
    const auto cells = TitleCells(*menu);
    for (size_t i = 0; i < cells.size(); ++i) {
      RECT cell{cells[i].first, 1, cells[i].second, client.bottom};
      const bool open = static_cast<int>(i) == state.open;
      if (open) FillRect(dc, &cell, SystemBrush(COLOR_HIGHLIGHT));
      SetTextColor(dc, GetSysColor(open ? COLOR_HIGHLIGHTTEXT : COLOR_BTNTEXT));
      DrawTextW(dc, menu->items[i].text.c_str(), -1, &cell,
                DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
  }
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  RECT close = CloseButton();
  DrawTextW(dc, u"\u00D7", -1, &close, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  if (state.adornments & CMDBAR_OK) {
    RECT ok = OkButton();
    DrawTextW(dc, u"ok", -1, &ok, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  EndPaint(bar, &ps);
  return 0;
}

LRESULT CALLBACK BarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      return PaintBar(bar);
    case WM_ERASEBKGND:
      return 1;
    case WM_LBUTTONDOWN: {
      const POINT at{static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))};
      const BarState state = StateOf(bar);
      const HWND owner = GetParent(bar);
      auto inside = [&](const RECT& r) { return at.x >= r.left && at.x < r.right; };
      if (inside(CloseButton())) {
        ClosePopup(bar);
        PostMessageW(owner, WM_CLOSE, 0, 0);
        return 0;
      }
      if ((state.adornments & CMDBAR_OK) && inside(OkButton())) {
        ClosePopup(bar);
        PostMessageW(owner, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
        return 0;
      }
      if (auto menu = Menu::Find(state.menu)) {
        const auto cells = TitleCells(*menu);
        for (size_t i = 0; i < cells.size(); ++i) {
          if (at.x < cells[i].first || at.x >= cells[i].second) continue;
          if (state.open == static_cast<int>(i)) {
            ClosePopup(bar);
          } else if (menu->items[i].popup) {
            OpenPopup(bar, static_cast<int>(i), cells[i].first);
          } else {  // a command on the bar itself
            ClosePopup(bar);
            PostMessageW(owner, WM_COMMAND, MAKEWPARAM(menu->items[i].id, 0), 0);
          }
          return 0;
        }
      }
      ClosePopup(bar);
      return 0;
    }
    default:
      return DefWindowProcW(bar, message, wParam, lParam);
  }
}

LRESULT CALLBACK PopupProc(HWND popup, UINT message, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<Menu> menu;
  if (auto w = FindWindow(popup)) {
    auto lock = WindowManager::Instance().Guard();
    menu = Menu::Find(w->menu);
  }
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(popup, &ps);
      RECT client;
      GetClientRect(popup, &client);
      FillRect(dc, &client, SystemBrush(COLOR_WINDOWFRAME));
      RECT inside{1, 1, client.right - 1, client.bottom - 1};
      FillRect(dc, &inside, SystemBrush(COLOR_WINDOW));
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      for (size_t i = 0; menu && i < menu->items.size(); ++i) {
        RECT row{kTitlePadding, 1 + static_cast<LONG>(i) * kItemHeight, client.right - 1,
                 1 + static_cast<LONG>(i + 1) * kItemHeight};
        if (menu->items[i].flags & MF_SEPARATOR) {
          RECT rule{4, (row.top + row.bottom) / 2, client.right - 4, (row.top + row.bottom) / 2 + 1};
          FillRect(dc, &rule, SystemBrush(COLOR_BTNSHADOW));
          continue;
        }
        DrawTextW(dc, menu->items[i].text.c_str(), -1, &row, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
      }
      EndPaint(popup, &ps);
      return 0;
    }
    case WM_LBUTTONUP: {
      const int y = static_cast<SHORT>(HIWORD(lParam)) - 1;
      const HWND bar = GetParent(popup);
      const HWND owner = GetParent(bar);
      if (menu && y >= 0 && y / kItemHeight < static_cast<int>(menu->items.size())) {
        const Menu::Item& item = menu->items[static_cast<size_t>(y / kItemHeight)];
        if (item.flags & (MF_SEPARATOR | MF_GRAYED | MF_DISABLED | MF_POPUP)) return 0;
        ClosePopup(bar);
        PostMessageW(owner, WM_COMMAND, MAKEWPARAM(item.id, 0), 0);
      }
      return 0;
    }
    case WM_CLOSE:
      ClosePopup(GetParent(popup));
      return 0;
    default:
      return DefWindowProcW(popup, message, wParam, lParam);
  }
}

void RegisterClasses() {
  static const bool registered = [] {
    auto& manager = WindowManager::Instance();
    WNDCLASSW bar{};
    bar.lpfnWndProc = BarProc;
    bar.lpszClassName = kBarClass;
    static_cast<void>(manager.RegisterClass(bar));
    WNDCLASSW popup{};
    popup.lpfnWndProc = PopupProc;
    popup.lpszClassName = kPopupClass;
    static_cast<void>(manager.RegisterClass(popup, WindowRole::kMenuPopup));
    return true;
  }();
  static_cast<void>(registered);
}

}  // namespace
}  // namespace handheld::detail

using handheld::detail::FindWindow;
using handheld::detail::WindowManager;

HWND CommandBar_Create(HINSTANCE instance, HWND parent, int id) {
  if (!IsWindow(parent)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  handheld::detail::RegisterClasses();
  const RECT& band = handheld::detail::kBand;
  HWND bar = CreateWindowExW(0, handheld::detail::kBarClass, u"", WS_POPUP, band.left, band.top,
                             band.right - band.left, band.bottom - band.top, parent, nullptr,
                             instance, nullptr);
  if (!bar) return nullptr;
  SetWindowLongW(bar, GWL_ID, id);
  ShowWindow(bar, SW_SHOWNA);
  return bar;
}

BOOL CommandBar_InsertMenubar(HWND commandBar, HINSTANCE instance, WORD menuId, WORD) {
  auto window = FindWindow(commandBar);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  HMENU menu = LoadMenuW(instance, MAKEINTRESOURCEW(menuId));
  if (!menu) return FALSE;
  {
    auto lock = WindowManager::Instance().Guard();
    window->menu = menu;
  }
  InvalidateRect(commandBar, nullptr, TRUE);
  return TRUE;
}

BOOL CommandBar_AddAdornments(HWND commandBar, DWORD flags, DWORD) {
  if (!IsWindow(commandBar)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  SetWindowLongW(commandBar, GWL_USERDATA, static_cast<LONG>(flags));
  InvalidateRect(commandBar, nullptr, TRUE);
  return TRUE;
}

BOOL CommandBar_Show(HWND commandBar, BOOL show) {
  if (!IsWindow(commandBar)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  ShowWindow(commandBar, show ? SW_SHOWNA : SW_HIDE);
  return TRUE;
}

void CommandBar_Destroy(HWND commandBar) {
  if (IsWindow(commandBar)) DestroyWindow(commandBar);
}

int CommandBar_Height(HWND commandBar) {
  RECT r{};
  return GetWindowRect(commandBar, &r) ? r.bottom - r.top : 0;
}
