// The process's windows as a tree: the registered classes, the top-level
// windows in z-order (the last on top), each with its children in their
// own z-order, and which window is active, has the focus and has the
// capture. Every call is made under WindowManager's lock; nothing here
// sends a message or draws.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Status.h"
#include "Window.h"

namespace handheld::detail {

class WindowTree {
 public:
  // With the system's own classes (the controls and the dialog).
  WindowTree();

  // Classes, their names compared without case.
  Status AddClass(const WNDCLASSW& wc, WindowRole role);
  Status RemoveClass(const std::u16string& name);
  std::shared_ptr<WindowClass> FindClass(const std::u16string& name) const;

  static std::shared_ptr<Window> Find(HWND hwnd);

  // Lists a new window: a child on top of its parent's children, a
  // top-level window (owned by `parent`, if any) on top of the others.
  void Insert(const std::shared_ptr<Window>& window, Window* parent, HWND owner);
  // Takes it out of the tree; it is no longer active, the focus or the
  // capture.
  void Remove(const Window& window);
  // Puts a top-level window on top of the others.
  void Raise(HWND top);
  // Moves it and its children by (dx, dy).
  void Move(Window& window, LONG dx, LONG dy) const;

  const std::vector<HWND>& TopLevels() const { return topLevels_; }
  // The top-level windows `owner` owns.
  std::vector<HWND> Owned(HWND owner) const;
  // The window and its descendants, each window before its children.
  void Descendants(HWND hwnd, std::vector<std::shared_ptr<Window>>* out) const;
  // The first listed top-level window of the class (and title, if given),
  // visible ones before hidden ones.
  HWND FindTopLevel(const std::u16string& className, const std::u16string* title) const;
  // The oldest top-level window without owner.
  HWND MainWindow() const;
  // The top-level window `hwnd` lies in.
  HWND Root(HWND hwnd) const;
  // It and its ancestors are visible and not destroyed.
  bool Shown(const Window& window) const;

  HWND Active() const { return active_; }
  void SetActive(HWND hwnd) { active_ = hwnd; }
  HWND Focus() const { return focus_; }
  void SetFocus(HWND hwnd) { focus_ = hwnd; }
  HWND Capture() const { return capture_; }
  void SetCapture(HWND hwnd) { capture_ = hwnd; }

 private:
  std::vector<std::shared_ptr<WindowClass>> classes_;
  std::vector<HWND> topLevels_;  // z-order, the last on top
  HWND active_ = nullptr;
  HWND focus_ = nullptr;
  HWND capture_ = nullptr;
};

}  // namespace handheld::detail
