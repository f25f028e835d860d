#include "ScriptedAnswers.h"

#include <cstdlib>
#include <deque>
#include <mutex>

#include "ProcessLifetime.h"
#include "handheld.h"

namespace handheld::detail {
namespace {

struct ButtonNameRow {
  int id;
  const char* name;
};
constexpr ButtonNameRow kButtons[] = {{IDOK, "IDOK"},         {IDCANCEL, "IDCANCEL"},
                                      {IDABORT, "IDABORT"},   {IDRETRY, "IDRETRY"},
                                      {IDIGNORE, "IDIGNORE"}, {IDYES, "IDYES"},
                                      {IDNO, "IDNO"}};

struct Script {
  std::mutex mutex;
  std::deque<std::string> entries;
  Script() {
    const char* text = std::getenv("HANDHELD_ANSWERS");
    if (text) Fill(text);
  }
  void Fill(const std::string& text) {
    entries.clear();
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = text.find(',', start);
      if (end == std::string::npos) end = text.size();
      std::string entry = text.substr(start, end - start);
      if (!entry.empty()) entries.push_back(entry);
      start = end + 1;
    }
  }
};

Script& TheScript() { return ProcessLifetime<Script>::Get(); }

constexpr const char* kSavePrefix = "save:";

}  // namespace

void ScriptedAnswers::Set(const std::string& script) {
  Script& s = TheScript();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.Fill(script);
}

int ScriptedAnswers::ButtonId(const std::string& name) {
  for (const ButtonNameRow& row : kButtons)
    if (name == row.name) return row.id;
  if (name == "cancel") return IDCANCEL;
  char* end = nullptr;
  long value = std::strtol(name.c_str(), &end, 10);
  return !name.empty() && *end == '\0' && value > 0 && value < 0x10000 ? static_cast<int>(value)
                                                                       : 0;
}

const char* ScriptedAnswers::ButtonName(int id) {
  for (const ButtonNameRow& row : kButtons)
    if (row.id == id) return row.name;
  return "?";
}

std::optional<int> ScriptedAnswers::NextButton() {
  Script& s = TheScript();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.entries.empty() || s.entries.front().rfind(kSavePrefix, 0) == 0) return std::nullopt;
  const int id = ButtonId(s.entries.front());
  s.entries.pop_front();
  if (id == 0) return std::nullopt;  // not understood: left to whoever answers otherwise
  return id;
}

std::optional<ScriptedAnswers::Answer> ScriptedAnswers::NextSave() {
  Script& s = TheScript();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.entries.empty()) return std::nullopt;
  std::string entry = s.entries.front();
  s.entries.pop_front();
  Answer answer;
  if (entry.rfind(kSavePrefix, 0) == 0) {
    answer.path = FromUtf8(entry.substr(std::char_traits<char>::length(kSavePrefix)));
    return answer;
  }
  answer.button = ButtonId(entry);
  if (answer.button == 0) return std::nullopt;
  return answer;
}

}  // namespace handheld::detail
