// The save-file dialog.
#pragma once

#include "windows.h"

#pragma GCC visibility push(default)

typedef UINT_PTR(CALLBACK* LPOFNHOOKPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagOFNW {
  DWORD lStructSize;
  HWND hwndOwner;
  HINSTANCE hInstance;
  LPCWSTR lpstrFilter;  // pairs of description and pattern, ending with an empty text
  LPWSTR lpstrCustomFilter;
  DWORD nMaxCustFilter;
  DWORD nFilterIndex;  // 1-based; 0 takes the first pair
  LPWSTR lpstrFile;    // in: the name offered; out: the full path chosen
  DWORD nMaxFile;      // characters, the terminator included
  LPWSTR lpstrFileTitle;
  DWORD nMaxFileTitle;
  LPCWSTR lpstrInitialDir;
  LPCWSTR lpstrTitle;
  DWORD Flags;
  WORD nFileOffset;
  WORD nFileExtension;
  LPCWSTR lpstrDefExt;
  LPARAM lCustData;
  LPOFNHOOKPROC lpfnHook;
  LPCWSTR lpTemplateName;
} OPENFILENAMEW, *LPOPENFILENAMEW;
typedef OPENFILENAMEW OPENFILENAME;
typedef LPOPENFILENAMEW LPOPENFILENAME;

#define OFN_READONLY 0x00000001u
#define OFN_OVERWRITEPROMPT 0x00000002u
#define OFN_HIDEREADONLY 0x00000004u
#define OFN_PATHMUSTEXIST 0x00000800u

#define FNERR_INVALIDFILENAME 0x3002u
#define FNERR_BUFFERTOOSMALL 0x3003u

// Shows the save dialog on the screen: the name from lpstrFile in an edit
// field, the folder (lpstrInitialDir, "\My Documents" when none; '/' counts
// as '\'), the file type of the filter, Save and Cancel. Save puts the full
// path on the handheld ("\My Documents\Quelmar.log"; lpstrDefExt added to a
// name without extension) into lpstrFile and returns TRUE; with
// OFN_OVERWRITEPROMPT an existing file is only chosen after a Yes to the
// question whether to replace it. Cancel returns FALSE. Answered from a
// script ("save:<path>", IDCANCEL) when one is given; without a display
// the offered name is taken, as Enter would.
BOOL GetSaveFileNameW(LPOPENFILENAMEW ofn);
#define GetSaveFileName GetSaveFileNameW
DWORD CommDlgExtendedError();

#pragma GCC visibility pop
