#include "WidenAscii.h"

void WidenAscii(WCHAR* destination, DWORD capacity, const char* source) {
  if (destination == nullptr || capacity == 0) return;
  DWORD i = 0;
  if (source != nullptr) {
    for (; i + 1 < capacity && source[i] != '\0'; ++i) {
      destination[i] = static_cast<WCHAR>(static_cast<signed char>(source[i]));
    }
  }
  destination[i] = 0;
}
