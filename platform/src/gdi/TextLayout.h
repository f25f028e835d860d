// Lines of a DrawText call: "&" prefixes taken out (unless DT_NOPREFIX),
// the text cut at line feeds (unless DT_SINGLELINE) and, with
// DT_WORDBREAK, between words where the next word would cross `width`.
// A word wider than the whole width stands on a line of its own.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "win/gdi.h"

namespace handheld::detail {

class TextLayout {
 public:
  struct Line {
    size_t begin;
    size_t end;  // into text()
    int width;
  };
  using Measure = std::function<int(std::u16string_view)>;

  TextLayout(std::u16string_view text, UINT format, int width, const Measure& measure);

  const std::u16string& text() const { return text_; }
  const std::vector<Line>& lines() const { return lines_; }
  // Index into text() of the character to underline, or npos.
  size_t underline() const { return underline_; }
  int widest() const;

 private:
  void BreakParagraph(size_t begin, size_t end, bool wordBreak, int width, const Measure& measure);

  std::u16string text_;
  std::vector<Line> lines_;
  size_t underline_ = std::u16string::npos;
};

}  // namespace handheld::detail
