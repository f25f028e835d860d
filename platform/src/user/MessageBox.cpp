// Message boxes: a modal loop around whoever answers them (the test's
// answerer, the script, the box on the screen), or the default button.
// Boxes not shown on a display are printed on standard error.
#include <cstdio>
#include <deque>
#include <optional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ProcessLifetime.h"
#include "ScreenMessageBox.h"
#include "ScriptedAnswers.h"
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

void PrintOnStandardError(const MessageBoxRequest& box, int chosen) {
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
}

constexpr size_t kMaxRecords = 1000;

struct Records {
  std::mutex mutex;
  std::deque<MessageBoxRecord> boxes;
};

Records& TheRecords() { return detail::ProcessLifetime<Records>::Get(); }

void Record(const MessageBoxRequest& box, int answer) {
  Records& records = TheRecords();
  std::lock_guard<std::mutex> lock(records.mutex);
  records.boxes.push_back(MessageBoxRecord{box.caption, box.text, box.type, answer});
  if (records.boxes.size() > kMaxRecords) records.boxes.pop_front();
}

struct AnswererSlot {
  std::mutex mutex;
  MessageBoxAnswerer answerer;  // empty: the default
};

AnswererSlot& TheAnswerer() { return detail::ProcessLifetime<AnswererSlot>::Get(); }

MessageBoxAnswerer InstalledAnswerer() {
  AnswererSlot& slot = TheAnswerer();
  std::lock_guard<std::mutex> lock(slot.mutex);
  return slot.answerer;
}

// Runs the modal loop: `answer()` is asked before each message; when the
// thread's loop is to end (WM_QUIT) the box goes with its default button
// and the quit stays posted for that loop.
template <class AnswerNow>
int ModalLoop(UINT type, AnswerNow answer) {
  for (;;) {
    if (int chosen = answer(); chosen != kNoAnswerYet) return chosen;
    MSG msg;
    if (!GetMessageW(&msg, nullptr, 0, 0)) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return DefaultMessageBoxButton(type);
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

int Run(const MessageBoxRequest& box) {
  // Asked outside any lock: a box may stay up while another thread swaps
  // the answerer or shows a box of its own.
  if (MessageBoxAnswerer answerer = InstalledAnswerer())
    return ModalLoop(box.type, [&] { return answerer(box); });
  if (std::optional<int> scripted = detail::ScriptedAnswers::NextButton()) return *scripted;
  if (detail::ScreenMessageBox::Wanted()) {
    detail::ScreenMessageBox shown(box.owner, box.text, box.caption, box.type, Buttons(box.type),
                                   DefaultMessageBoxButton(box.type));
    if (shown.shown()) return ModalLoop(box.type, [&] { return shown.Answer(); });
  }
  return DefaultMessageBoxButton(box.type);
}

}  // namespace

void SetScriptedAnswers(const std::string& script) { detail::ScriptedAnswers::Set(script); }

void ShowMessageBoxesOnScreen(bool onScreen) { detail::ScreenMessageBox::Force(onScreen); }

std::vector<MessageBoxRecord> MessageBoxRecords() {
  Records& records = TheRecords();
  std::lock_guard<std::mutex> lock(records.mutex);
  return std::vector<MessageBoxRecord>(records.boxes.begin(), records.boxes.end());
}

void ClearMessageBoxRecords() {
  Records& records = TheRecords();
  std::lock_guard<std::mutex> lock(records.mutex);
  records.boxes.clear();
}

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
  const int answer = handheld::Run(box);
  handheld::Record(box, answer);
  if (!handheld::detail::ScreenMessageBox::OnDisplay())
    handheld::PrintOnStandardError(box, answer);
  return answer;
}
