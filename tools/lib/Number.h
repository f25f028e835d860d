// Numbers on a tool's command line, read strictly: the whole text is the
// number, with no blanks around it, no '+', no trailing characters, and a
// value in the range the caller gives. Every tool reads its numbers here.
#pragma once

#include <string_view>

class Number {
 public:
  enum class Read { kOk, kNotANumber, kOutOfRange };

  // A whole number in [low, high]: decimal digits after an optional '-'; with
  // `hex` also "0x" (or "0X") and hexadecimal digits after the '-'. A
  // leading zero does not make it octal.
  static Read Integer(std::string_view text, long long low, long long high, long long* value,
                      bool hex = false);
  // A finite decimal number in [low, high]: "12", "-0.5", "2.5e3"; no
  // hexadecimal, infinity or NaN.
  static Read Real(std::string_view text, double low, double high, double* value);
};
