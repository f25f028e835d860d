#include "JsonWriter.h"

#include <cmath>
#include <cstdio>
#include <cstring>

void JsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!hasItem_.empty()) {
    if (hasItem_.back()) text_ += ',';
    hasItem_.back() = true;
  }
}

JsonWriter& JsonWriter::BeginObject() {
  BeforeValue();
  text_ += '{';
  hasItem_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::EndObject() {
  text_ += '}';
  if (!hasItem_.empty()) hasItem_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::BeginArray() {
  BeforeValue();
  text_ += '[';
  hasItem_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::EndArray() {
  text_ += ']';
  if (!hasItem_.empty()) hasItem_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::Key(const std::string& name) {
  BeforeValue();
  text_ += '"';
  text_ += Escape(name.data(), name.size());
  text_ += "\":";
  afterKey_ = true;
  return *this;
}

JsonWriter& JsonWriter::String(const std::string& text) { return String(text.data(), text.size()); }

JsonWriter& JsonWriter::String(const char* text, size_t length) {
  BeforeValue();
  text_ += '"';
  text_ += Escape(text, length);
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
  text_ += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::Double(double value) {
  BeforeValue();
  if (!std::isfinite(value)) {
    text_ += "null";
    return *this;
  }
  char number[32];
  std::snprintf(number, sizeof number, "%.12g", value);
  text_ += number;
  return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
  BeforeValue();
  text_ += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::Null() {
  BeforeValue();
  text_ += "null";
  return *this;
}

void JsonWriter::Clear() {
  text_.clear();
  hasItem_.clear();
  afterKey_ = false;
}

std::string JsonWriter::Escape(const char* text, size_t length) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}
