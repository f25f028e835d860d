// Dialogs: a template (DLGTEMPLATE and its items, in dialog units of the
// template's font) read into a description, the dialog window made from
// it, and the modal loop that runs until EndDialog.
//
// Dialog units: the base units are the font's average character width --
// the width of "A".."Z" "a".."z" divided by 26, rounded as Windows rounds it,
// (width / 26 + 1) / 2 -- and its cell height; x and widths are quarters of
// the width, y and heights eighths of the height, rounded to the nearest
// pixel.
#pragma once

#include <string>
#include <vector>

#include "Status.h"
#include "win/user.h"

namespace handheld::detail {

class DialogBox {
 public:
  struct Item {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    WORD id = 0;
    std::u16string className;
    std::u16string text;
  };
  struct Description {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::u16string caption;
    WORD pointSize = 0;  // 0: the system font
    std::u16string faceName;
    std::vector<Item> items;
  };

  // Reads a DLGTEMPLATE; ERROR_INVALID_PARAMETER for what cannot be one
  // (an extended template, more text than a template holds).
  static Status Read(const DLGTEMPLATE* dialogTemplate, Description* description);

  // Makes the dialog (hidden), its controls, and sends WM_INITDIALOG.
  static Status Create(const Description& description, HINSTANCE instance, HWND owner,
                       DLGPROC proc, LPARAM param, HWND* dialog);
  // Shows the dialog, disables its owner and runs the modal loop until
  // EndDialog (or WM_QUIT, which stays posted); then destroys it.
  static INT_PTR RunModal(HWND dialog, HWND owner);

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static SIZE BaseUnits(HFONT font);
};

}  // namespace handheld::detail
