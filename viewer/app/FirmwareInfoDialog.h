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

 private:
  FirmwareInfoDialog() = delete;
};
