// The command bar: the menu bar along the bottom of the screen (the band
// below the work area), with a close button at its right end.
#pragma once

#include "windows.h"

#pragma GCC visibility push(default)

#define CMDBAR_HELP 0x0001u
#define CMDBAR_OK 0x0002u

// A command bar owned by `parent`: tapping a popup's title opens the popup,
// tapping an item posts WM_COMMAND (id, 0) to `parent`, and the close
// button posts WM_CLOSE to it (CMDBAR_OK adds an "ok" button: WM_COMMAND
// IDOK). It goes when `parent` is destroyed, if not before.
HWND CommandBar_Create(HINSTANCE instance, HWND parent, int id);
// The menu resource `menuId` of `instance` as the bar's menu bar, its
// popups' titles laid out from the left.
BOOL CommandBar_InsertMenubar(HWND commandBar, HINSTANCE instance, WORD menuId, WORD button);
BOOL CommandBar_AddAdornments(HWND commandBar, DWORD flags, DWORD reserved);
BOOL CommandBar_Show(HWND commandBar, BOOL show);
void CommandBar_Destroy(HWND commandBar);
int CommandBar_Height(HWND commandBar);

#pragma GCC visibility pop
