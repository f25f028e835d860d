// The process's windows on its one screen, as the window calls see them:
// creating and destroying windows, sending them messages, moving, showing
// and activating them, focus and capture, painting, the screen's own parts
// and the input from the presenter. The work is done by its parts: the
// tree of windows and their classes (WindowTree), where each window may
// draw and what needs drawing again (Clipping), the frames, the top bar
// and the wait cursor (WindowFrames) and the routing of taps and keys
// (InputRouter). ScreenLayout says where the screen's parts lie.
//
// Threads: one lock guards every window's fields and the parts' state.
// Window procedures are called without it; drawing (Surface::DrawingLock)
// is never done while holding it.
#pragma once

#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Clipping.h"
#include "InputQueue.h"
#include "InputRouter.h"
#include "ProcessLifetime.h"
#include "Status.h"
#include "Window.h"
#include "WindowTree.h"

namespace handheld::detail {

class WindowManager {
 public:
  static WindowManager& Instance();
  // For reading and writing a window's fields.
  std::unique_lock<std::mutex> Guard() const { return std::unique_lock<std::mutex>(mutex_); }

  // A program's classes are kPlain; the system's own say what they are.
  Status RegisterClass(const WNDCLASSW& wc, WindowRole role = WindowRole::kPlain);
  Status UnregisterClass(const std::u16string& name);

  std::shared_ptr<Window> Find(HWND hwnd) const;
  Status Create(DWORD exStyle, const std::u16string& className, LPCWSTR title, DWORD style, int x,
                int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                LPVOID param, HWND* created);
  // `notify`: WM_DESTROY to the window, then to each of its children as
  // they go; a window that WM_CREATE refused goes without it, never having
  // been made.
  Status Destroy(HWND hwnd, bool notify = true);

  LRESULT Send(const std::shared_ptr<Window>& window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Dispatch(const MSG& msg);
  static LRESULT Call(const std::shared_ptr<Window>& window, UINT message, WPARAM wParam,
                      LPARAM lParam);

  // Geometry. Positions of SetWindowPos are relative to the parent's
  // client area (the screen for top-level windows).
  Status SetPosition(const std::shared_ptr<Window>& window, int x, int y, int width, int height,
                     UINT flags);
  bool Show(const std::shared_ptr<Window>& window, bool show, bool activate);
  void Activate(HWND hwnd);
  HWND Active() const;
  bool IsShown(const Window& window) const;  // it and its ancestors visible
  HWND SetFocus(HWND hwnd);
  HWND Focus() const;
  HWND SetCapture(HWND hwnd);
  HWND Capture() const;
  // The top-level window a remote control names: the first listed of the
  // class (and title, if given), visible ones before hidden ones.
  HWND FindTopLevel(const std::u16string& className, const std::u16string* title) const;
  // The program's main window: the oldest top-level window without owner.
  HWND MainWindow() const;
  std::vector<HWND> TopLevels() const;
  // The visible top-level window nearest the top whose class has one of
  // `roles`; null when none.
  HWND TopMost(std::initializer_list<WindowRole> roles) const;

  // Painting; `rect` in client coordinates, null for the whole client area.
  void Invalidate(const std::shared_ptr<Window>& window, const RECT* rect, bool erase);
  void Validate(const std::shared_ptr<Window>& window, const RECT* rect);
  // Takes the window's update rectangle (client coordinates) and whether it
  // asked for erasing; empty when nothing was invalid.
  RECT TakeUpdate(const std::shared_ptr<Window>& window, bool* erase);
  // Where the window's client area may draw now: its origin on the screen
  // and the visible parts (screen coordinates), optionally limited to
  // `limit` (client coordinates).
  bool VisibleArea(HWND hwnd, POINT* origin, std::vector<RECT>* visible,
                   const RECT* limit = nullptr) const;
  // Draws a top-level window's frame and caption, when it has one.
  void PaintFrame(const std::shared_ptr<Window>& window);

  // Screen parts.
  void SetHideTopBar(const std::shared_ptr<Window>& window, bool hide);
  void SetWaitCursor(bool shown);
  bool WaitCursorShown() const;
  void RedrawTopBar();

  // Keys: the modifier state as the last key event left it, and the
  // characters typed with key-down messages for TranslateMessage.
  SHORT KeyState(int virtualKey) const;
  bool TakeCharacter(const MSG& msg, WCHAR* character);

  // Hands the presenter's events to the windows (posted to their threads).
  void RouteInput();
  void RouteEvent(const InputEvent& event);

 private:
  friend class ProcessLifetime<WindowManager>;
  WindowManager();

  // Where a new window goes (screen coordinates) and its client area.
  void Place(Window& window, const Window* parent, int x, int y, int width, int height) const;
  // Everything beneath `rect` (screen) is drawn again.
  void Expose(const RECT& rect);
  void RemoveFromTree(const std::shared_ptr<Window>& window);

  mutable std::mutex mutex_;
  WindowTree tree_;
  Clipping clipping_{tree_};
  InputRouter router_{tree_, clipping_};
};

}  // namespace handheld::detail
