#include "Controls.h"

#include <string>

#include "DialogBox.h"
#include "WindowManager.h"

namespace handheld::detail {
namespace {

HBRUSH ColorBrush(int index) {
  return reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(index + 1));
}

struct ControlLook {
  std::u16string text;
  DWORD style = 0;
  HFONT font = nullptr;
  bool pressed = false;
  bool focused = false;
};

ControlLook LookOf(HWND hwnd) {
  ControlLook look;
  auto window = WindowManager::Instance().Find(hwnd);
  if (!window) return look;
  auto lock = WindowManager::Instance().Guard();
  look.text = window->text;
  look.style = window->style;
  look.font = window->font;
  look.pressed = window->pressed;
  lock.unlock();
  look.focused = WindowManager::Instance().Focus() == hwnd;
  return look;
}

void SetPressed(HWND hwnd, bool pressed) {
  auto window = WindowManager::Instance().Find(hwnd);
  if (!window) return;
  {
    auto lock = WindowManager::Instance().Guard();
    if (window->pressed == pressed) return;
    window->pressed = pressed;
  }
  InvalidateRect(hwnd, nullptr, TRUE);
}

bool Pressed(HWND hwnd) { return LookOf(hwnd).pressed; }

// Paints the control with `draw(dc, client rectangle, look)`.
template <class Draw>
LRESULT Paint(HWND hwnd, Draw draw) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  RECT client;
  GetClientRect(hwnd, &client);
  const ControlLook look = LookOf(hwnd);
  if (look.font) SelectObject(dc, look.font);
  SetBkMode(dc, TRANSPARENT);
  draw(dc, client, look);
  EndPaint(hwnd, &ps);
  return 0;
}

void Frame(HDC dc, const RECT& r, int width, HBRUSH brush) {
  const RECT sides[] = {{r.left, r.top, r.right, r.top + width},
                        {r.left, r.bottom - width, r.right, r.bottom},
                        {r.left, r.top, r.left + width, r.bottom},
                        {r.right - width, r.top, r.right, r.bottom}};
  for (const RECT& side : sides) FillRect(dc, &side, brush);
}

void Click(HWND hwnd) {
  SendMessageW(GetParent(hwnd), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), BN_CLICKED),
               reinterpret_cast<LPARAM>(hwnd));
}

LRESULT CommonMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETTEXT: {
      LRESULT result = DefWindowProcW(hwnd, message, wParam, lParam);
      InvalidateRect(hwnd, nullptr, TRUE);
      return result;
    }
    case WM_SETFONT: {
      DefWindowProcW(hwnd, message, wParam, lParam);
      if (lParam) InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    }
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

LRESULT CALLBACK StaticProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_PAINT) return CommonMessage(hwnd, message, wParam, lParam);
  return Paint(hwnd, [](HDC dc, RECT client, const ControlLook& look) {
    UINT format = DT_WORDBREAK;
    if ((look.style & 0xF) == SS_CENTER) format |= DT_CENTER;
    if (look.style & SS_NOPREFIX) format |= DT_NOPREFIX;
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    DrawTextW(dc, look.text.c_str(), -1, &client, format);
  });
}

LRESULT CALLBACK ButtonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      return Paint(hwnd, [](HDC dc, RECT client, const ControlLook& look) {
        const bool isDefault = (look.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
        FillRect(dc, &client, ColorBrush(look.pressed ? COLOR_WINDOWTEXT : COLOR_BTNFACE));
        Frame(dc, client, isDefault ? 2 : 1, ColorBrush(COLOR_WINDOWFRAME));
        SetTextColor(dc, GetSysColor(look.pressed ? COLOR_HIGHLIGHTTEXT : COLOR_BTNTEXT));
        DrawTextW(dc, look.text.c_str(), -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      });
    case WM_ERASEBKGND:
      return 1;  // painted whole
    case WM_LBUTTONDOWN:
      SetPressed(hwnd, true);
      return 0;
    case WM_MOUSEMOVE:
      return 0;
    case WM_LBUTTONUP: {
      if (!Pressed(hwnd)) return 0;
      SetPressed(hwnd, false);
      RECT client;
      GetClientRect(hwnd, &client);
      const POINT at{static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))};
      if (at.x >= 0 && at.y >= 0 && at.x < client.right && at.y < client.bottom) Click(hwnd);
      return 0;
    }
    case BM_CLICK:
      Click(hwnd);
      return 0;
    default:
      return CommonMessage(hwnd, message, wParam, lParam);
  }
}

LRESULT CALLBACK EditProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      return Paint(hwnd, [](HDC dc, RECT client, const ControlLook& look) {
        FillRect(dc, &client, ColorBrush(COLOR_WINDOW));
        Frame(dc, client, 1, ColorBrush(COLOR_WINDOWFRAME));
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        RECT inside{client.left + 3, client.top + 1, client.right - 3, client.bottom - 1};
        DrawTextW(dc, look.text.c_str(), -1, &inside,
                  DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        if (look.focused) {  // the caret stands after the text
          SIZE size{};
          GetTextExtentPoint32W(dc, look.text.c_str(), static_cast<int>(look.text.size()), &size);
          const LONG x = std::min(inside.left + size.cx, inside.right - 1);
          RECT caret{x, inside.top + 1, x + 1, inside.bottom - 1};
          FillRect(dc, &caret, ColorBrush(COLOR_WINDOWTEXT));
        }
      });
    case WM_LBUTTONDOWN:
      SetFocus(hwnd);
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    case WM_CHAR: {
      std::u16string text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, u'\0');
      GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()));
      text.resize(text.size() - 1);
      const WCHAR c = static_cast<WCHAR>(wParam);
      if (c == VK_BACK) {
        if (!text.empty()) text.pop_back();
      } else if (c >= 0x20) {
        text.push_back(c);
      } else {
        return 0;
      }
      SetWindowTextW(hwnd, text.c_str());
      return 0;
    }
    case EM_SETSEL:
      return 0;
    default:
      return CommonMessage(hwnd, message, wParam, lParam);
  }
}

}  // namespace

std::vector<Controls::SystemClass> Controls::Classes() {
  auto make = [](LPCWSTR name, WNDPROC proc, WindowRole role = WindowRole::kPlain) {
    WNDCLASSW wc{};
    wc.lpszClassName = name;
    wc.lpfnWndProc = proc;
    wc.hbrBackground = ColorBrush(COLOR_WINDOW);
    return SystemClass{wc, role};
  };
  return {make(u"STATIC", StaticProc), make(u"BUTTON", ButtonProc), make(u"EDIT", EditProc),
          make(kDialogClass, DialogBox::WindowProc, WindowRole::kDialog)};
}

}  // namespace handheld::detail
