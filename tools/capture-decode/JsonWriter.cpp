#include "JsonWriter.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

const size_t kInitialBytes = 4096;

// Facts about each byte value, looked up once a byte: whether it goes out in
// a string as it is (printable ASCII other than the quote and the
// backslash), and its two upper-case hexadecimal digits.
struct ByteTable {
  bool plain[256];
  char hex[256][2];
  constexpr ByteTable() : plain(), hex() {
    const char digits[] = "0123456789ABCDEF";
    for (int c = 0; c < 256; ++c) {
      plain[c] = c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
      hex[c][0] = digits[c >> 4];
      hex[c][1] = digits[c & 15];
    }
  }
};
constexpr ByteTable kBytes;

}  // namespace

JsonWriter::JsonWriter() : storage_(new char[kInitialBytes]) {
  at_ = storage_.get();
  end_ = at_ + kInitialBytes;
}

// At least doubles, so that a long line costs few copies.
void JsonWriter::Grow(size_t bytes) {
  const size_t used = Size();
  const size_t capacity = static_cast<size_t>(end_ - storage_.get());
  size_t grown = 2 * capacity;
  if (grown < used + bytes) grown = used + bytes;
  std::unique_ptr<char[]> larger(new char[grown]);
  std::memcpy(larger.get(), storage_.get(), used);
  storage_ = std::move(larger);
  at_ = storage_.get() + used;
  end_ = storage_.get() + grown;
}

JsonWriter& JsonWriter::String(std::string_view text) {
  Room(1);
  BeforeValue();
  AppendEscaped(text);
  return *this;
}

JsonWriter& JsonWriter::FixedText(const char* text, size_t capacity) {
  const void* end = std::memchr(text, '\0', capacity);
  const size_t length = end ? static_cast<size_t>(static_cast<const char*>(end) - text) : capacity;
  return String(text, length);
}

JsonWriter& JsonWriter::Char(char c) { return String(&c, 1); }

JsonWriter& JsonWriter::Hex(const uint8_t* bytes, size_t count) {
  Room(2 * count + 3);
  BeforeValue();
  *at_++ = '"';
  for (size_t i = 0; i < count; ++i) std::memcpy(at_ + 2 * i, kBytes.hex[bytes[i]], 2);
  at_ += 2 * count;
  *at_++ = '"';
  return *this;
}

JsonWriter& JsonWriter::Int(int64_t value) {
  Room(21);
  BeforeValue();
  at_ = std::to_chars(at_, at_ + 20, value).ptr;
  return *this;
}

JsonWriter& JsonWriter::Double(double value) {
  if (!std::isfinite(value)) return Null();
  char number[32];
  const int length = std::snprintf(number, sizeof number, "%.12g", value);
  Plain(number, static_cast<size_t>(length));
  return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
  if (value) {
    Plain("true", 4);
  } else {
    Plain("false", 5);
  }
  return *this;
}

JsonWriter& JsonWriter::Null() {
  Plain("null", 4);
  return *this;
}

void JsonWriter::Clear() {
  at_ = storage_.get();
  hasItem_ = 0;
  depth_ = 0;
  afterKey_ = false;
}

// The quoted text: runs of plain bytes are copied whole, each other byte is
// escaped. Room for the worst case, six characters a byte, is made first.
void JsonWriter::AppendEscaped(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  Room(6 * text.size() + 2);
  *at_++ = '"';
  size_t run = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (kBytes.plain[c]) continue;
    std::memcpy(at_, text.data() + run, i - run);
    at_ += i - run;
    run = i + 1;
    if (c == '"' || c == '\\') {
      at_[0] = '\\';
      at_[1] = static_cast<char>(c);
      at_ += 2;
    } else {
      const char escaped[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
      std::memcpy(at_, escaped, 6);
      at_ += 6;
    }
  }
  std::memcpy(at_, text.data() + run, text.size() - run);
  at_ += text.size() - run;
  *at_++ = '"';
}
