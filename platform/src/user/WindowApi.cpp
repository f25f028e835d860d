// The window calls: classes, windows, their text and places, painting,
// sending and posting, focus and keys, cursors.
#include <algorithm>
#include <memory>
#include <string>

#include "HandleTable.h"
#include "MessageQueue.h"
#include "Screen.h"
#include "Status.h"
#include "WindowDC.h"
#include "WindowManager.h"
#include "handheld.h"

namespace {

using handheld::detail::HandleKind;
using handheld::detail::HandleTable;
using handheld::detail::MessageQueue;
using handheld::detail::ReportStatus;
using handheld::detail::Status;
using handheld::detail::Window;
using handheld::detail::WindowManager;

WindowManager& Manager() { return WindowManager::Instance(); }

template <class T>
T Fail(Status status, T result) {
  ReportStatus(status);
  return result;
}

std::shared_ptr<Window> Find(HWND hwnd) {
  auto window = Manager().Find(hwnd);
  if (!window) ReportStatus(ERROR_INVALID_WINDOW_HANDLE);
  return window;
}

std::u16string TextOf(const std::shared_ptr<Window>& window) {
  auto lock = Manager().Guard();
  return window->text;
}

// System cursors: the arrow and the wait cursor, made on first use.
struct Cursor : handheld::detail::HandleObject {
  bool wait = false;
};

struct SystemCursors {
  HCURSOR arrow = nullptr;
  HCURSOR wait = nullptr;
  HCURSOR current = nullptr;
  SystemCursors() {
    arrow = HandleTable::Add<HCURSOR>(HandleKind::kIcon, std::make_shared<Cursor>());
    auto waitCursor = std::make_shared<Cursor>();
    waitCursor->wait = true;
    wait = HandleTable::Add<HCURSOR>(HandleKind::kIcon, waitCursor);
    current = arrow;
  }
};

SystemCursors& Cursors() {
  static SystemCursors& cursors = handheld::detail::ProcessLifetime<SystemCursors>::Get();
  return cursors;
}

}  // namespace

ATOM RegisterClassW(const WNDCLASSW* wc) {
  if (!wc) return Fail(ERROR_INVALID_PARAMETER, ATOM{0});
  static ATOM next = 0xC000;
  Status status = Manager().RegisterClass(*wc);
  if (!status.ok()) return Fail(status, ATOM{0});
  auto lock = Manager().Guard();
  return next++;
}

BOOL UnregisterClassW(LPCWSTR className, HINSTANCE) {
  if (!className) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  return ReportStatus(Manager().UnregisterClass(className));
}

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param) {
  if (!className || IS_INTRESOURCE(className)) return Fail(ERROR_INVALID_PARAMETER, HWND{});
  HWND created = nullptr;
  Status status = Manager().Create(exStyle, className, windowName, style, x, y, width, height,
                                   parent, menu, instance, param, &created);
  if (!status.ok()) return Fail(status, HWND{});
  return created;
}

BOOL DestroyWindow(HWND hwnd) { return ReportStatus(Manager().Destroy(hwnd)); }

BOOL IsWindow(HWND hwnd) { return Manager().Find(hwnd) ? TRUE : FALSE; }

BOOL IsWindowVisible(HWND hwnd) {
  auto window = Manager().Find(hwnd);
  if (!window) return FALSE;
  return Manager().IsShown(*window) ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND hwnd) {
  auto window = Manager().Find(hwnd);
  if (!window) return FALSE;
  auto lock = Manager().Guard();
  return window->enabled() ? TRUE : FALSE;
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
  auto window = Find(hwnd);
  if (!window) return FALSE;
  bool wasDisabled;
  {
    auto lock = Manager().Guard();
    wasDisabled = !window->enabled();
    if (enable) window->style &= ~WS_DISABLED;
    else window->style |= WS_DISABLED;
  }
  if (wasDisabled == !enable) return wasDisabled;
  Manager().Send(window, WM_ENABLE, enable ? TRUE : FALSE, 0);
  return wasDisabled;
}

HWND GetParent(HWND hwnd) {
  auto window = Find(hwnd);
  if (!window) return nullptr;
  auto lock = Manager().Guard();
  return window->parent ? window->parent : window->owner;
}

HWND GetDlgItem(HWND dialog, int id) {
  auto window = Find(dialog);
  if (!window) return nullptr;
  std::vector<HWND> children;
  {
    auto lock = Manager().Guard();
    children = window->children;
  }
  for (HWND child : children) {
    auto c = Manager().Find(child);
    auto lock = Manager().Guard();
    if (c && static_cast<int>(static_cast<WORD>(c->id)) == static_cast<int>(static_cast<WORD>(id)))
      return child;
  }
  ReportStatus(ERROR_INVALID_PARAMETER);
  return nullptr;
}

int GetDlgCtrlID(HWND hwnd) {
  auto window = Find(hwnd);
  if (!window) return 0;
  auto lock = Manager().Guard();
  return static_cast<int>(window->id);
}

HWND FindWindowW(LPCWSTR className, LPCWSTR windowName) {
  if (!className) return nullptr;
  std::u16string title = windowName ? windowName : u"";
  return Manager().FindTopLevel(className, windowName ? &title : nullptr);
}

LRESULT DefWindowProcW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto window = Manager().Find(hwnd);
  if (!window) return 0;
  switch (message) {
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_ERASEBKGND: {
      HBRUSH brush = window->windowClass->background;
      if (!brush) return 0;
      RECT client;
      GetClientRect(hwnd, &client);
      FillRect(reinterpret_cast<HDC>(wParam), &client, brush);
      return 1;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(hwnd, &ps);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_SETTEXT: {
      bool topLevel;
      {
        auto lock = Manager().Guard();
        window->text = lParam ? reinterpret_cast<LPCWSTR>(lParam) : u"";
        topLevel = !window->isChild();
      }
      if (topLevel) {
        Manager().RedrawTopBar();
        Manager().PaintFrame(window);
      }
      return TRUE;
    }
    case WM_GETTEXT: {
      if (wParam == 0 || !lParam) return 0;
      const std::u16string text = TextOf(window);
      const size_t n = std::min<size_t>(text.size(), wParam - 1);
      auto* out = reinterpret_cast<LPWSTR>(lParam);
      std::copy_n(text.begin(), n, out);
      out[n] = 0;
      return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(TextOf(window).size());
    case WM_SETFONT: {
      auto lock = Manager().Guard();
      window->font = reinterpret_cast<HFONT>(wParam);
      return 0;
    }
    case WM_GETFONT: {
      auto lock = Manager().Guard();
      return reinterpret_cast<LRESULT>(window->font);
    }
    default:
      return 0;
  }
}

LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return proc ? proc(hwnd, message, wParam, lParam) : 0;
}

LONG GetWindowLongW(HWND hwnd, int index) {
  auto window = Find(hwnd);
  if (!window) return 0;
  auto lock = Manager().Guard();
  switch (index) {
    case GWL_STYLE: return static_cast<LONG>(window->style);
    case GWL_EXSTYLE: return static_cast<LONG>(window->exStyle);
    case GWL_USERDATA: return window->userData;
    case GWL_ID: return static_cast<LONG>(window->id);
    default: lock.unlock(); return Fail(ERROR_INVALID_PARAMETER, 0);
  }
}

LONG SetWindowLongW(HWND hwnd, int index, LONG value) {
  auto window = Find(hwnd);
  if (!window) return 0;
  auto lock = Manager().Guard();
  switch (index) {
    case GWL_STYLE: return static_cast<LONG>(std::exchange(window->style, static_cast<DWORD>(value)));
    case GWL_EXSTYLE:
      return static_cast<LONG>(std::exchange(window->exStyle, static_cast<DWORD>(value)));
    case GWL_USERDATA: return std::exchange(window->userData, value);
    case GWL_ID: return static_cast<LONG>(std::exchange(window->id, static_cast<UINT_PTR>(value)));
    default: lock.unlock(); return Fail(ERROR_INVALID_PARAMETER, 0);
  }
}

BOOL SetWindowTextW(HWND hwnd, LPCWSTR text) {
  auto window = Find(hwnd);
  if (!window) return FALSE;
  return Manager().Send(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : u"")) ? TRUE
                                                                                            : FALSE;
}

int GetWindowTextW(HWND hwnd, LPWSTR buffer, int maxChars) {
  auto window = Find(hwnd);
  if (!window || !buffer || maxChars <= 0) return 0;
  return static_cast<int>(Manager().Send(window, WM_GETTEXT, static_cast<WPARAM>(maxChars),
                                         reinterpret_cast<LPARAM>(buffer)));
}

int GetWindowTextLengthW(HWND hwnd) {
  auto window = Find(hwnd);
  if (!window) return 0;
  return static_cast<int>(Manager().Send(window, WM_GETTEXTLENGTH, 0, 0));
}

BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
  HWND item = GetDlgItem(dialog, id);
  return item ? SetWindowTextW(item, text) : FALSE;
}

UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR buffer, int maxChars) {
  HWND item = GetDlgItem(dialog, id);
  if (!item) {
    if (buffer && maxChars > 0) buffer[0] = 0;
    return 0;
  }
  return static_cast<UINT>(GetWindowTextW(item, buffer, maxChars));
}

BOOL GetClientRect(HWND hwnd, LPRECT rect) {
  auto window = Find(hwnd);
  if (!window) return FALSE;
  if (!rect) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  auto lock = Manager().Guard();
  *rect = RECT{0, 0, window->client.right - window->client.left,
               window->client.bottom - window->client.top};
  return TRUE;
}

BOOL GetWindowRect(HWND hwnd, LPRECT rect) {
  auto window = Find(hwnd);
  if (!window) return FALSE;
  if (!rect) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  auto lock = Manager().Guard();
  *rect = window->rect;
  return TRUE;
}

BOOL ClientToScreen(HWND hwnd, LPPOINT point) {
  auto window = Find(hwnd);
  if (!window || !point) return FALSE;
  auto lock = Manager().Guard();
  point->x += window->client.left;
  point->y += window->client.top;
  return TRUE;
}

BOOL ScreenToClient(HWND hwnd, LPPOINT point) {
  auto window = Find(hwnd);
  if (!window || !point) return FALSE;
  auto lock = Manager().Guard();
  point->x -= window->client.left;
  point->y -= window->client.top;
  return TRUE;
}

BOOL SetWindowPos(HWND hwnd, HWND, int x, int y, int width, int height, UINT flags) {
  auto window = Find(hwnd);
  if (!window) return FALSE;
  return ReportStatus(Manager().SetPosition(window, x, y, width, height, flags));
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL) {
  return SetWindowPos(hwnd, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL ShowWindow(HWND hwnd, int command) {
  auto window = Find(hwnd);
  if (!window) return FALSE;
  const bool show = command != SW_HIDE && command != SW_MINIMIZE;
  const bool activate = command != SW_SHOWNA && !window->isChild();
  return Manager().Show(window, show, activate) ? TRUE : FALSE;
}

BOOL UpdateWindow(HWND hwnd) {
  auto window = Find(hwnd);
  if (!window) return FALSE;
  bool pending;
  {
    auto lock = Manager().Guard();
    pending = window->update.has_value();
  }
  if (pending) Manager().Send(window, WM_PAINT, 0, 0);
  return TRUE;
}

HWND SetActiveWindow(HWND hwnd) {
  HWND previous = Manager().Active();
  if (!Find(hwnd)) return nullptr;
  Manager().Activate(hwnd);
  return previous;
}

HWND GetActiveWindow() { return Manager().Active(); }
BOOL SetForegroundWindow(HWND hwnd) { return SetActiveWindow(hwnd) || Manager().Active() == hwnd; }
HWND GetForegroundWindow() { return Manager().Active(); }

HWND SetFocus(HWND hwnd) {
  if (hwnd && !Find(hwnd)) return nullptr;
  return Manager().SetFocus(hwnd);
}

HWND GetFocus() { return Manager().Focus(); }

HWND SetCapture(HWND hwnd) { return Manager().SetCapture(hwnd); }
BOOL ReleaseCapture() {
  Manager().SetCapture(nullptr);
  return TRUE;
}
HWND GetCapture() { return Manager().Capture(); }

SHORT GetKeyState(int virtualKey) { return Manager().KeyState(virtualKey); }
SHORT GetAsyncKeyState(int virtualKey) { return Manager().KeyState(virtualKey); }

// ---- painting ----

BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase) {
  auto window = Find(hwnd);
  if (!window) return FALSE;
  Manager().Invalidate(window, rect, erase != FALSE);
  return TRUE;
}

BOOL ValidateRect(HWND hwnd, const RECT* rect) {
  auto window = Find(hwnd);
  if (!window) return FALSE;
  Manager().Validate(window, rect);
  return TRUE;
}

BOOL GetUpdateRect(HWND hwnd, LPRECT rect, BOOL) {
  auto window = Find(hwnd);
  if (!window) return FALSE;
  auto lock = Manager().Guard();
  if (rect) *rect = window->update.value_or(RECT{});
  return window->update.has_value() ? TRUE : FALSE;
}

HDC GetDC(HWND window) {
  if (!window)
    return handheld::detail::CreateWindowDC(
        POINT{0, 0}, {RECT{0, 0, handheld::detail::Screen::kWidth, handheld::detail::Screen::kHeight}});
  POINT origin{};
  std::vector<RECT> visible;
  if (!Manager().VisibleArea(window, &origin, &visible))
    return Fail(ERROR_INVALID_WINDOW_HANDLE, HDC{});
  return handheld::detail::CreateWindowDC(origin, std::move(visible));
}

HDC BeginPaint(HWND hwnd, LPPAINTSTRUCT paint) {
  auto window = Find(hwnd);
  if (!window) return nullptr;
  if (!paint) return Fail(ERROR_INVALID_PARAMETER, HDC{});
  bool erase = false;
  const RECT update = Manager().TakeUpdate(window, &erase);
  Manager().PaintFrame(window);
  POINT origin{};
  std::vector<RECT> visible;
  Manager().VisibleArea(hwnd, &origin, &visible, &update);
  HDC dc = handheld::detail::CreateWindowDC(origin, std::move(visible));
  *paint = PAINTSTRUCT{};
  paint->hdc = dc;
  paint->rcPaint = update;
  paint->fErase = FALSE;
  if (erase) paint->fErase = Manager().Send(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0)
                                 ? FALSE
                                 : TRUE;
  return dc;
}

BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* paint) {
  if (!paint) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  return ReleaseDC(hwnd, paint->hdc) ? TRUE : FALSE;
}

// ---- sending and posting ----

LRESULT SendMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto window = Find(hwnd);
  if (!window) return 0;
  return Manager().Send(window, message, wParam, lParam);
}

LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND item = GetDlgItem(dialog, id);
  return item ? SendMessageW(item, message, wParam, lParam) : 0;
}

BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!hwnd) {
    MessageQueue::Current()->Post(MSG{nullptr, message, wParam, lParam, GetTickCount(), {}});
    return TRUE;
  }
  auto window = Find(hwnd);
  if (!window) return FALSE;
  window->queue->Post(MSG{hwnd, message, wParam, lParam, GetTickCount(), {}});
  return TRUE;
}

BOOL TranslateMessage(const MSG* msg) {
  if (!msg || (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN)) return FALSE;
  WCHAR character = 0;
  if (!Manager().TakeCharacter(*msg, &character)) return FALSE;
  PostMessageW(msg->hwnd, msg->message == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR, character,
               msg->lParam);
  return TRUE;
}

// ---- cursors ----

HCURSOR LoadCursorW(HINSTANCE instance, LPCWSTR name) {
  if (instance || !IS_INTRESOURCE(name)) return Fail(ERROR_RESOURCE_NAME_NOT_FOUND, HCURSOR{});
  if (name == IDC_ARROW) return Cursors().arrow;
  if (name == IDC_WAIT) return Cursors().wait;
  return Fail(ERROR_RESOURCE_NAME_NOT_FOUND, HCURSOR{});
}

HCURSOR SetCursor(HCURSOR cursor) {
  SystemCursors& cursors = Cursors();
  HCURSOR previous;
  {
    auto lock = Manager().Guard();
    previous = std::exchange(cursors.current, cursor);
  }
  Manager().SetWaitCursor(cursor == cursors.wait);
  return previous;
}

HCURSOR GetCursor() {
  auto lock = Manager().Guard();
  return Cursors().current;
}
