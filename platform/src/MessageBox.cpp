// Message boxes: a modal loop around the answerer. Without a display the
// default answerer prints the box on standard error and answers with its
// default button.
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ProcessLifetime.h"
#include "handheld.h"

namespace handheld {
namespace {

std::vector<int> Buttons(UINT type) {
  switch (type & 0xFu) {
    case MB_OK: return {IDOK};
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
    default: return {};
  }
}

const char* ButtonName(int id) {
  switch (id) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDABORT: return "Abort";
    case IDRETRY: return "Retry";
    case IDIGNORE: return "Ignore";
    case IDYES: return "Yes";
    case IDNO: return "No";
    default: return "?";
  }
}

int PrintOnStandardError(const MessageBoxRequest& box) {
  int chosen = DefaultMessageBoxButton(box.type);
  std::string text = "[message box] " + ToUtf8(box.caption) + "\n";
  std::string body = ToUtf8(box.text);
  size_t start = 0;
  for (;;) {  // every line of the text indented
    size_t end = body.find('\n', start);
    text += "  " + body.substr(start, end == std::string::npos ? end : end - start) + "\n";
    if (end == std::string::npos) break;
    start = end + 1;
  }
  text += "  buttons:";
  for (int id : Buttons(box.type)) text += std::string(" [") + ButtonName(id) + "]";
  text += std::string(" -> ") + ButtonName(chosen) + "\n";
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
  return chosen;
}

struct AnswererSlot {
  std::mutex mutex;
  MessageBoxAnswerer answerer;  // empty: the default
};

AnswererSlot& TheAnswerer() { return detail::ProcessLifetime<AnswererSlot>::Get(); }

int Ask(const MessageBoxRequest& box) {
  MessageBoxAnswerer answerer;
  {
    AnswererSlot& slot = TheAnswerer();
    std::lock_guard<std::mutex> lock(slot.mutex);
    answerer = slot.answerer;
  }
  // Asked outside the lock: a box may stay up while another thread swaps
  // the answerer or shows a box of its own.
  return answerer ? answerer(box) : PrintOnStandardError(box);
}

}  // namespace

MessageBoxAnswerer SetMessageBoxAnswerer(MessageBoxAnswerer answerer) {
  AnswererSlot& slot = TheAnswerer();
  std::lock_guard<std::mutex> lock(slot.mutex);
  std::swap(slot.answerer, answerer);
  return answerer;
}

int DefaultMessageBoxButton(UINT type) {
  std::vector<int> buttons = Buttons(type);
  if (buttons.empty()) return IDOK;
  size_t index = (type & 0xF00u) >> 8;
  return index < buttons.size() ? buttons[index] : buttons[0];
}

}  // namespace handheld

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  if (handheld::Buttons(type).empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  handheld::MessageBoxRequest box{owner, text ? text : u"", caption ? caption : u"Error", type};
  for (;;) {
    if (int answer = handheld::Ask(box); answer != handheld::kNoAnswerYet) return answer;
    MSG msg;
    if (!GetMessageW(&msg, nullptr, 0, 0)) {
      // The thread's loop is to end: the box goes, the quit stays for it.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return handheld::DefaultMessageBoxButton(type);
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}
