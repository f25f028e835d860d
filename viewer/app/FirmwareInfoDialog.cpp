#include "FirmwareInfoDialog.h"

#include "ActiveDrivers.h"
#include "FindReceiverPort.h"
#include "ReceiverVersionQuery.h"
#include "SerialSession.h"
#include "ViewerState.h"

namespace {

const WCHAR kDovrinKey[] = TEXT("Drivers\\Tessiv\\0100\\0001");
const WCHAR kZulvoKey[] = TEXT("Drivers\\Tessiv\\0100\\0010");
const WCHAR kNoReceiver[] = TEXT("COM1:");
const WCHAR kNoGps[] = TEXT("No GPS Attached");
// The port is looked for with room for 9 characters and the terminator.
const DWORD kPortBytes = 20;
const DWORD kBaudRate = 57600;

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

DIALOG_RESULT CALLBACK FirmwareInfoDialog::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      Place(dialog);
      FillLines(dialog);
      return TRUE;
    case WM_COMMAND: {
      const WORD id = LOWORD(wParam);
      if (id != IDOK && id != IDCANCEL) return FALSE;
      EndDialog(dialog, id);
      return TRUE;
    }
  }
  return FALSE;
}

void FirmwareInfoDialog::Place(HWND dialog) {
  RECT box;
  if (!GetWindowRect(dialog, &box)) return;
  RECT owner = {0, 0, 0, 0};
  GetClientRect(GetParent(dialog), &owner);
  int x = ((owner.right - owner.left) - (box.right - box.left)) / 2;
  int y = ((owner.bottom - owner.top) - (box.bottom - box.top)) / 2;
  if (x < 0) x = 0;
  if (y < 0) y = 0;
  SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void FirmwareInfoDialog::FillLines(HWND dialog) {
  HCURSOR previous = SetCursor(LoadCursor(nullptr, IDC_WAIT));
  WCHAR text[kTextChars];
  FindReceiverPort(text, kPortBytes);
  const bool attached = lstrcmp(text, kNoReceiver) != 0;
  if (!attached) lstrcpy(text, kNoGps);

  const SerialSession* session = ViewerState::session;
  WCHAR portLine[kTextChars];
  wsprintf(portLine, TEXT("%s (%d)"), text,
           static_cast<int>(session != nullptr ? session->BaudRate() : kBaudRate));
  SendDlgItemMessage(dialog, kPortLine, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(portLine));

  if (attached)
    ReadReceiverVersion(ViewerState::Readers(), text, kTextChars);
  else
    lstrcpy(text, kNoGps);
  SendDlgItemMessage(dialog, kVersionLine, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));

  ActiveDriverText(text);
  SendDlgItemMessage(dialog, kActiveDriverLine, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
  InstalledDriversText(text);
  SendDlgItemMessage(dialog, kInstalledDriversLine, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
  SetCursor(previous);
}
