#include "JsonWriter.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// Printable ASCII other than the quote and the backslash goes out as it is.
bool Plain(unsigned char c) { return c >= 0x20 && c < 0x7F && c != '"' && c != '\\'; }

}  // namespace

JsonWriter& JsonWriter::String(std::string_view text) {
  BeforeValue();
  text_ += '"';
  AppendEscaped(text);
  text_ += '"';
  return *this;
}

JsonWriter& JsonWriter::FixedText(const char* text, size_t capacity) {
  const void* end = std::memchr(text, '\0', capacity);
  const size_t length = end ? static_cast<size_t>(static_cast<const char*>(end) - text) : capacity;
  return String(text, length);
}

JsonWriter& JsonWriter::Char(char c) { return String(&c, 1); }

JsonWriter& JsonWriter::Int(int64_t value) {
  BeforeValue();
  char number[24];
  const std::to_chars_result end = std::to_chars(number, number + sizeof number, value);
  text_.append(number, static_cast<size_t>(end.ptr - number));
  return *this;
}

JsonWriter& JsonWriter::Double(double value) {
  BeforeValue();
  if (!std::isfinite(value)) {
    text_.append("null", 4);
    return *this;
  }
  char number[32];
  const int length = std::snprintf(number, sizeof number, "%.12g", value);
  text_.append(number, static_cast<size_t>(length));
  return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
  BeforeValue();
  if (value) {
    text_.append("true", 4);
  } else {
    text_.append("false", 5);
  }
  return *this;
}

JsonWriter& JsonWriter::Null() {
  BeforeValue();
  text_.append("null", 4);
  return *this;
}

void JsonWriter::Clear() {
  text_.clear();
  hasItem_ = 0;
  depth_ = 0;
  afterKey_ = false;
}

// Runs of plain bytes are copied whole; each other byte is escaped.
void JsonWriter::AppendEscaped(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  size_t run = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (Plain(c)) continue;
    text_.append(text.data() + run, i - run);
    run = i + 1;
    if (c == '"' || c == '\\') {
      const char escaped[2] = {'\\', static_cast<char>(c)};
      text_.append(escaped, 2);
    } else {
      const char escaped[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
      text_.append(escaped, 6);
    }
  }
  text_.append(text.data() + run, text.size() - run);
}

std::string JsonWriter::Escape(const char* text, size_t length) {
  JsonWriter json;
  json.AppendEscaped(std::string_view(text, length));
  return json.text_;
}
