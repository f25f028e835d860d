// Test support: driver entries under HKEY_LOCAL_MACHINE\Drivers\Active, as
// the device manager lists them, in the hive of the current device folder.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace testsupport {

inline void SetString(HKEY key, const char16_t* name, const std::u16string& text) {
  ASSERT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * sizeof(char16_t))),
            ERROR_SUCCESS);
}

// Creates `path` under HKEY_LOCAL_MACHINE with the values "Key", "PnpId"
// and "Name"; a null value is left out.
inline void CreateDriverKey(const std::u16string& path, const char16_t* key = nullptr,
                            const char16_t* pnpId = nullptr, const char16_t* name = nullptr) {
  HKEY h = NULL;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, NULL, 0, 0, NULL, &h, &disposition),
            ERROR_SUCCESS);
  if (key) SetString(h, u"Key", key);
  if (pnpId) SetString(h, u"PnpId", pnpId);
  if (name) SetString(h, u"Name", name);
  RegCloseKey(h);
}

// Lists one loaded driver as Drivers\Active\<entry>.
inline void AddActive(const std::u16string& entry, const char16_t* key, const char16_t* pnpId,
                      const char16_t* name) {
  CreateDriverKey(u"Drivers\\Active\\" + entry, key, pnpId, name);
}

}  // namespace testsupport
