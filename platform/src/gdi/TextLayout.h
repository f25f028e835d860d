// Lines of a DrawText call: "&" prefixes taken out (unless DT_NOPREFIX),
// the text cut at line feeds (unless DT_SINGLELINE) and, with
// DT_WORDBREAK, between words where the next word would cross `width`.
// A word wider than the whole width stands on a line of its own.
//
// A label drawn many times a second costs no allocation: the text is
// copied only when prefixes or line ends come out of it, and the first
// few lines are kept in place.
#pragma once

#include <array>
#include <cstddef>
#include <span>
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
  // The width of a run of text: `measure(context, text)`.
  struct Measure {
    int (*measure)(void* context, std::u16string_view text);
    void* context;
    int operator()(std::u16string_view text) const { return measure(context, text); }
  };

  TextLayout(std::u16string_view text, UINT format, int width, Measure measure);
  TextLayout(const TextLayout&) = delete;
  TextLayout& operator=(const TextLayout&) = delete;

  std::u16string_view text() const { return text_; }
  std::span<const Line> lines() const {
    return {spilled_.empty() ? first_.data() : spilled_.data(), count_};
  }
  // Index into text() of the character to underline, or npos.
  size_t underline() const { return underline_; }
  int widest() const;

 private:
  static constexpr size_t kFirstLines = 4;

  // The text as drawn, in `copy_` when it differs from `text`.
  void TakeText(std::u16string_view text, UINT format);
  void BreakParagraph(size_t begin, size_t end, bool wordBreak, int width, Measure measure);
  void Add(size_t begin, size_t end, int width);

  std::u16string copy_;
  std::u16string_view text_;
  std::array<Line, kFirstLines> first_{};
  std::vector<Line> spilled_;  // every line, once there are more than kFirstLines
  size_t count_ = 0;
  size_t underline_ = std::u16string::npos;
};

}  // namespace handheld::detail
