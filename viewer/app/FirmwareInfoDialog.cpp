#include "FirmwareInfoDialog.h"

#include "ActiveDrivers.h"

namespace {

const WCHAR kDovrinKey[] = TEXT("Drivers\\Tessiv\\0100\\0001");
const WCHAR kZulvoKey[] = TEXT("Drivers\\Tessiv\\0100\\0010");

bool KeyExists(LPCWSTR path) {
  HKEY key = NULL;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

// Names the loaded driver if it is one the viewer knows.
bool NameDriver(HKEY entry, LPCWSTR keyText, void* context) {
  LPWSTR text = static_cast<LPWSTR>(context);
  if (wcsstr(keyText, kZulvoKey) != nullptr) {
    lstrcpy(text, TEXT("Zulvo (0x0010)"));
    return true;
  }
  if (wcsstr(keyText, kDovrinKey) != nullptr) {
    lstrcpy(text, TEXT("Dovrin (0x0001)"));
    return true;
  }
  WCHAR pnpId[ActiveDrivers::kValueChars];
  if (ActiveDrivers::ReadText(entry, TEXT("PnpId"), pnpId, ActiveDrivers::kValueBytes) &&
      wcsstr(pnpId, TEXT("DOVRIN")) != nullptr) {
    lstrcpy(text, TEXT("CF GPS"));
    return true;
  }
  return false;
}

}  // namespace

void FirmwareInfoDialog::InstalledDriversText(LPWSTR text) {
  text[0] = 0;
  int installed = 0;
  if (KeyExists(kDovrinKey)) {
    lstrcat(text, TEXT("Dovrin(0x0001)"));
    ++installed;
  }
  if (KeyExists(kZulvoKey)) {
    if (installed > 0) lstrcat(text, TEXT(", "));
    lstrcat(text, TEXT("Zulvo(0x0010)"));
    ++installed;
  }
  if (installed == 0) lstrcpy(text, TEXT("None"));
}

BOOL FirmwareInfoDialog::ActiveDriverText(LPWSTR text) {
  lstrcpy(text, TEXT("None"));
  return ActiveDrivers::Walk(NameDriver, text) ? TRUE : FALSE;
}
