#include "TextLayout.h"

#include <algorithm>

namespace handheld::detail {

TextLayout::TextLayout(std::u16string_view text, UINT format, int width, Measure measure) {
  TakeText(text, format);
  if (format & DT_SINGLELINE) {
    Add(0, text_.size(), measure(text_));
    return;
  }
  size_t begin = 0;
  for (;;) {
    size_t feed = text_.find(u'\n', begin);
    size_t end = feed == std::u16string::npos ? text_.size() : feed;
    size_t cut = end > begin && text_[end - 1] == u'\r' ? end - 1 : end;
    BreakParagraph(begin, cut, (format & DT_WORDBREAK) != 0, width, measure);
    if (feed == std::u16string::npos) break;
    begin = feed + 1;
  }
}

void TextLayout::TakeText(std::u16string_view text, UINT format) {
  const bool singleLine = (format & DT_SINGLELINE) != 0;
  const bool prefixes = (format & DT_NOPREFIX) == 0;
  auto changes = [&](char16_t c) {
    return (singleLine && (c == u'\r' || c == u'\n')) || (prefixes && c == u'&');
  };
  if (std::none_of(text.begin(), text.end(), changes)) {
    text_ = text;
    return;
  }
  copy_.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (singleLine && (c == u'\r' || c == u'\n')) continue;
    if (c == u'&' && prefixes) {
      if (i + 1 < text.size() && text[i + 1] == u'&') {
        ++i;  // "&&" is one "&"
      } else {
        if (i + 1 < text.size()) underline_ = copy_.size();
        continue;
      }
    }
    copy_ += c;
  }
  text_ = copy_;
}

void TextLayout::Add(size_t begin, size_t end, int width) {
  const Line line{begin, end, width};
  if (count_ < kFirstLines) {
    first_[count_++] = line;
    return;
  }
  if (spilled_.empty()) spilled_.assign(first_.begin(), first_.end());
  spilled_.push_back(line);
  ++count_;
}

void TextLayout::BreakParagraph(size_t begin, size_t end, bool wordBreak, int width,
                                Measure measure) {
  auto add = [&](size_t from, size_t to) {
    Add(from, to, measure(text_.substr(from, to - from)));
  };
  if (!wordBreak) {
    add(begin, end);
    return;
  }
  size_t start = begin;
  for (;;) {
    // The longest run of whole words from `start` that fits (at least one).
    size_t fits = start;
    size_t scan = start;
    while (scan < end) {
      size_t wordEnd = scan;
      while (wordEnd < end && text_[wordEnd] == u' ') ++wordEnd;
      while (wordEnd < end && text_[wordEnd] != u' ') ++wordEnd;
      if (fits != start && measure(text_.substr(start, wordEnd - start)) > width) break;
      fits = scan = wordEnd;
    }
    add(start, fits);
    start = fits;
    while (start < end && text_[start] == u' ') ++start;
    if (start >= end) break;
  }
}

int TextLayout::widest() const {
  int widest = 0;
  for (const Line& line : lines()) widest = std::max(widest, line.width);
  return widest;
}

}  // namespace handheld::detail
