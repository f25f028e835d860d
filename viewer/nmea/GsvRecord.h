#pragma once

#include <windows.h>

#include "SatelliteRow.h"

// Satellites in view, from "GPGSV"; each message fills four of the rows.
struct GsvRecord {
  WORD count;
  DWORD tick;
  BYTE inView;
  SatelliteRow channels[12];
};
