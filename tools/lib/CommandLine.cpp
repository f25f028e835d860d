#include "CommandLine.h"

#include <cstdio>

namespace {

const CommandLine::Option* FindOption(const CommandLine::Options& options, std::string_view word) {
  for (const CommandLine::Option& option : options)
    if (word == option.name || (option.shortName != nullptr && word == option.shortName))
      return &option;
  return nullptr;
}

// The lines of `text`, split at '\n'.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  return lines;
}

}  // namespace

CommandLine::Parsed CommandLine::Parse(const Options& options, const Words& words, Words* operands,
                                       std::string& error) {
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word.size() < 2 || word[0] != '-') {
      if (operands == nullptr) {
        error = "unexpected argument " + word;
        return Parsed::kWrong;
      }
      operands->push_back(word);
      continue;
    }
    const Option* option = FindOption(options, word);
    if (option == nullptr) {
      error = "unknown option " + word + " (see --help)";
      return Parsed::kWrong;
    }
    if (!option->action) return Parsed::kHelp;
    std::string value;
    if (option->argument != nullptr) {
      if (i + 1 >= words.size()) {
        error = word + " needs a value";
        return Parsed::kWrong;
      }
      value = words[++i];
    }
    if (!option->action(value, error)) return Parsed::kWrong;
  }
  return Parsed::kDone;
}

void CommandLine::AppendHelp(std::string& text, std::string head, std::string_view help,
                             size_t column) {
  const std::vector<std::string_view> lines = Lines(help);
  if (lines.empty() || head.size() + 2 > column) {
    text += head + "\n";
    head.clear();
    if (lines.empty()) return;
  }
  for (std::string_view line : lines) {
    head.resize(column, ' ');
    text += head;
    text += line;
    text += '\n';
    head.clear();
  }
}

std::string CommandLine::Help(const Options& options, size_t column) {
  std::string text;
  for (const Option& option : options) {
    if (option.group != nullptr) text += std::string("\n") + option.group + ":\n";
    std::string head = std::string("  ") + option.name;
    if (option.argument != nullptr) head += std::string(" ") + option.argument;
    AppendHelp(text, head, option.help, column);
  }
  return text;
}

void CommandLine::AppendCommand(std::string& text, const char* name, const char* forms,
                                const char* help, size_t column) {
  std::vector<std::string_view> shapes = Lines(forms ? forms : "");
  if (shapes.empty()) shapes.push_back("");
  for (size_t i = 0; i < shapes.size(); ++i) {
    std::string head = std::string("  ") + name;
    if (!shapes[i].empty()) head += " " + std::string(shapes[i]);
    // The help stands beside the last form.
    if (i + 1 < shapes.size())
      text += head + "\n";
    else
      AppendHelp(text, head, help ? help : "", column);
  }
}

std::string CommandLine::UsageOf(const char* name, const char* forms) {
  std::string usage = "usage:";
  const char* separator = " ";
  for (std::string_view form : Lines(forms ? forms : "")) {
    usage += separator + std::string(name) + (form.empty() ? "" : " " + std::string(form));
    separator = " | ";
  }
  if (usage == "usage:") usage += std::string(" ") + name;
  return usage;
}

int CommandLine::Refuse(const char* program, const std::string& what, const std::string& usage) {
  if (!what.empty()) std::fprintf(stderr, "%s: %s\n", program, what.c_str());
  std::fputs(usage.c_str(), stderr);
  return 2;
}

int CommandLine::ShowHelp(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  return 0;
}
