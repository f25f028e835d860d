#pragma once

#include <windows.h>

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

  // Control ids of the dialog's template.
  static const int kPortLine = 1001;
  static const int kVersionLine = 1002;
  static const int kActiveDriverLine = 1003;
  static const int kInstalledDriversLine = 1004;

  // Centres the dialog over its owner's client area and fills the four
  // lines afresh (the version is read from the receiver again); OK and the
  // cancel command end it.
  static DIALOG_RESULT CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  FirmwareInfoDialog() = delete;

  static void Place(HWND dialog);
  static void FillLines(HWND dialog);
};
