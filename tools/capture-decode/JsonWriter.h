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
// A writer may be cleared and used again for the next line, or gather many
// lines: its storage is kept and only grows, so writing allocates nothing
// once the longest line has been written. Each piece is written straight
// into the storage after one test for room.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

class JsonWriter {
 public:
  JsonWriter();

  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  JsonWriter& BeginObject() { return Open('{'); }
  JsonWriter& EndObject() { return Close('}'); }
  JsonWriter& BeginArray() { return Open('['); }
  JsonWriter& EndArray() { return Close(']'); }
  // A member's name: one of the program's own, plain ASCII, taken as it is.
  JsonWriter& Key(std::string_view name) {
    Room(name.size() + 4);
    BeforeValue();
    *at_++ = '"';
    std::memcpy(at_, name.data(), name.size());
    at_ += name.size();
    *at_++ = '"';
    *at_++ = ':';
    afterKey_ = true;
    return *this;
  }
  JsonWriter& String(std::string_view text);
  JsonWriter& String(const char* text, size_t length) { return String(std::string_view(text, length)); }
  // A NUL-terminated text inside a fixed member, never read past `capacity`.
  JsonWriter& FixedText(const char* text, size_t capacity);
  // One character as a one-character string.
  JsonWriter& Char(char c);
  // Bytes as a string of upper-case hexadecimal digits, two a byte.
  JsonWriter& Hex(const uint8_t* bytes, size_t count);
  JsonWriter& Int(int64_t value);
  // A finite number with up to 12 significant digits; null otherwise.
  JsonWriter& Double(double value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();

  std::string_view Line() const { return std::string_view(storage_.get(), Size()); }
  size_t Size() const { return static_cast<size_t>(at_ - storage_.get()); }
  void Clear();

  // Appends the line end to the text (for a writer that gathers lines).
  void EndLine() {
    Room(1);
    *at_++ = '\n';
  }

 private:
  // Makes room for `bytes` more characters.
  void Room(size_t bytes) {
    if (static_cast<size_t>(end_ - at_) < bytes) Grow(bytes);
  }
  void Grow(size_t bytes);
  void BeforeValue() {
    if (afterKey_) {
      afterKey_ = false;
    } else if (depth_ != 0) {
      if (hasItem_ & 1) *at_++ = ',';
      hasItem_ |= 1;
    }
  }
  JsonWriter& Open(char bracket) {
    Room(2);
    BeforeValue();
    *at_++ = bracket;
    hasItem_ <<= 1;
    ++depth_;
    return *this;
  }
  JsonWriter& Close(char bracket) {
    Room(1);
    *at_++ = bracket;
    if (depth_ != 0) {
      hasItem_ >>= 1;
      --depth_;
    }
    return *this;
  }
  // Writes a value's text of `length` characters (room for a comma made here).
  void Plain(const char* text, size_t length) {
    Room(length + 1);
    BeforeValue();
    std::memcpy(at_, text, length);
    at_ += length;
  }
  void AppendEscaped(std::string_view text);

  std::unique_ptr<char[]> storage_;
  char* at_ = nullptr;   // where the next character goes
  char* end_ = nullptr;  // end of the storage
  // One bit per open object or array, the innermost lowest: whether it
  // already holds an item; the lines written here nest at most 4 deep.
  uint64_t hasItem_ = 0;
  unsigned depth_ = 0;
  bool afterKey_ = false;
};
