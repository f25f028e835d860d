#include "NameFold.h"

namespace handheld::detail {

char16_t NameFold::Fold(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
  if (c >= 0xE0 && c <= 0xFE) return c == 0xF7 ? c : static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    if ((c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
      return static_cast<char16_t>(c & ~1u);
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
      return (c & 1u) ? c : static_cast<char16_t>(c - 1);
    return c;
  }
  if (c >= 0x3AC && c <= 0x3CE) {
    if (c == 0x3AC) return 0x386;
    if (c >= 0x3AD && c <= 0x3AF) return static_cast<char16_t>(c - 0x25);
    if (c == 0x3C2) return 0x3A3;
    if (c >= 0x3B1 && c <= 0x3CB) return static_cast<char16_t>(c - 0x20);
    if (c == 0x3CC) return 0x38C;
    if (c >= 0x3CD) return static_cast<char16_t>(c - 0x3F);
    return c;
  }
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F))
    return static_cast<char16_t>(c & ~1u);
  if (c >= 0x4C1 && c <= 0x4CE) return (c & 1u) ? c : static_cast<char16_t>(c - 1);
  if (c == 0x4CF) return 0x4C0;
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 0x20);
  return c;
}

std::u16string NameFold::Fold(std::u16string_view name) {
  std::u16string folded(name);
  for (char16_t& c : folded) c = Fold(c);
  return folded;
}

bool NameFold::Equal(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

}  // namespace handheld::detail
