#pragma once

#include <windows.h>

// Copies NUL-terminated narrow text into wide text, one character per byte
// (each byte taken as a signed char), and terminates it. At most
// `capacity` - 1 characters are copied; a capacity of 0 writes nothing.
void WidenAscii(WCHAR* destination, DWORD capacity, const char* source);

template <size_t N>
inline void WidenAscii(WCHAR (&destination)[N], const char* source) {
  WidenAscii(destination, static_cast<DWORD>(N), source);
}
