#pragma once

#include <windows.h>

#include "QuelmarResources.h"

// The "Firmware Info" dialog and the two driver texts that the status page
// shows as well. UI thread only.
class FirmwareInfoDialog {
 public:
  // Size of the callers' text buffers, terminator included.
  static const int kTextChars = 100;

  // "Dovrin(0x0001)", "Zulvo(0x0010)", both joined by ", " in that order,
  // or "None": the sleeve client drivers whose keys are installed.
  static void InstalledDriversText(LPWSTR text);
  // "Zulvo (0x0010)", "Dovrin (0x0001)" or "CF GPS" for the first loaded
  // driver that is one of them, else "None" (and false).
  static BOOL ActiveDriverText(LPWSTR text);

  // Control ids of the dialog's template (the resource script's).
  static const int kPortLine = IDC_PORT_LINE;
  static const int kVersionLine = IDC_VERSION_LINE;
  static const int kActiveDriverLine = IDC_ACTIVE_DRIVER_LINE;
  static const int kInstalledDriversLine = IDC_INSTALLED_DRIVERS_LINE;

  // Centres the dialog over its owner's client area and fills the four
  // lines afresh (the version is read from the receiver again); OK and the
  // cancel command end it.
  static DIALOG_RESULT CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  FirmwareInfoDialog() = delete;

  static void Place(HWND dialog);
  static void FillLines(HWND dialog);
};
