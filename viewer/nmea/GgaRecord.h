#pragma once

#include <windows.h>

// Fix data from "GPGGA": only the UTC time is kept.
struct GgaRecord {
  WORD count;    // bumped on every decoded sentence, wraps 65535 -> 0
  DWORD tick;    // GetTickCount() when decoding started
  LONG utcTime;  // hhmmss as a decimal number (fraction dropped)
};
