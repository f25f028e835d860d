#pragma once

#include <windows.h>

#include "GsaRecord.h"
#include "GsvRecord.h"
#include "RmcRecord.h"

// What the status page draws: the main window's copies of the receiver
// records, taken on the poll, and the three information lines filled once
// at start-up. UI thread only.
struct DisplaySnapshot {
  static const int kTextChars = 100;  // terminator included

  GsaRecord gsa;
  GsvRecord gsv;
  RmcRecord rmc;
  WCHAR installedDrivers[kTextChars];
  WCHAR activeDriver[kTextChars];
  WCHAR swVersion[kTextChars];
};
