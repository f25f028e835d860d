// The names of a key's subkeys or values, in the order enumeration gives
// them; an enumeration that ends otherwise than with ERROR_NO_MORE_ITEMS
// fails the case.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace conformance {

enum class Listed { kSubKeys, kValues };

inline std::vector<std::basic_string<WCHAR>> RegistryNames(HKEY key, Listed listed) {
  std::vector<std::basic_string<WCHAR>> names;
  for (DWORD i = 0;; ++i) {
    WCHAR name[300];
    DWORD chars = 300;
    const LONG status =
        listed == Listed::kSubKeys
            ? RegEnumKeyExW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr)
            : RegEnumValueW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS) {
      EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
      break;
    }
    names.emplace_back(name, chars);
  }
  return names;
}

inline std::vector<std::basic_string<WCHAR>> SubKeys(HKEY key) {
  return RegistryNames(key, Listed::kSubKeys);
}
inline std::vector<std::basic_string<WCHAR>> ValueNames(HKEY key) {
  return RegistryNames(key, Listed::kValues);
}

}  // namespace conformance
