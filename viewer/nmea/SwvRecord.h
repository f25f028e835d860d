#pragma once

#include <windows.h>

// The receiver's software version, from "PXVRSWV".
struct SwvRecord {
  WORD count;
  DWORD tick;
  WORD number;
  char version[50];
};
