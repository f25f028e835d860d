#include "DialogBox.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "Controls.h"
#include "ScreenLayout.h"
#include "WindowManager.h"
#include "win/messages.h"

namespace handheld::detail {
namespace {

constexpr size_t kMaxTemplateText = 4096;  // characters of one text in a template
constexpr DWORD kExtendedSignature = 0xFFFF0001u;

// Reads a template in place; the caller vouches for its memory, as for
// every dialog template, and texts are bounded.
class TemplateReader {
 public:
  explicit TemplateReader(const BYTE* base) : base_(base) {}
  WORD Word() {
    WORD w;
    std::memcpy(&w, base_ + pos_, sizeof w);
    pos_ += sizeof w;
    return w;
  }
  template <class T>
  T Struct() {
    T value;
    std::memcpy(&value, base_ + pos_, sizeof value);
    pos_ += sizeof value;
    return value;
  }
  void AlignDword() { pos_ = (pos_ + 3) & ~size_t{3}; }
  // A text or, after 0xFFFF, an ordinal (which becomes *ordinal).
  bool TextOrOrdinal(std::u16string* text, WORD* ordinal) {
    text->clear();
    WORD first = Word();
    if (first == 0xFFFF) {
      WORD value = Word();
      if (ordinal) *ordinal = value;
      return true;
    }
    while (first != 0) {
      if (text->size() >= kMaxTemplateText) return false;
      text->push_back(static_cast<char16_t>(first));
      first = Word();
    }
    return true;
  }
  bool Text(std::u16string* text) { return TextOrOrdinal(text, nullptr); }

 private:
  const BYTE* base_;
  size_t pos_ = 0;
};

std::u16string ClassOfOrdinal(WORD ordinal) {
  switch (ordinal) {
    case 0x0080: return u"BUTTON";
    case 0x0081: return u"EDIT";
    case 0x0082: return u"STATIC";
    default: return u"";
  }
}

int MulDiv(int number, int numerator, int denominator) {
  const long long product = static_cast<long long>(number) * numerator;
  const long long half = denominator / 2;
  return static_cast<int>(product >= 0 ? (product + half) / denominator
                                       : (product - half) / denominator);
}

std::shared_ptr<Window> FindWindow(HWND hwnd) { return WindowManager::Instance().Find(hwnd); }

bool IsDescendant(HWND ancestor, HWND hwnd) {
  auto& manager = WindowManager::Instance();
  for (auto w = manager.Find(hwnd); w;) {
    if (w->handle == ancestor) return true;
    HWND parent;
    {
      auto lock = manager.Guard();
      parent = w->parent;
    }
    w = manager.Find(parent);
  }
  return false;
}

// The id Enter chooses: DM_GETDEFID's answer, else the first default push
// button, else IDOK.
int DefaultId(HWND dialog) {
  LRESULT answer = SendMessageW(dialog, DM_GETDEFID, 0, 0);
  if (HIWORD(answer) == DC_HASDEFID) return LOWORD(answer);
  return IDOK;
}

}  // namespace

Status DialogBox::Read(const DLGTEMPLATE* dialogTemplate, Description* d) {
  if (!dialogTemplate) return ERROR_INVALID_PARAMETER;
  DWORD signature;
  std::memcpy(&signature, dialogTemplate, sizeof signature);
  if (signature == kExtendedSignature) return ERROR_INVALID_PARAMETER;  // DLGTEMPLATEEX
  TemplateReader in(reinterpret_cast<const BYTE*>(dialogTemplate));
  const DLGTEMPLATE head = in.Struct<DLGTEMPLATE>();
  *d = Description{};
  d->style = head.style;
  d->exStyle = head.dwExtendedStyle;
  d->x = head.x;
  d->y = head.y;
  d->cx = head.cx;
  d->cy = head.cy;
  std::u16string menu, windowClass;
  WORD ordinal = 0;
  if (!in.TextOrOrdinal(&menu, &ordinal) || !in.TextOrOrdinal(&windowClass, &ordinal) ||
      !in.Text(&d->caption))
    return ERROR_INVALID_PARAMETER;
  if (head.style & DS_SETFONT) {
    d->pointSize = in.Word();
    if (!in.Text(&d->faceName)) return ERROR_INVALID_PARAMETER;
  }
  for (WORD i = 0; i < head.cdit; ++i) {
    in.AlignDword();
    const DLGITEMTEMPLATE itemHead = in.Struct<DLGITEMTEMPLATE>();
    Item item;
    item.style = itemHead.style;
    item.exStyle = itemHead.dwExtendedStyle;
    item.x = itemHead.x;
    item.y = itemHead.y;
    item.cx = itemHead.cx;
    item.cy = itemHead.cy;
    item.id = itemHead.id;
    WORD classOrdinal = 0;
    if (!in.TextOrOrdinal(&item.className, &classOrdinal)) return ERROR_INVALID_PARAMETER;
    if (item.className.empty()) item.className = ClassOfOrdinal(classOrdinal);
    WORD titleOrdinal = 0;
    if (!in.TextOrOrdinal(&item.text, &titleOrdinal)) return ERROR_INVALID_PARAMETER;
    const WORD extra = in.Word();
    for (WORD skip = 0; skip < (extra + 1) / 2; ++skip) in.Word();
    d->items.push_back(std::move(item));
  }
  return Status::Ok();
}

SIZE DialogBox::BaseUnits(HFONT font) {
  HDC dc = CreateCompatibleDC(nullptr);
  if (font) SelectObject(dc, font);
  static constexpr char16_t kAlphabet[] = u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  SIZE extent{};
  GetTextExtentPoint32W(dc, kAlphabet, 52, &extent);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  DeleteDC(dc);
  return SIZE{(extent.cx / 26 + 1) / 2, metrics.tmHeight};
}

Status DialogBox::Create(const Description& d, HINSTANCE instance, HWND owner, DLGPROC proc,
                         LPARAM param, HWND* dialog) {
  *dialog = nullptr;
  HFONT font = static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
  if (d.pointSize != 0 || !d.faceName.empty()) {
    LOGFONTW lf{};
    lf.lfHeight = -MulDiv(d.pointSize, 96, 72);
    lf.lfWeight = FW_NORMAL;
    const size_t n = std::min<size_t>(d.faceName.size(), LF_FACESIZE - 1);
    std::copy_n(d.faceName.begin(), n, lf.lfFaceName);
    font = CreateFontIndirectW(&lf);  // lives as long as the process, as the dialog font cache
  }
  const SIZE base = BaseUnits(font);
  auto px = [&](int units) { return MulDiv(units, base.cx, 4); };
  auto py = [&](int units) { return MulDiv(units, base.cy, 8); };

  DWORD style = (d.style & ~WS_VISIBLE & ~WS_CHILD) | WS_POPUP;
  if (d.style & DS_MODALFRAME) style |= WS_BORDER;
  const bool caption = (style & WS_CAPTION) == WS_CAPTION;
  const bool border = (style & (WS_BORDER | WS_DLGFRAME)) != 0;
  const int width = px(d.cx) + (border ? 2 : 0);
  const int height = py(d.cy) + (caption ? ScreenLayout::kCaptionHeight : border ? 1 : 0) +
                     (border ? 1 : 0);
  POINT at{px(d.x), py(d.y)};
  if (!(d.style & DS_ABSALIGN) && owner) ClientToScreen(owner, &at);
  if (d.style & DS_CENTER) {
    const RECT& work = ScreenLayout::kWorkArea;
    at = POINT{work.left + (work.right - work.left - width) / 2,
               work.top + (work.bottom - work.top - height) / 2};
  }
  HWND hwnd = CreateWindowExW(d.exStyle, Controls::kDialogClass, d.caption.c_str(), style, at.x,
                              at.y, width, height, owner, nullptr, instance, nullptr);
  if (!hwnd) return GetLastError() ? GetLastError() : ERROR_INVALID_PARAMETER;
  auto window = FindWindow(hwnd);
  {
    auto lock = WindowManager::Instance().Guard();
    window->dialogProc = proc;
    window->dialogBase = base;
    window->font = font;
  }
  HWND first = nullptr;
  for (const Item& item : d.items) {
    HWND control = CreateWindowExW(item.exStyle, item.className.c_str(), item.text.c_str(),
                                   item.style | WS_CHILD, px(item.x), py(item.y), px(item.cx),
                                   py(item.cy), hwnd,
                                   reinterpret_cast<HMENU>(static_cast<uintptr_t>(item.id)),
                                   instance, nullptr);
    if (!control) continue;  // a control of an unknown class is left out
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (!first && (item.style & WS_TABSTOP)) first = control;
  }
  if (proc && SendMessageW(hwnd, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), param) && first)
    SetFocus(first);
  *dialog = hwnd;
  return Status::Ok();
}

INT_PTR DialogBox::RunModal(HWND dialog, HWND owner) {
  auto window = FindWindow(dialog);
  if (!window) return -1;
  const bool ownerWasEnabled = owner && IsWindowEnabled(owner);
  if (ownerWasEnabled) EnableWindow(owner, FALSE);
  ShowWindow(dialog, SW_SHOW);
  auto ended = [&] {
    auto lock = WindowManager::Instance().Guard();
    return window->dialogEnded || window->destroyed;
  };
  while (!ended()) {
    MSG msg;
    if (!GetMessageW(&msg, nullptr, 0, 0)) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // the thread's own loop ends too
      break;
    }
    if (!IsDialogMessageW(dialog, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  INT_PTR result;
  {
    auto lock = WindowManager::Instance().Guard();
    result = window->dialogEnded ? window->dialogResult : -1;
  }
  if (ownerWasEnabled) EnableWindow(owner, TRUE);
  DestroyWindow(dialog);
  return result;
}

LRESULT CALLBACK DialogBox::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto window = FindWindow(hwnd);
  if (!window) return 0;
  DLGPROC proc;
  {
    auto lock = WindowManager::Instance().Guard();
    proc = window->dialogProc;
  }
  if (proc) {
    const BOOL handled = proc(hwnd, message, wParam, lParam);
    if (handled) return handled;
  }
  switch (message) {
    case WM_CLOSE:
      SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(hwnd, IDCANCEL)));
      return 0;
    case DM_GETDEFID: {
      std::vector<HWND> children;
      {
        auto lock = WindowManager::Instance().Guard();
        children = window->children;
      }
      for (HWND child : children) {
        auto c = FindWindow(child);
        if (!c) continue;
        auto lock = WindowManager::Instance().Guard();
        if (_wcsicmp(c->windowClass->name.c_str(), u"BUTTON") == 0 &&
            (c->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
          return MAKELONG(c->id, DC_HASDEFID);
      }
      return 0;
    }
    case WM_INITDIALOG:
      return TRUE;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

}  // namespace handheld::detail

using handheld::detail::DialogBox;
using handheld::detail::ReportStatus;
using handheld::detail::Status;
using handheld::detail::WindowManager;

INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialogTemplate, HWND owner,
                                DLGPROC proc, LPARAM param) {
  DialogBox::Description description;
  if (Status status = DialogBox::Read(dialogTemplate, &description); !status.ok()) {
    ReportStatus(status);
    return -1;
  }
  if (owner && !IsWindow(owner)) {
    ReportStatus(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  HWND dialog = nullptr;
  if (Status status = DialogBox::Create(description, instance, owner, proc, param, &dialog);
      !status.ok()) {
    ReportStatus(status);
    return -1;
  }
  return DialogBox::RunModal(dialog, owner);
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  auto window = WindowManager::Instance().Find(dialog);
  if (!window) return ReportStatus(ERROR_INVALID_WINDOW_HANDLE);
  {
    auto lock = WindowManager::Instance().Guard();
    window->dialogEnded = true;
    window->dialogResult = result;
  }
  window->queue->Post(MSG{dialog, WM_NULL, 0, 0, GetTickCount(), {}});  // the loop looks again
  return TRUE;
}

BOOL MapDialogRect(HWND dialog, LPRECT rect) {
  auto window = WindowManager::Instance().Find(dialog);
  if (!window) return ReportStatus(ERROR_INVALID_WINDOW_HANDLE);
  if (!rect) return ReportStatus(ERROR_INVALID_PARAMETER);
  SIZE base;
  {
    auto lock = WindowManager::Instance().Guard();
    base = window->dialogBase;
  }
  if (base.cx == 0) return ReportStatus(ERROR_INVALID_WINDOW_HANDLE);  // no dialog
  auto scale = [](LONG v, LONG unit, LONG parts) {
    const long long p = static_cast<long long>(v) * unit;
    return static_cast<LONG>(p >= 0 ? (p + parts / 2) / parts : (p - parts / 2) / parts);
  };
  rect->left = scale(rect->left, base.cx, 4);
  rect->right = scale(rect->right, base.cx, 4);
  rect->top = scale(rect->top, base.cy, 8);
  rect->bottom = scale(rect->bottom, base.cy, 8);
  return TRUE;
}

LONG GetDialogBaseUnits() {
  const SIZE base = DialogBox::BaseUnits(static_cast<HFONT>(GetStockObject(SYSTEM_FONT)));
  return MAKELONG(base.cx, base.cy);
}

BOOL IsDialogMessageW(HWND dialog, LPMSG msg) {
  if (!msg || !IsWindow(dialog) || !handheld::detail::IsDescendant(dialog, msg->hwnd))
    return FALSE;
  if (msg->message == WM_KEYDOWN && (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE)) {
    const int id = msg->wParam == VK_RETURN ? handheld::detail::DefaultId(dialog) : IDCANCEL;
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
    return TRUE;
  }
  TranslateMessage(msg);
  DispatchMessageW(msg);
  return TRUE;
}
