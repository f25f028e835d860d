// One registry value below HKEY_LOCAL_MACHINE as it is stored (type and
// bytes), read, written and deleted by key path, for the package
// installer; and the keys themselves: whether one exists or is empty.
#pragma once

#include <string>
#include <vector>

#include "windows.h"

namespace handheld::detail {

class StoredValue {
 public:
  StoredValue() = default;
  StoredValue(DWORD type, std::vector<BYTE> bytes) : type_(type), bytes_(std::move(bytes)) {}
  static StoredValue Text(const std::u16string& text);
  static StoredValue Number(DWORD number);
  static StoredValue List(const std::vector<std::u16string>& texts);  // REG_MULTI_SZ

  // False when the key or the value is not there.
  static bool Read(const std::u16string& key, const std::u16string& name, StoredValue* value);
  // Creates the key when it is missing.
  LONG Write(const std::u16string& key, const std::u16string& name) const;
  static LONG Delete(const std::u16string& key, const std::u16string& name);

  static bool KeyExists(const std::u16string& key);
  // A key with no values and no subkeys (false when it does not exist).
  static bool KeyEmpty(const std::u16string& key);

  DWORD type() const { return type_; }
  const std::vector<BYTE>& bytes() const { return bytes_; }
  // The number of a REG_DWORD value, else 0.
  DWORD number() const;
  // The strings of a REG_MULTI_SZ value.
  std::vector<std::u16string> list() const;
  std::u16string text() const;

 private:
  DWORD type_ = REG_NONE;
  std::vector<BYTE> bytes_;
};

}  // namespace handheld::detail
