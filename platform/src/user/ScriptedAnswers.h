// Answers given in advance, in order, for the boxes and save dialogs a
// program will show: $HANDHELD_ANSWERS (read on first use) or the test
// API. Entries are separated by commas: a button id by name ("IDOK",
// "IDRETRY", ...) or number answers the next message box; "save:<path>"
// (a path on the handheld) answers the next save dialog, and a button id
// answers it too (IDCANCEL or "cancel" cancels, IDOK takes the name it
// offers).
#pragma once

#include <optional>
#include <string>

#include "win/types.h"

namespace handheld::detail {

class ScriptedAnswers {
 public:
  struct Answer {
    int button = 0;             // a button id, or 0 for a path
    std::u16string path;        // "save:" entries
  };
  static void Set(const std::string& script);
  // The next answer for a message box (a button id), taken; none when the
  // script is used up or its next entry is for a save dialog.
  static std::optional<int> NextButton();
  // The next answer for a save dialog, taken; none when used up.
  static std::optional<Answer> NextSave();
  // A button's id from its name ("IDOK") or number; 0 for neither.
  static int ButtonId(const std::string& name);
  static const char* ButtonName(int id);
};

}  // namespace handheld::detail
