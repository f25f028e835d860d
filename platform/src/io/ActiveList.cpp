#include "ActiveList.h"

#include <algorithm>
#include <cstdio>

#include "NameFold.h"
#include "handheld.h"

namespace handheld::detail {
namespace {

constexpr const char16_t* kActiveKey = u"Drivers\\Active";

}  // namespace

ActiveList::Value ActiveList::Value::Text(std::u16string name, const std::u16string& text) {
  const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
  return {std::move(name), REG_SZ,
          std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(char16_t))};
}

ActiveList::Value ActiveList::Value::Number(std::u16string name, DWORD number) {
  const BYTE* bytes = reinterpret_cast<const BYTE*>(&number);
  return {std::move(name), REG_DWORD, std::vector<BYTE>(bytes, bytes + sizeof number)};
}

bool ActiveList::ReadText(HKEY key, LPCWSTR value, std::u16string* text) {
  std::vector<WCHAR> buffer(512);
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD type = REG_NONE;
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(WCHAR));
    LONG rc = RegQueryValueExW(key, value, nullptr, &type,
                               reinterpret_cast<LPBYTE>(buffer.data()), &bytes);
    if (rc == ERROR_MORE_DATA && bytes < (1u << 20)) {
      buffer.resize(bytes / sizeof(WCHAR) + 1);
      continue;
    }
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    size_t chars = std::min<size_t>(bytes / sizeof(WCHAR), buffer.size());
    text->assign(buffer.data(), chars);
    size_t nul = text->find(u'\0');
    if (nul != std::u16string::npos) text->resize(nul);
    return true;
  }
  return false;
}

Status ActiveList::Add(const std::vector<Value>& values, std::u16string* record) {
  record->clear();
  HKEY active = nullptr;
  DWORD disposition = 0;
  LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kActiveKey, 0, nullptr, 0, 0, nullptr, &active,
                            &disposition);
  if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
  Status status = ERROR_TOO_MANY_OPEN_FILES;
  for (int number = 1; number < 10000000; ++number) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", number);
    std::u16string name = FromUtf8(text);
    HKEY entry = nullptr;
    rc = RegCreateKeyExW(active, name.c_str(), 0, nullptr, 0, 0, nullptr, &entry, &disposition);
    if (rc != ERROR_SUCCESS) {
      status = static_cast<DWORD>(rc);
      break;
    }
    if (disposition != REG_CREATED_NEW_KEY) {
      RegCloseKey(entry);
      continue;
    }
    for (const Value& value : values) {
      rc = RegSetValueExW(entry, value.name.c_str(), 0, value.type, value.data.data(),
                          static_cast<DWORD>(value.data.size()));
      if (rc != ERROR_SUCCESS) break;
    }
    RegCloseKey(entry);
    if (rc == ERROR_SUCCESS) {
      *record = name;
      status = Status::Ok();
    } else {
      RegDeleteKeyW(active, name.c_str());
      status = static_cast<DWORD>(rc);
    }
    break;
  }
  RegCloseKey(active);
  return status;
}

void ActiveList::Remove(const std::u16string& record) {
  HKEY active = nullptr;
  if (record.empty() ||
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, kActiveKey, 0, 0, &active) != ERROR_SUCCESS)
    return;
  RegDeleteKeyW(active, record.c_str());
  RegCloseKey(active);
}

bool ActiveList::FindByName(const std::u16string& deviceName, std::u16string* driverKey) {
  for (const ActiveDriver& record : Records())
    if (!record.key.empty() && NameFold::Equal(record.name, deviceName)) {
      *driverKey = record.key;
      return true;
    }
  return false;
}

std::vector<ActiveDriver> ActiveList::Records() {
  std::vector<ActiveDriver> records;
  HKEY active = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kActiveKey, 0, 0, &active) != ERROR_SUCCESS) return records;
  for (DWORD index = 0;; ++index) {
    WCHAR subName[256];
    DWORD chars = 256;
    const LONG rc =
        RegEnumKeyExW(active, index, subName, &chars, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc != ERROR_SUCCESS) break;
    HKEY entry = nullptr;
    if (RegOpenKeyExW(active, subName, 0, 0, &entry) != ERROR_SUCCESS) continue;
    ActiveDriver record;
    record.subkey = subName;
    ReadText(entry, u"Key", &record.key);
    ReadText(entry, u"Name", &record.name);
    for (auto [name, value] :
         {std::pair{u"Hnd", &record.hnd}, std::pair{u"ClientInfo", &record.clientInfo}}) {
      DWORD type = REG_NONE, bytes = sizeof *value;
      if (RegQueryValueExW(entry, name, nullptr, &type, reinterpret_cast<LPBYTE>(value), &bytes) !=
              ERROR_SUCCESS ||
          type != REG_DWORD || bytes != sizeof *value)
        *value = 0;
    }
    RegCloseKey(entry);
    records.push_back(std::move(record));
  }
  RegCloseKey(active);
  return records;
}

}  // namespace handheld::detail
