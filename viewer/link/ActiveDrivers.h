#pragma once

#include <windows.h>

// The drivers the device manager lists under HKEY_LOCAL_MACHINE\Drivers\Active,
// as the viewer looks through them for its receiver.
class ActiveDrivers {
 public:
  // Longest "Key" and "PnpId" text read, in bytes; a longer value does not
  // read. Texts read hold kValueBytes / 2 + 1 characters.
  static const DWORD kValueBytes = 256;
  static const DWORD kValueChars = kValueBytes / sizeof(WCHAR) + 1;

  // Called with an entry's open key and its "Key" text; true ends the walk.
  typedef bool (*Visitor)(HKEY entry, LPCWSTR keyText, void* context);

  // Opens each entry in enumeration order and hands the ones whose "Key"
  // reads to `visit`, until it answers true. Returns whether it did; false
  // also when Drivers\Active does not open. Every key opened is closed.
  static bool Walk(Visitor visit, void* context);

  // Reads a text value of at most `limitBytes` bytes into `text`, which
  // holds limitBytes / 2 + 1 characters; the result is always terminated.
  static bool ReadText(HKEY key, LPCWSTR valueName, LPWSTR text, DWORD limitBytes);

 private:
  ActiveDrivers() = delete;
};
