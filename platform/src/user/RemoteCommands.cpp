#include "RemoteCommands.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <string_view>
#include <vector>

#include "ControlChannel.h"
#include "WindowManager.h"
#include "handheld.h"

namespace handheld::detail {
namespace {

bool ParseLong(const std::string& text, long long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  *value = std::strtoll(text.c_str(), &end, 0);
  return errno == 0 && *end == '\0';
}

// One command line, cut into its words.
struct Request {
  std::vector<std::string> args;
  std::function<void()>* then;

  bool Number(size_t i, long long* value) const {
    return i < args.size() && ParseLong(args[i], value);
  }
  // A word that is not a number counts as 0.
  long long Flag(size_t i) const {
    long long value = 0;
    return Number(i, &value) ? value : 0;
  }
};

// The message box or dialog on top, if any.
HWND TopBox() {
  return WindowManager::Instance().TopMost({WindowRole::kMessageBox, WindowRole::kDialog});
}

std::string Post(const Request& r) {
  long long a = 0, b = 0, c = 0;
  if (r.args.size() != 4 || !r.Number(1, &a) || !r.Number(2, &b) || !r.Number(3, &c))
    return "error usage: post <class> <message> <wParam> <lParam>";
  // A message is a 32-bit number, a parameter a 32-bit word, signed or not.
  if (a < 0 || a > 0xFFFFFFFFll || b < -0x80000000ll || b > 0xFFFFFFFFll || c < -0x80000000ll ||
      c > 0xFFFFFFFFll)
    return "error post: a number is out of range for a 32-bit message or parameter";
  HWND hwnd = WindowManager::Instance().FindTopLevel(FromUtf8(r.args[0]), nullptr);
  if (!hwnd) return "error no window of class " + r.args[0];
  *r.then = [hwnd, a, b, c] {
    PostMessageW(hwnd, static_cast<UINT>(a), static_cast<WPARAM>(b), static_cast<LPARAM>(c));
  };
  return "ok";
}

std::string Title(const Request& r) {
  if (r.args.size() != 1) return "error usage: title <class>";
  auto& manager = WindowManager::Instance();
  HWND hwnd = manager.FindTopLevel(FromUtf8(r.args[0]), nullptr);
  if (!hwnd) return "error no window of class " + r.args[0];
  // Read as for a window of another process: the text itself, no WM_GETTEXT.
  std::string title;
  if (auto window = manager.Find(hwnd)) {
    auto lock = manager.Guard();
    title = ToUtf8(window->text);
  }
  std::replace_if(title.begin(), title.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  return "ok " + title;  // the reply is one line
}

std::string Tap(const Request& r) {
  long long x = 0, y = 0;
  if (r.args.size() != 2 || !r.Number(0, &x) || !r.Number(1, &y)) return "error usage: tap <x> <y>";
  if (x < 0 || y < 0 || x >= 240 || y >= 320) return "error the point lies off the screen";
  *r.then = [x, y] { TapScreen(static_cast<int>(x), static_cast<int>(y)); };
  return "ok";
}

std::string Key(const Request& r) {
  long long key = 0, character = 0;
  if (r.args.size() != 5 || !r.Number(0, &key) || !r.Number(1, &character))
    return "error usage: key <virtual key> <character> <alt> <shift> <control>";
  const bool alt = r.Flag(2) != 0, shift = r.Flag(3) != 0, control = r.Flag(4) != 0;
  *r.then = [key, character, alt, shift, control] {
    PressKey(static_cast<UINT>(key), static_cast<WCHAR>(character), alt, shift, control);
  };
  return "ok";
}

std::string Answer(const Request& r) {
  long long id = 0;
  if (r.args.size() != 1 || !r.Number(0, &id)) return "error usage: answer <id>";
  HWND box = TopBox();
  if (!box) return "error no message box or dialog on the screen";
  *r.then = [box, id] {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED), 0);
  };
  return "ok";
}

std::string Screenshot(const Request& r) {
  if (r.args.size() != 1) return "error usage: screenshot <path>";
  return WriteScreenshot(r.args[0]) ? "ok" : "error cannot write " + r.args[0];
}

std::string Close(const Request& r) {
  *r.then = [] { RequestClose(); };
  return "ok";
}

std::string Cursor(const Request& r) {
  if (r.args.empty()) return WindowManager::Instance().WaitCursorShown() ? "ok wait" : "ok arrow";
  if (r.args.size() != 1 || (r.args[0] != "wait" && r.args[0] != "arrow"))
    return "error usage: cursor [wait|arrow]";
  const bool wait = r.args[0] == "wait";
  *r.then = [wait] { SetCursor(LoadCursorW(nullptr, wait ? IDC_WAIT : IDC_ARROW)); };
  return "ok";
}

struct Command {
  std::string_view name;
  std::string (*run)(const Request&);
};

constexpr Command kCommands[] = {
    {"post", Post},     {"title", Title},           {"tap", Tap},     {"key", Key},
    {"answer", Answer}, {"screenshot", Screenshot}, {"close", Close}, {"cursor", Cursor},
};

}  // namespace

void RemoteCommands::Start() { ControlChannel::Start(&RemoteCommands::Execute); }

std::string RemoteCommands::Execute(const std::string& line, std::function<void()>* then) {
  std::istringstream in(line);
  std::string command;
  in >> command;
  Request request{{}, then};
  for (std::string arg; in >> arg;) request.args.push_back(arg);
  for (const Command& c : kCommands)
    if (c.name == command) return c.run(request);
  return "error unknown command " + command;
}

}  // namespace handheld::detail
