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
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Number.h"
#include "PostedMessage.h"
#include "handheld.h"

namespace {

using Words = CommandLine::Words;

struct NamedValue {
  const char* name;
  long long value;
};

constexpr NamedValue kKeys[] = {
    {"BACK", 0x08},  {"TAB", 0x09},    {"RETURN", 0x0D}, {"ESCAPE", 0x1B}, {"SPACE", 0x20},
    {"LEFT", 0x25},  {"UP", 0x26},     {"RIGHT", 0x27},  {"DOWN", 0x28},   {"DELETE", 0x2E},
    {"F1", 0x70},    {"F4", 0x73},
};

constexpr NamedValue kButtons[] = {{"IDOK", 1},    {"IDCANCEL", 2}, {"IDABORT", 3}, {"IDRETRY", 4},
                                   {"IDIGNORE", 5}, {"IDYES", 6},    {"IDNO", 7}};

// A 32-bit word by name or number.
template <size_t N>
bool Lookup(const NamedValue (&table)[N], const std::string& text, long long* value) {
  for (const NamedValue& row : table)
    if (text == row.name) {
      *value = row.value;
      return true;
    }
  return Number::Integer(text, -0x80000000ll, 0xFFFFFFFFll, value, true) == Number::Read::kOk;
}

bool Screen(const std::string& text, long long* value) {
  return Number::Integer(text, -0x80000000ll, 0x7FFFFFFFll, value) == Number::Read::kOk;
}

// Each command makes the control channel's line from its arguments; false
// for arguments it cannot take.
using Line = std::string;

bool Tap(Line& line, const Words& args, std::string*) {
  long long x = 0, y = 0;
  if (args.size() != 2 || !Screen(args[0], &x) || !Screen(args[1], &y)) return false;
  line = "tap " + std::to_string(x) + " " + std::to_string(y);
  return true;
}

bool Key(Line& line, const Words& args, std::string* reason) {
  if (args.empty()) return false;
  long long key = 0, character = 0;
  if (args[0].size() == 1 && std::isalnum(static_cast<unsigned char>(args[0][0]))) {
    character = static_cast<unsigned char>(args[0][0]);
    key = std::toupper(static_cast<int>(character));
  } else if (!Lookup(kKeys, args[0], &key)) {
    return false;
  }
  if (key == 0x0D || key == 0x1B || key == 0x08 || key == 0x20) character = key;
  bool alt = false, shift = false, control = false;
  auto flag = [](bool& on) {
    return [&on](const std::string&, std::string&) { return on = true; };
  };
  const CommandLine::Options modifiers{{nullptr, "--alt", nullptr, nullptr, "", flag(alt)},
                                       {nullptr, "--shift", nullptr, nullptr, "", flag(shift)},
                                       {nullptr, "--control", nullptr, nullptr, "", flag(control)}};
  if (CommandLine::Parse(modifiers, Words(args.begin() + 1, args.end()), nullptr, *reason) !=
      CommandLine::Parsed::kDone)
    return false;
  if (alt) character = 0;
  line = "key " + std::to_string(key) + " " + std::to_string(character) + " " + (alt ? "1" : "0") +
         " " + (shift ? "1" : "0") + " " + (control ? "1" : "0");
  return true;
}

bool Answer(Line& line, const Words& args, std::string*) {
  long long id = 0;
  if (args.size() != 1 || !Lookup(kButtons, args[0], &id)) return false;
  line = "answer " + std::to_string(id);
  return true;
}

bool Screenshot(Line& line, const Words& args, std::string*) {
  if (args.size() != 1) return false;
  line = "screenshot " + std::filesystem::absolute(args[0]).string();
  return true;
}

bool Close(Line& line, const Words& args, std::string*) {
  line = "close";
  return args.empty();
}

bool Title(Line& line, const Words& args, std::string*) {
  if (args.size() != 1) return false;
  line = "title " + args[0];
  return true;
}

// CLASS MESSAGE [WPARAM [LPARAM]]: the class comes as the first argument.
bool Post(Line& line, const Words& args, std::string* reason) {
  PostedMessage message;
  if (args.size() < 2 ||
      !PostedMessage::Parse(Words(args.begin() + 1, args.end()), &message, reason))
    return false;
  line = message.Command(args[0]);
  return true;
}

// The first row is the post, picked by a class name; the others by their name.
const CommandLine::Command<Line> kCommands[] = {
    {"CLASS", "MESSAGE [WPARAM [LPARAM]]", nullptr, Post},
    {"--tap", "X Y", nullptr, Tap},
    {"--key", "KEY [--alt] [--shift] [--control]", nullptr, Key},
    {"--answer", "ID", nullptr, Answer},
    {"--screenshot", "FILE", nullptr, Screenshot},
    {"--close", "", nullptr, Close},
    {"--title", "CLASS", "(prints the window's title)", Title},
};

std::string Usage() {
  std::string text;
  for (const auto& command : kCommands) {
    text += std::string(text.empty() ? "Usage: " : "       ") + "post-message [--pid N] " +
            command.name;
    if (*command.arguments) text += std::string(" ") + command.arguments;
    if (command.help) text += std::string("   ") + command.help;
    text += "\n";
  }
  return text +
         "       post-message --help\n"
         "MESSAGE: WM_COMMAND, WM_CLOSE, WM_USER, ... or a number (32 bits; WPARAM and LPARAM\n"
         "32-bit words, signed or not); KEY: RETURN, ESCAPE, F4,\n"
         "a letter or a number; ID: IDOK, IDCANCEL, IDYES, IDNO, IDRETRY, ... or a number.\n";
}

// The command line for the control channel; empty for a wrong one.
std::string Command(const Words& args) {
  if (args.empty()) return {};
  const CommandLine::Command<Line>* command = CommandLine::Find(kCommands, args[0]);
  Words arguments(args.begin() + 1, args.end());
  if (command == nullptr || command == &kCommands[0]) {
    if (args[0].rfind("--", 0) == 0) return {};
    command = &kCommands[0];
    arguments = args;
  }
  Line line;
  std::string reason;
  return command->run(line, arguments, &reason) ? line : "";
}

}  // namespace

int main(int argc, char** argv) {
  Words args = CommandLine::Arguments(argc, argv);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h"))
    return CommandLine::ShowHelp(Usage());
  long long pid = 0;
  if (args.size() >= 2 && args[0] == "--pid") {
    if (Number::Integer(args[1], 1, 0x7FFFFFFF, &pid) != Number::Read::kOk)
      return CommandLine::Refuse("post-message", "", Usage());
    args.erase(args.begin(), args.begin() + 2);
  }
  const std::string command = Command(args);
  if (command.empty()) return CommandLine::Refuse("post-message", "", Usage());
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
