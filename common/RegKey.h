// One open registry key, owned: closed by Close or when the wrapper goes out
// of scope. Lives on the stack of the function that uses it.
//
// Every operation returns the registry's status: 0 (ERROR_SUCCESS) or the
// platform's error code. Names and texts are wide.
#pragma once

#include <windows.h>

class RegKey {
 public:
  RegKey();
  ~RegKey();
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  // Closes the key held, if any; 0 when none is held.
  LONG Close();
  // Opens `path` below `root`. Only when that succeeds is the key held so
  // far closed and the new one held (the result is then that close's
  // status); a failure keeps the old key and returns the failure.
  LONG Open(HKEY root, LPCWSTR path, REGSAM access);

  // The value's 4 bytes, whatever its stored type; a longer value fails.
  LONG ReadDword(LPCWSTR name, DWORD* value);
  // Up to `*bytes` bytes of the value, whatever its stored type; `*bytes`
  // receives the value's size.
  LONG ReadValue(LPCWSTR name, void* buffer, DWORD* bytes);
  LONG WriteDword(LPCWSTR name, DWORD value);
  // A REG_SZ value with its terminator.
  LONG WriteString(LPCWSTR name, LPCWSTR text);

 private:
  HKEY key;
};
