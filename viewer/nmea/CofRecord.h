#pragma once

#include <windows.h>

// From the receiver's "PXVRCOF" sentence.
struct CofRecord {
  WORD count;
  DWORD tick;
  LONG value;
};
