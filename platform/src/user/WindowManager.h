// The process's windows on its one screen: classes, the tree of windows and
// their z-order, activation, focus and capture, what needs painting and
// where each window may draw, the screen's own parts (the top bar with the
// active window's title and its "ok" button, the wait cursor) and the way
// taps and keys from the presenter reach windows.
//
// Screen layout: the top bar covers y 0..26 unless the active window asked
// to hide it (SHFullScreen); the work area, which CW_USEDEFAULT gives a
// top-level window, is y 26..294; a command bar lies in the band 294..320.
//
// Threads: one lock guards every window's fields and the manager's state.
// Window procedures are called without it; drawing (Surface::DrawingLock)
// is never done while holding it.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "InputQueue.h"
#include "ProcessLifetime.h"
#include "Status.h"
#include "Window.h"

namespace handheld::detail {

class WindowManager {
 public:
  static constexpr int kTopBarHeight = 26;
  static constexpr int kCommandBarHeight = 26;
  static constexpr int kCaptionHeight = 18;  // a dialog's own caption
  static constexpr RECT kWorkArea{0, kTopBarHeight, 240, 320 - kCommandBarHeight};
  static constexpr RECT kOkButton{204, 4, 236, 22};  // in the top bar
  static constexpr int kWaitCursorSize = 32;

  static WindowManager& Instance();
  // For reading and writing a window's fields.
  std::unique_lock<std::mutex> Guard() const { return std::unique_lock<std::mutex>(mutex_); }

  Status RegisterClass(const WNDCLASSW& wc);
  Status UnregisterClass(const std::u16string& name);

  std::shared_ptr<Window> Find(HWND hwnd) const;
  Status Create(DWORD exStyle, const std::u16string& className, LPCWSTR title, DWORD style, int x,
                int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                LPVOID param, HWND* created);
  Status Destroy(HWND hwnd);

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

  // Under mutex_.
  std::shared_ptr<Window> FindLocked(HWND hwnd) const;
  std::shared_ptr<WindowClass> FindClassLocked(const std::u16string& name) const;
  bool ShownLocked(const Window& window) const;  // it and its ancestors visible
  HWND RootLocked(HWND hwnd) const;
  HWND MainWindowLocked() const;
  // The top bar lies above every window, or beneath them all while the
  // active window asked for the full screen; either way it shows, and takes
  // taps, where no window covers it.
  bool TopBarAboveLocked() const;
  std::vector<RECT> UncoveredLocked(const RECT& rect) const;  // by no top-level window
  std::vector<RECT> VisibleLocked(const Window& window, const RECT& area) const;
  HWND WindowAtLocked(POINT point) const;
  void InvalidateLocked(Window& window, const RECT* rect, bool erase);
  // Everything beneath `rect` (screen) is drawn again.
  void ExposeLocked(const RECT& rect, std::vector<RECT>* desktop);
  void MoveLocked(Window& window, LONG dx, LONG dy);
  void ListDescendants(HWND hwnd, std::vector<std::shared_ptr<Window>>* out) const;

  void Expose(const RECT& rect);
  void RemoveFromTree(const std::shared_ptr<Window>& window);

  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<WindowClass>> classes_;
  std::vector<HWND> topLevels_;  // z-order, the last on top
  HWND active_ = nullptr;
  HWND focus_ = nullptr;
  HWND capture_ = nullptr;
  bool waitCursor_ = false;
  bool shiftDown_ = false;
  bool controlDown_ = false;
  bool altDown_ = false;
  struct Typed {
    HWND hwnd;
    UINT virtualKey;
    WCHAR character;
  };
  std::deque<Typed> typed_;
};

}  // namespace handheld::detail
