#include "Number.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <type_traits>

namespace {

// The outcome of from_chars over the whole of [first, last).
template <typename T>
Number::Read Convert(const char* first, const char* last, T* value, int base) {
  std::from_chars_result result{};
  if constexpr (std::is_floating_point_v<T>) {
    (void)base;
    result = std::from_chars(first, last, *value, std::chars_format::general);
  } else {
    result = std::from_chars(first, last, *value, base);
  }
  if (result.ec == std::errc::result_out_of_range && result.ptr == last)
    return Number::Read::kOutOfRange;
  if (result.ec != std::errc() || result.ptr != last) return Number::Read::kNotANumber;
  return Number::Read::kOk;
}

}  // namespace

Number::Read Number::Integer(std::string_view text, long long low, long long high, long long* value,
                             bool hex) {
  const bool negative = !text.empty() && text[0] == '-';
  std::string_view digits = text.substr(negative ? 1 : 0);
  int base = 10;
  if (hex && digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.remove_prefix(2);
    base = 16;
  }
  // from_chars takes a '-' itself, which must not come twice.
  if (digits.empty() || digits[0] == '-') return Read::kNotANumber;
  unsigned long long magnitude = 0;
  const Read read = Convert(digits.data(), digits.data() + digits.size(), &magnitude, base);
  if (read != Read::kOk) return read;
  long long number = 0;
  if (negative) {
    if (low >= 0) return Read::kOutOfRange;
    // The lowest long long's magnitude is one more than the highest's.
    const unsigned long long most = 1ull + static_cast<unsigned long long>(-(low + 1));
    if (magnitude > most) return Read::kOutOfRange;
    number = magnitude == 0 ? 0 : -static_cast<long long>(magnitude - 1) - 1;
  } else {
    if (magnitude > static_cast<unsigned long long>(std::numeric_limits<long long>::max()))
      return Read::kOutOfRange;
    number = static_cast<long long>(magnitude);
  }
  if (number < low || number > high) return Read::kOutOfRange;
  *value = number;
  return Read::kOk;
}

Number::Read Number::Real(std::string_view text, double low, double high, double* value) {
  if (text.empty()) return Read::kNotANumber;
  for (const char c : text)
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == 'e' || c == 'E' || c == '+'))
      return Read::kNotANumber;
  if (text[0] == '+' || text[0] == 'e' || text[0] == 'E') return Read::kNotANumber;
  double number = 0;
  const Read read = Convert(text.data(), text.data() + text.size(), &number, 10);
  if (read != Read::kOk) return read;
  if (!std::isfinite(number) || number < low || number > high) return Read::kOutOfRange;
  *value = number;
  return Read::kOk;
}
