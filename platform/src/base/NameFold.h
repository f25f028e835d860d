// Names that compare without regard to case: registry key and value names,
// device names ("com3:" is "COM3:"). One folding for all of them: ASCII,
// Latin-1, Latin Extended-A, Greek, Cyrillic and full-width Latin letters
// fold to upper case.
#pragma once

#include <string>
#include <string_view>

namespace handheld::detail {

class NameFold {
 public:
  static char16_t Fold(char16_t c);
  static std::u16string Fold(std::u16string_view name);
  static bool Equal(std::u16string_view a, std::u16string_view b);
};

}  // namespace handheld::detail
