// Builds one JSON object per output line. Keys and values are added in
// order; commas and nesting are handled here.
//
//   JsonWriter json;
//   json.BeginObject();
//   json.Key("type").String("nmea");
//   json.Key("values").BeginArray().Int(1).Int(2).EndArray();
//   json.EndObject();
//   json.Line();  // the text, without a line end
//
// Text is taken as bytes: printable ASCII is copied, quotes and backslashes
// are escaped, and every other byte (control bytes, bytes of 0x80 and up) is
// written as \u00XX, so that any input gives valid JSON.
//
// A writer may be cleared and used again for the next line: its text keeps
// its storage, so writing a line allocates nothing once the first is done.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class JsonWriter {
 public:
  JsonWriter& BeginObject() { return Open('{'); }
  JsonWriter& EndObject() { return Close('}'); }
  JsonWriter& BeginArray() { return Open('['); }
  JsonWriter& EndArray() { return Close(']'); }
  // A member's name: one of the program's own, plain ASCII, taken as it is.
  JsonWriter& Key(std::string_view name) {
    BeforeValue();
    text_ += '"';
    text_.append(name.data(), name.size());
    text_.append("\":", 2);
    afterKey_ = true;
    return *this;
  }
  JsonWriter& String(std::string_view text);
  JsonWriter& String(const char* text, size_t length) { return String(std::string_view(text, length)); }
  // A NUL-terminated text inside a fixed member, never read past `capacity`.
  JsonWriter& FixedText(const char* text, size_t capacity);
  // One character as a one-character string.
  JsonWriter& Char(char c);
  JsonWriter& Int(int64_t value);
  // A finite number with up to 12 significant digits; null otherwise.
  JsonWriter& Double(double value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();

  const std::string& Line() const { return text_; }
  void Clear();

  // Appends the line end to the text (for a writer that gathers lines).
  void EndLine() { text_ += '\n'; }

  static std::string Escape(const char* text, size_t length);

 private:
  void BeforeValue() {
    if (afterKey_) {
      afterKey_ = false;
    } else if (depth_ != 0) {
      if (hasItem_ & 1) text_ += ',';
      hasItem_ |= 1;
    }
  }
  JsonWriter& Open(char bracket) {
    BeforeValue();
    text_ += bracket;
    hasItem_ <<= 1;
    ++depth_;
    return *this;
  }
  JsonWriter& Close(char bracket) {
    text_ += bracket;
    if (depth_ != 0) {
      hasItem_ >>= 1;
      --depth_;
    }
    return *this;
  }
  void AppendEscaped(std::string_view text);

  std::string text_;
  // One bit per open object or array, the innermost lowest: whether it
  // already holds an item; the lines written here nest at most 4 deep.
  uint64_t hasItem_ = 0;
  unsigned depth_ = 0;
  bool afterKey_ = false;
};
