#pragma once

#include <windows.h>

// Dilution of precision and satellites in use, from "GPGSA".
struct GsaRecord {
  WORD count;
  DWORD tick;
  char selectionMode;  // 'M' manual, 'A' automatic
  char fixMode;        // '1' no fix, '2' 2D, '3' 3D
  BYTE usedPrn[12];    // satellites used in the solution, 0 for an empty field
  char pdop[8];
  char hdop[8];
  char vdop[8];
};
