// A tool's command line as tables. An option table lists each option with
// its name, its argument, its help and what it does with the argument; a
// command table lists each command (the word that picks what a tool does)
// with its arguments, its help and what runs it. One table drives both the
// parsing and the help text, so the two cannot disagree; a table is a list,
// so tools that share options share the rows.
//
// Help lines are "  NAME ARGUMENT" with the help's first line at a column of
// the tool's choosing and the others below it; a head too wide for the
// column stands on a line of its own. A refused command line gets status 2,
// help asked for goes to standard output with status 0.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class CommandLine {
 public:
  using Words = std::vector<std::string>;

  // What an option does with its argument (empty for a flag): false, with
  // `error` set, when it refuses it.
  using Action = std::function<bool(const std::string& value, std::string& error)>;
  struct Option {
    const char* group;      // the heading of a group of the help that starts here, or null
    const char* name;       // "--seconds"
    const char* shortName;  // "-v", or null
    const char* argument;   // "N"; null for a flag
    const char* help;       // lines separated by '\n'
    Action action;          // null for --help
  };
  using Options = std::vector<Option>;

  // A command: `arguments` holds its forms (several separated by '\n', each
  // shown after the name), `run` what carries it out for a `Context`.
  template <typename Context>
  struct Command {
    const char* name;
    const char* arguments;
    const char* help;
    bool (*run)(Context& context, const Words& arguments, std::string* reason);
  };

  enum class Parsed { kDone, kHelp, kWrong };
  // Parses `words` by `options`, acting on each option in order. A word
  // that is no option ("-" alone is none) goes to *operands, or is refused
  // when `operands` is null. kHelp when an option without action (--help)
  // comes before any error; kWrong with `error` said.
  static Parsed Parse(const Options& options, const Words& words, Words* operands,
                      std::string& error);
  static Words Arguments(int argc, char** argv) { return Words(argv + 1, argv + argc); }

  // The help lines of `options`, with groups' headings.
  static std::string Help(const Options& options, size_t column);
  // The help lines of a command table: "  NAME FORM" for each form.
  template <typename Table>
  static std::string CommandHelp(const Table& table, size_t column) {
    std::string text;
    for (const auto& command : table)
      AppendCommand(text, command.name, command.arguments, command.help, column);
    return text;
  }
  // The command named `name`, or null.
  template <typename Table>
  static auto Find(const Table& table, std::string_view name) -> decltype(&*std::begin(table)) {
    for (const auto& command : table)
      if (name == command.name) return &command;
    return nullptr;
  }
  // "usage: NAME FORM | NAME FORM" for a command used wrongly.
  template <typename Command>
  static std::string Usage(const Command& command) {
    return UsageOf(command.name, command.arguments);
  }

  // `head` and the lines of `help` at `column`.
  static void AppendHelp(std::string& text, std::string head, std::string_view help, size_t column);
  // Prints "PROGRAM: WHAT" (when there is a what) and `usage` (when given)
  // on standard error; returns 2, the status of a refused command line.
  static int Refuse(const char* program, const std::string& what, const std::string& usage = "");
  // Prints the help on standard output; returns 0.
  static int ShowHelp(const std::string& text);

 private:
  static void AppendCommand(std::string& text, const char* name, const char* forms,
                            const char* help, size_t column);
  static std::string UsageOf(const char* name, const char* forms);
};
