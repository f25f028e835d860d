#pragma once

#include <windows.h>

// Recommended minimum data, from "GPRMC". Texts are kept as received.
struct RmcRecord {
  WORD count;
  DWORD tick;
  char utcTime[15];
  char status;  // 'A' valid, 'V' warning
  char latitude[12];   // ddmm.mmmm
  char latHemisphere;  // 'N' or 'S'
  char longitude[12];  // dddmm.mmmm
  char lonHemisphere;  // 'E' or 'W'
  char speed[10];      // knots
  char course[10];     // degrees
  char date[10];       // ddmmyy
  char magVariation[10];
  char magVariationDir;
};
