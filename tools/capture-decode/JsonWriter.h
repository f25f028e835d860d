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
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  JsonWriter& Key(const std::string& name);
  JsonWriter& String(const std::string& text);
  JsonWriter& String(const char* text, size_t length);
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

  static std::string Escape(const char* text, size_t length);

 private:
  void BeforeValue();

  std::string text_;
  // One entry per open object or array: whether it already holds an item.
  std::vector<bool> hasItem_;
  bool afterKey_ = false;
};
