#pragma once

#include <windows.h>

// The optional log of the raw sentences: every accepted sentence, byte for
// byte from "$" to CR LF, nothing else. UI thread only.
class LogFile {
 public:
  // Asks for a file name ("Quelmar.log" at first) in the save dialog and
  // creates that file empty. A log already open is closed first, so
  // nothing written to it is lost and its handle does not leak; cancelling
  // the dialog leaves everything as it was. A file that cannot be created
  // leaves no log open and says "Log File Open Failed".
  static void Start(HWND owner, HINSTANCE instance);
  // Closes the log, if one is open.
  static void Stop();
  static bool IsOpen() { return handle != INVALID_HANDLE_VALUE; }
  // Appends the bytes; a failed write is not reported and keeps the log.
  static void Append(const char* bytes, WORD length);
  // Hands what was appended to the disk, so that a program ended at once
  // afterwards has lost none of it.
  static void Flush();

 private:
  LogFile() = delete;

  static HANDLE handle;
};
