// The real common controls, and the handheld's command bar, which desktop
// Windows does not have: here it is the window's menu bar.
#pragma once

#include_next <commctrl.h>

#define CMDBAR_HELP 0x0001
#define CMDBAR_OK 0x0002

// A hidden child window of `parent` that stands for the bar.
HWND WINAPI CommandBar_Create(HINSTANCE instance, HWND parent, int id);
// Menu `menuId` of `instance` becomes the parent's menu bar.
BOOL WINAPI CommandBar_InsertMenubar(HWND commandBar, HINSTANCE instance, WORD menuId,
                                     WORD button);
// The caption's own buttons stand for the adornments: nothing to add.
BOOL WINAPI CommandBar_AddAdornments(HWND commandBar, DWORD flags, DWORD reserved);
// Shows or hides the parent's menu bar.
BOOL WINAPI CommandBar_Show(HWND commandBar, BOOL show);
// Takes the menu bar away and destroys the bar's window.
void WINAPI CommandBar_Destroy(HWND commandBar);
// The menu bar is not part of the client area: 0.
int WINAPI CommandBar_Height(HWND commandBar);
