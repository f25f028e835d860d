// A window and its class. The fields are the window manager's: every one
// is read and written under WindowManager's lock, except `handle`, `proc`
// owner (`threadId`, `queue`) and `windowClass`, which are fixed once the
// window is listed. Window procedures never run under that lock.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "HandleTable.h"
#include "MessageQueue.h"
#include "win/user.h"

namespace handheld::detail {

// What a window's class is to the window manager where that decides where
// a tap or a remote command goes; every other class (a program's, the
// controls', the command bar's) is kPlain. Fixed when the class is
// registered.
enum class WindowRole {
  kPlain,
  kDialog,      // a dialog box
  kMessageBox,  // a message box on the screen
  kMenuPopup,   // an open popup menu of the command bar
};

struct WindowClass {
  std::u16string name;
  WindowRole role = WindowRole::kPlain;
  UINT style = 0;
  WNDPROC proc = nullptr;
  HINSTANCE instance = nullptr;
  HICON icon = nullptr;
  HCURSOR cursor = nullptr;
  HBRUSH background = nullptr;
};

class Window : public HandleObject {
 public:
  HWND handle = nullptr;
  std::shared_ptr<WindowClass> windowClass;
  WNDPROC proc = nullptr;
  DWORD threadId = 0;
  std::shared_ptr<MessageQueue> queue;  // of the owner thread

  HWND parent = nullptr;          // child windows
  HWND owner = nullptr;           // owned top-level windows (dialogs, the command bar)
  std::vector<HWND> children;     // in z-order, the last on top
  DWORD style = 0;
  DWORD exStyle = 0;
  UINT_PTR id = 0;
  HINSTANCE instance = nullptr;
  std::u16string text;
  RECT rect{};    // the window, screen coordinates
  RECT client{};  // the client area, screen coordinates
  bool created = false;    // WM_CREATE has returned
  bool destroyed = false;  // WM_DESTROY has been sent

  // What needs painting, client coordinates.
  std::optional<RECT> update;
  bool erase = false;

  LONG userData = 0;
  HFONT font = nullptr;
  // Screen state of full-screen windows (SHFullScreen).
  bool hideTopBar = false;

  // Dialogs.
  DLGPROC dialogProc = nullptr;
  bool dialogEnded = false;
  INT_PTR dialogResult = 0;
  SIZE dialogBase{};  // dialog base units of its font

  // Controls.
  bool pressed = false;  // a push button held down
  HMENU menu = nullptr;  // the command bar's menu bar
  int openPopup = -1;    // the command bar's open popup

  bool visible() const { return (style & WS_VISIBLE) != 0; }
  bool enabled() const { return (style & WS_DISABLED) == 0; }
  bool isChild() const { return (style & WS_CHILD) != 0; }
};

}  // namespace handheld::detail
