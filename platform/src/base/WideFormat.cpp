// wsprintf for UTF-16 text: %[-0#][width][.precision][h|l]type with the
// types s S c C d i u x X and %%. Numbers are 32-bit. The output stops at
// 1023 characters and is always terminated, so it never writes more than
// 1024 characters however long the arguments are.
#include <cstdint>
#include <type_traits>

#include "windows.h"

namespace {

constexpr int kMaxOutput = 1024;  // characters, terminator included

class Output {
 public:
  explicit Output(LPWSTR buf) : buf_(buf) {}
  void Put(WCHAR c) {
    if (length_ < kMaxOutput - 1) buf_[length_++] = c;
  }
  void Repeat(WCHAR c, int count) {
    for (int i = 0; i < count; ++i) Put(c);
  }
  int Finish() {
    buf_[length_] = 0;
    return length_;
  }

 private:
  LPWSTR buf_;
  int length_ = 0;
};

struct Conversion {
  bool left = false;
  bool zero = false;
  bool alternate = false;
  int width = 0;
  int precision = -1;  // none
  char size = 0;       // 'h', 'l' or none
  WCHAR type = 0;
};

int ReadNumber(LPCWSTR& p) {
  int n = 0;
  while (*p >= u'0' && *p <= u'9') {
    if (n < kMaxOutput) n = n * 10 + (*p - u'0');  // wider than any output anyway
    ++p;
  }
  return n;
}

// Pads a piece of `length` characters to the field width.
template <class Emit>
void Field(Output& out, const Conversion& conv, int length, Emit emit) {
  int pad = conv.width > length ? conv.width - length : 0;
  if (!conv.left) out.Repeat(u' ', pad);
  emit();
  if (conv.left) out.Repeat(u' ', pad);
}

template <class Char>
void Text(Output& out, const Conversion& conv, const Char* text) {
  static const Char kNull[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
  if (!text) text = kNull;
  int length = 0;
  while (text[length] && (conv.precision < 0 || length < conv.precision) && length < kMaxOutput)
    ++length;
  Field(out, conv, length, [&] {
    for (int i = 0; i < length; ++i)
      out.Put(static_cast<WCHAR>(static_cast<std::make_unsigned_t<Char>>(text[i])));
  });
}

void Number(Output& out, const Conversion& conv, uint32_t magnitude, bool negative) {
  const bool hex = conv.type == u'x' || conv.type == u'X';
  const char* digitSet = conv.type == u'X' ? "0123456789ABCDEF" : "0123456789abcdef";
  WCHAR digits[16];
  int count = 0;
  do {
    digits[count++] = static_cast<WCHAR>(digitSet[magnitude % (hex ? 16 : 10)]);
    magnitude /= hex ? 16 : 10;
  } while (magnitude);
  // A precision of 0 prints nothing for the value 0.
  if (conv.precision == 0 && count == 1 && digits[0] == u'0') count = 0;

  const WCHAR* prefix = negative ? u"-" : (hex && conv.alternate) ? (conv.type == u'X' ? u"0X" : u"0x") : u"";
  int prefixLength = static_cast<int>(wcslen(prefix));
  int zeros = conv.precision > count ? conv.precision - count : 0;
  // Zeros pad the digits and a sign to the width; a hexadecimal prefix
  // stands in front of them and is not counted.
  const int counted = negative ? prefixLength : 0;
  if (conv.zero && !conv.left && conv.precision < 0 && conv.width > counted + count)
    zeros = conv.width - counted - count;
  Field(out, conv, prefixLength + zeros + count, [&] {
    for (int i = 0; i < prefixLength; ++i) out.Put(prefix[i]);
    out.Repeat(u'0', zeros);
    while (count > 0) out.Put(digits[--count]);
  });
}

// Reads the flags, width, precision and size of the conversion that `*p`
// (just past its '%') begins; leaves *p at its type character.
Conversion ReadConversion(LPCWSTR* p) {
  Conversion conv;
  for (;; ++*p) {
    if (**p == u'-') conv.left = true;
    else if (**p == u'0') conv.zero = true;
    else if (**p == u'#') conv.alternate = true;
    else break;
  }
  conv.width = ReadNumber(*p);
  if (**p == u'.') {
    ++*p;
    conv.precision = ReadNumber(*p);
  }
  if (**p == u'h' || **p == u'l') conv.size = static_cast<char>(*(*p)++);
  conv.type = **p;
  return conv;
}

void Convert(Output& out, const Conversion& conv, va_list* args) {
  switch (conv.type) {
    case u'%':
      out.Put(u'%');
      break;
    case u's':
      if (conv.size == 'h') Text(out, conv, va_arg(*args, const char*));
      else Text(out, conv, va_arg(*args, const WCHAR*));
      break;
    case u'S':
      if (conv.size == 'l') Text(out, conv, va_arg(*args, const WCHAR*));
      else Text(out, conv, va_arg(*args, const char*));
      break;
    case u'c':
    case u'C': {
      int value = va_arg(*args, int);
      bool narrow = conv.size == 'h' || (conv.type == u'C' && conv.size != 'l');
      WCHAR c = narrow ? static_cast<WCHAR>(static_cast<unsigned char>(value)) : static_cast<WCHAR>(value);
      Field(out, conv, 1, [&] { out.Put(c); });
      break;
    }
    case u'd':
    case u'i': {
      int32_t value = va_arg(*args, int32_t);
      if (conv.size == 'h') value = static_cast<int16_t>(value);
      uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
      Number(out, conv, magnitude, value < 0);
      break;
    }
    case u'u':
    case u'x':
    case u'X': {
      uint32_t value = va_arg(*args, uint32_t);
      if (conv.size == 'h') value = static_cast<uint16_t>(value);
      Number(out, conv, value, false);
      break;
    }
    default:  // not a conversion: the character stands for itself
      out.Put(conv.type);
      break;
  }
}

}  // namespace

int wvsprintfW(LPWSTR buf, LPCWSTR fmt, va_list args) {
  if (!buf) return 0;
  Output out(buf);
  if (!fmt) return out.Finish();
  va_list rest;
  va_copy(rest, args);
  for (LPCWSTR p = fmt; *p; ++p) {
    if (*p != u'%') {
      out.Put(*p);
      continue;
    }
    ++p;
    const Conversion conv = ReadConversion(&p);
    if (conv.type == 0) break;  // a lone '%' ends the format
    Convert(out, conv, &rest);
  }
  va_end(rest);
  return out.Finish();
}

int wsprintfW(LPWSTR buf, LPCWSTR fmt, ...) {
  va_list args;
  va_start(args, fmt);
  int written = wvsprintfW(buf, fmt, args);
  va_end(args);
  return written;
}
