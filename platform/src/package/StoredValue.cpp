#include "StoredValue.h"

#include <cstring>

namespace handheld::detail {

namespace {

// An open key below HKEY_LOCAL_MACHINE, closed on destruction.
struct OpenKey {
  HKEY key = nullptr;
  ~OpenKey() {
    if (key) RegCloseKey(key);
  }
};

std::vector<BYTE> Bytes(const std::u16string& text) {
  std::vector<BYTE> bytes((text.size() + 1) * sizeof(char16_t));
  std::memcpy(bytes.data(), text.c_str(), bytes.size());
  return bytes;
}

}  // namespace

StoredValue StoredValue::Text(const std::u16string& text) { return {REG_SZ, Bytes(text)}; }

StoredValue StoredValue::Number(DWORD number) {
  std::vector<BYTE> bytes(sizeof number);
  std::memcpy(bytes.data(), &number, sizeof number);
  return {REG_DWORD, bytes};
}

StoredValue StoredValue::List(const std::vector<std::u16string>& texts) {
  std::u16string joined;
  for (const std::u16string& text : texts) {
    joined += text;
    joined += u'\0';
  }
  return {REG_MULTI_SZ, Bytes(joined)};
}

bool StoredValue::Read(const std::u16string& key, const std::u16string& name, StoredValue* value) {
  OpenKey open;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, 0, &open.key) != ERROR_SUCCESS)
    return false;
  DWORD type = REG_NONE, size = 0;
  if (RegQueryValueExW(open.key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return false;
  std::vector<BYTE> bytes(size);
  if (RegQueryValueExW(open.key, name.c_str(), nullptr, &type, bytes.data(), &size) !=
      ERROR_SUCCESS)
    return false;
  bytes.resize(size);
  *value = StoredValue(type, std::move(bytes));
  return true;
}

LONG StoredValue::Write(const std::u16string& key, const std::u16string& name) const {
  OpenKey open;
  LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, 0, nullptr, &open.key,
                            nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  return RegSetValueExW(open.key, name.c_str(), 0, type_, bytes_.data(),
                        static_cast<DWORD>(bytes_.size()));
}

LONG StoredValue::Delete(const std::u16string& key, const std::u16string& name) {
  OpenKey open;
  LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, 0, &open.key);
  return rc == ERROR_SUCCESS ? RegDeleteValueW(open.key, name.c_str()) : rc;
}

bool StoredValue::KeyExists(const std::u16string& key) {
  OpenKey open;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, 0, &open.key) == ERROR_SUCCESS;
}

bool StoredValue::KeyEmpty(const std::u16string& key) {
  OpenKey open;
  DWORD subKeys = 0, values = 0;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, 0, &open.key) == ERROR_SUCCESS &&
         RegQueryInfoKeyW(open.key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                          &values, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
         subKeys == 0 && values == 0;
}

DWORD StoredValue::number() const {
  DWORD number = 0;
  if (type_ == REG_DWORD && bytes_.size() == sizeof number)
    std::memcpy(&number, bytes_.data(), sizeof number);
  return number;
}

std::u16string StoredValue::text() const {
  std::u16string text(bytes_.size() / sizeof(char16_t), u'\0');
  std::memcpy(text.data(), bytes_.data(), text.size() * sizeof(char16_t));
  while (!text.empty() && text.back() == u'\0') text.pop_back();
  return text;
}

std::vector<std::u16string> StoredValue::list() const {
  std::vector<std::u16string> texts;
  if (type_ != REG_MULTI_SZ) return texts;
  std::u16string all = text();
  for (size_t start = 0; start < all.size();) {
    size_t end = all.find(u'\0', start);
    if (end == std::u16string::npos) end = all.size();
    texts.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return texts;
}

}  // namespace handheld::detail
