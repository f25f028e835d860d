#include "LogFile.h"

#include <commdlg.h>

namespace {

const DWORD kFileNameChars = 256;

}  // namespace

HANDLE LogFile::handle = INVALID_HANDLE_VALUE;

void LogFile::Start(HWND owner, HINSTANCE instance) {
  WCHAR fileName[kFileNameChars] = TEXT("Quelmar.log");
  OPENFILENAME dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.hInstance = instance;
  dialog.lpstrFilter = TEXT("Sirf Log File\0*.log\0");
  dialog.lpstrCustomFilter = nullptr;
  dialog.nFilterIndex = 0;
  dialog.lpstrFile = fileName;
  dialog.nMaxFile = kFileNameChars;
  dialog.lpstrFileTitle = nullptr;
  dialog.lpstrInitialDir = TEXT("//My Documents");
  dialog.lpstrTitle = TEXT("Save Sirf Log File");
  dialog.Flags = OFN_OVERWRITEPROMPT;
  dialog.lpstrDefExt = TEXT("log");
  if (!GetSaveFileName(&dialog)) return;

  Stop();
  handle = CreateFile(fileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    MessageBox(owner, TEXT("Log File Open Failed"), TEXT(""), MB_OK);
}

void LogFile::Stop() {
  if (!IsOpen()) return;
  CloseHandle(handle);
  handle = INVALID_HANDLE_VALUE;
}

void LogFile::Append(const char* bytes, WORD length) {
  if (!IsOpen()) return;
  DWORD written = 0;
  WriteFile(handle, bytes, length, &written, nullptr);
}

void LogFile::Flush() {
  if (IsOpen()) FlushFileBuffers(handle);
}
