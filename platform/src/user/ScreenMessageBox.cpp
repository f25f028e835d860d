#include "ScreenMessageBox.h"

#include <algorithm>
#include <atomic>

#include "Screen.h"
#include "ScreenLayout.h"
#include "ScriptedAnswers.h"
#include "WindowManager.h"

namespace handheld::detail {
namespace {

constexpr int kWidth = 200;
constexpr int kMargin = 8;
constexpr int kButtonWidth = 56;
constexpr int kButtonHeight = 22;
constexpr int kButtonGap = 8;

const char16_t* ButtonText(int id) {
  switch (id) {
    case IDOK: return u"OK";
    case IDCANCEL: return u"Cancel";
    case IDABORT: return u"Abort";
    case IDRETRY: return u"Retry";
    case IDIGNORE: return u"Ignore";
    case IDYES: return u"Yes";
    case IDNO: return u"No";
    default: return u"?";
  }
}

void RegisterBoxClass(WNDPROC proc) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = proc;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_WINDOW + 1));
  wc.lpszClassName = ScreenMessageBox::kClassName;
  // Fails harmlessly once it is there.
  static_cast<void>(WindowManager::Instance().RegisterClass(wc, WindowRole::kMessageBox));
}

std::atomic<bool> forced{false};

void Choose(HWND hwnd, int id) {
  auto window = WindowManager::Instance().Find(hwnd);
  if (!window) return;
  {
    auto lock = WindowManager::Instance().Guard();
    if (window->dialogEnded) return;
    window->dialogEnded = true;
    window->dialogResult = id;
  }
  PostMessageW(hwnd, WM_NULL, 0, 0);  // the modal loop asks again
}

}  // namespace

bool ScreenMessageBox::OnDisplay() {
  return WindowManager::Instance().MainWindow() && Screen::Instance().OnDisplay();
}

bool ScreenMessageBox::Wanted() { return forced.load() || OnDisplay(); }

void ScreenMessageBox::Force(bool onScreen) { forced = onScreen; }

ScreenMessageBox::ScreenMessageBox(HWND owner, const std::u16string& text,
                                   const std::u16string& caption, UINT, std::vector<int> buttons,
                                   int defaultButton) {
  RegisterBoxClass(Proc);
  // How tall the text is in the system font, broken to the box's width.
  const int textWidth = kWidth - 2 - 2 * kMargin;
  HDC dc = CreateCompatibleDC(nullptr);
  RECT measured{0, 0, textWidth, 0};
  DrawTextW(dc, text.c_str(), -1, &measured, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  DeleteDC(dc);
  const int textHeight = std::min<int>(measured.bottom, 180);
  const int clientHeight = kMargin + textHeight + kMargin + kButtonHeight + kMargin;
  const int height = ScreenLayout::kCaptionHeight + clientHeight + 1;
  const RECT& work = ScreenLayout::kWorkArea;
  owner_ = IsWindow(owner) ? owner : nullptr;
  hwnd_ = CreateWindowExW(0, kClassName, caption.c_str(), WS_POPUP | WS_CAPTION,
                          (work.left + work.right - kWidth) / 2,
                          work.top + std::max(0, (work.bottom - work.top - height) / 2), kWidth,
                          height, owner_, nullptr, nullptr, nullptr);
  if (!hwnd_) return;
  CreateWindowExW(0, u"STATIC", text.c_str(), WS_CHILD | WS_VISIBLE | SS_NOPREFIX, kMargin,
                  kMargin, textWidth, textHeight, hwnd_, nullptr, nullptr, nullptr);
  const int count = static_cast<int>(buttons.size());
  const int row = count * kButtonWidth + (count - 1) * kButtonGap;
  int x = (kWidth - 2 - row) / 2;
  for (int id : buttons) {
    const DWORD style = WS_CHILD | WS_VISIBLE | (id == defaultButton ? BS_DEFPUSHBUTTON : 0);
    CreateWindowExW(0, u"BUTTON", ButtonText(id), style, x, clientHeight - kMargin - kButtonHeight,
                    kButtonWidth, kButtonHeight, hwnd_,
                    reinterpret_cast<HMENU>(static_cast<uintptr_t>(id)), nullptr, nullptr);
    x += kButtonWidth + kButtonGap;
  }
  auto window = WindowManager::Instance().Find(hwnd_);
  {
    auto lock = WindowManager::Instance().Guard();
    window->userData = defaultButton;
  }
  ownerWasEnabled_ = owner_ && IsWindowEnabled(owner_);
  if (ownerWasEnabled_) EnableWindow(owner_, FALSE);
  ShowWindow(hwnd_, SW_SHOW);
}

ScreenMessageBox::~ScreenMessageBox() {
  if (ownerWasEnabled_ && IsWindow(owner_)) EnableWindow(owner_, TRUE);
  if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
}

int ScreenMessageBox::Answer() const {
  auto window = WindowManager::Instance().Find(hwnd_);
  if (!window) return IDCANCEL;  // destroyed under the loop (its owner went)
  auto lock = WindowManager::Instance().Guard();
  return window->dialogEnded ? static_cast<int>(window->dialogResult) : 0;
}

LRESULT CALLBACK ScreenMessageBox::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (GetDlgItem(hwnd, LOWORD(wParam))) Choose(hwnd, LOWORD(wParam));
      return 0;
    case WM_KEYDOWN:
      if (wParam == VK_RETURN) {
        Choose(hwnd, GetWindowLongW(hwnd, GWL_USERDATA));
      } else if (wParam == VK_ESCAPE) {
        if (GetDlgItem(hwnd, IDCANCEL)) Choose(hwnd, IDCANCEL);
        else if (GetDlgItem(hwnd, IDOK) && !GetDlgItem(hwnd, IDNO)) Choose(hwnd, IDOK);
      }
      return 0;
    case WM_CLOSE:
      return 0;  // answered with a button only
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

}  // namespace handheld::detail
