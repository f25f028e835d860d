// post-message: posts a message to a program's top-level window on the
// handheld, found by its class name, or taps the screen, presses a key,
// answers the message box or dialog on the screen, or writes a screenshot,
// through the control channel of the program's windows.
//
//   post-message QUELMAR WM_COMMAND 40004 [lParam]
//   post-message --tap 120 300
//   post-message --key RETURN | --key F4 --alt
//   post-message --answer IDOK
//   post-message --screenshot screen.png
//   post-message --close
//   post-message --title QUELMAR    (prints the window's title)
//
// Options: --pid N talks to that process only. Exit status 0 when done,
// 1 when the program, window or box is not there (with the reason on
// standard error), 2 for a wrong command line; --help prints the usage.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "handheld.h"

namespace {

struct NamedValue {
  const char* name;
  long value;
};

constexpr NamedValue kMessages[] = {
    {"WM_NULL", 0x0000},   {"WM_CLOSE", 0x0010},   {"WM_KEYDOWN", 0x0100},
    {"WM_CHAR", 0x0102},   {"WM_COMMAND", 0x0111}, {"WM_TIMER", 0x0113},
    {"WM_USER", 0x0400},   {"WM_APP", 0x8000},
};

constexpr NamedValue kKeys[] = {
    {"BACK", 0x08},  {"TAB", 0x09},    {"RETURN", 0x0D}, {"ESCAPE", 0x1B}, {"SPACE", 0x20},
    {"LEFT", 0x25},  {"UP", 0x26},     {"RIGHT", 0x27},  {"DOWN", 0x28},   {"DELETE", 0x2E},
    {"F1", 0x70},    {"F4", 0x73},
};

constexpr NamedValue kButtons[] = {{"IDOK", 1},    {"IDCANCEL", 2}, {"IDABORT", 3}, {"IDRETRY", 4},
                                   {"IDIGNORE", 5}, {"IDYES", 6},    {"IDNO", 7}};

bool Number(const std::string& text, long* value) {
  char* end = nullptr;
  errno = 0;
  *value = std::strtol(text.c_str(), &end, 0);
  return !text.empty() && *end == '\0' && errno != ERANGE;
}

// A message is a 32-bit number; a parameter a 32-bit word, signed or not.
bool InRange(long value, bool message) {
  return value >= (message ? 0 : -0x80000000l) && value <= 0xFFFFFFFFl;
}

template <size_t N>
bool Lookup(const NamedValue (&table)[N], const std::string& text, long* value) {
  for (const NamedValue& row : table)
    if (text == row.name) {
      *value = row.value;
      return true;
    }
  return Number(text, value);
}

// The usage text: on standard error with status 2 for a wrong command
// line, on standard output with status 0 when asked for.
int Usage(FILE* to = stderr) {
  std::fputs(
      "Usage: post-message [--pid N] CLASS MESSAGE [WPARAM [LPARAM]]\n"
      "       post-message [--pid N] --tap X Y\n"
      "       post-message [--pid N] --key KEY [--alt] [--shift] [--control]\n"
      "       post-message [--pid N] --answer ID\n"
      "       post-message [--pid N] --screenshot FILE\n"
      "       post-message [--pid N] --close\n"
      "       post-message [--pid N] --title CLASS   (prints the window's title)\n"
      "       post-message --help\n"
      "MESSAGE: WM_COMMAND, WM_CLOSE, WM_USER, ... or a number (32 bits; WPARAM and LPARAM\n"
      "32-bit words, signed or not); KEY: RETURN, ESCAPE, F4,\n"
      "a letter or a number; ID: IDOK, IDCANCEL, IDYES, IDNO, IDRETRY, ... or a number.\n",
      to);
  return to == stderr ? 2 : 0;
}

// The command line for the control channel; empty for a wrong one.
std::string Command(const std::vector<std::string>& args) {
  if (args.empty()) return {};
  const std::string& first = args[0];
  long a = 0, b = 0;
  if (first == "--tap") {
    if (args.size() != 3 || !Number(args[1], &a) || !Number(args[2], &b)) return {};
    return "tap " + std::to_string(a) + " " + std::to_string(b);
  }
  if (first == "--key") {
    if (args.size() < 2) return {};
    long key = 0;
    long character = 0;
    if (args[1].size() == 1 && std::isalnum(static_cast<unsigned char>(args[1][0]))) {
      character = static_cast<unsigned char>(args[1][0]);
      key = std::toupper(static_cast<int>(character));
    } else if (!Lookup(kKeys, args[1], &key)) {
      return {};
    }
    if (key == 0x0D || key == 0x1B || key == 0x08 || key == 0x20) character = key;
    bool alt = false, shift = false, control = false;
    for (size_t i = 2; i < args.size(); ++i) {
      if (args[i] == "--alt") alt = true;
      else if (args[i] == "--shift") shift = true;
      else if (args[i] == "--control") control = true;
      else return {};
    }
    if (alt) character = 0;
    return "key " + std::to_string(key) + " " + std::to_string(character) + " " +
           (alt ? "1" : "0") + " " + (shift ? "1" : "0") + " " + (control ? "1" : "0");
  }
  if (first == "--answer") {
    if (args.size() != 2 || !Lookup(kButtons, args[1], &a)) return {};
    return "answer " + std::to_string(a);
  }
  if (first == "--screenshot") {
    if (args.size() != 2) return {};
    return "screenshot " + std::filesystem::absolute(args[1]).string();
  }
  if (first == "--close") return args.size() == 1 ? "close" : "";
  if (first == "--title") return args.size() == 2 ? "title " + args[1] : "";
  if (first.rfind("--", 0) == 0 || args.size() < 2 || args.size() > 4) return {};
  long message = 0, wParam = 0, lParam = 0;
  if (!Lookup(kMessages, args[1], &message) || !InRange(message, true)) return {};
  if (args.size() > 2 && (!Lookup(kMessages, args[2], &wParam) || !InRange(wParam, false))) return {};
  if (args.size() > 3 && (!Lookup(kMessages, args[3], &lParam) || !InRange(lParam, false))) return {};
  return "post " + first + " " + std::to_string(message) + " " + std::to_string(wParam) + " " +
         std::to_string(lParam);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) return Usage(stdout);
  long pid = 0;
  if (args.size() >= 2 && args[0] == "--pid") {
    char* end = nullptr;
    pid = std::strtol(args[1].c_str(), &end, 10);
    if (*end != '\0' || pid <= 0) return Usage();
    args.erase(args.begin(), args.begin() + 2);
  }
  const std::string command = Command(args);
  if (command.empty()) return Usage();
  const std::string reply = handheld::RemoteControl(command, static_cast<int>(pid));
  if (reply == "ok") return 0;
  if (reply.rfind("ok ", 0) == 0) {  // a title
    std::printf("%s\n", reply.c_str() + 3);
    return 0;
  }
  std::fprintf(stderr, "post-message: %s\n",
               reply.rfind("error ", 0) == 0 ? reply.c_str() + 6 : reply.c_str());
  return 1;
}
