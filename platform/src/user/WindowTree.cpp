#include "WindowTree.h"

#include <algorithm>

#include "Controls.h"
#include "HandleTable.h"
#include "NameFold.h"
#include "Rects.h"

namespace handheld::detail {
namespace {

bool SameName(const std::u16string& a, const std::u16string& b) {
  return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

void Erase(std::vector<HWND>* list, HWND hwnd) {
  list->erase(std::remove(list->begin(), list->end(), hwnd), list->end());
}

}  // namespace

WindowTree::WindowTree() {
  for (const Controls::SystemClass& system : Controls::Classes())
    static_cast<void>(AddClass(system.wc, system.role));
}

std::shared_ptr<WindowClass> WindowTree::FindClass(const std::u16string& name) const {
  for (const auto& cls : classes_)
    if (SameName(cls->name, name)) return cls;
  return nullptr;
}

Status WindowTree::AddClass(const WNDCLASSW& wc, WindowRole role) {
  if (!wc.lpszClassName || !*wc.lpszClassName || !wc.lpfnWndProc) return ERROR_INVALID_PARAMETER;
  if (FindClass(wc.lpszClassName)) return ERROR_CLASS_ALREADY_EXISTS;
  auto cls = std::make_shared<WindowClass>();
  cls->name = wc.lpszClassName;
  cls->role = role;
  cls->style = wc.style;
  cls->proc = wc.lpfnWndProc;
  cls->instance = wc.hInstance;
  cls->icon = wc.hIcon;
  cls->cursor = wc.hCursor;
  cls->background = wc.hbrBackground;
  classes_.push_back(cls);
  return Status::Ok();
}

Status WindowTree::RemoveClass(const std::u16string& name) {
  auto it = std::find_if(classes_.begin(), classes_.end(),
                         [&](const auto& cls) { return SameName(cls->name, name); });
  if (it == classes_.end()) return ERROR_CLASS_DOES_NOT_EXIST;
  classes_.erase(it);
  return Status::Ok();
}

std::shared_ptr<Window> WindowTree::Find(HWND hwnd) {
  return HandleTable::LookupAs<Window>(HandleKind::kWindow, hwnd);
}

void WindowTree::Insert(const std::shared_ptr<Window>& window, Window* parent, HWND owner) {
  if (parent) {
    parent->children.push_back(window->handle);
    window->parent = parent->handle;
  } else {
    window->owner = owner;
    topLevels_.push_back(window->handle);
  }
}

void WindowTree::Remove(const Window& window) {
  if (auto parent = Find(window.parent)) Erase(&parent->children, window.handle);
  Erase(&topLevels_, window.handle);
  if (focus_ == window.handle) focus_ = nullptr;
  if (capture_ == window.handle) capture_ = nullptr;
  if (active_ == window.handle) active_ = nullptr;
}

void WindowTree::Raise(HWND top) {
  Erase(&topLevels_, top);
  topLevels_.push_back(top);
}

void WindowTree::Move(Window& window, LONG dx, LONG dy) const {
  window.rect = Rects::Offset(window.rect, dx, dy);
  window.client = Rects::Offset(window.client, dx, dy);
  for (HWND child : window.children)
    if (auto c = Find(child)) Move(*c, dx, dy);
}

std::vector<HWND> WindowTree::Owned(HWND owner) const {
  std::vector<HWND> owned;
  for (HWND top : topLevels_)
    if (auto w = Find(top); w && w->owner == owner) owned.push_back(top);
  return owned;
}

void WindowTree::Descendants(HWND hwnd, std::vector<std::shared_ptr<Window>>* out) const {
  auto window = Find(hwnd);
  if (!window) return;
  out->push_back(window);
  for (HWND child : window->children) Descendants(child, out);
}

HWND WindowTree::FindTopLevel(const std::u16string& className,
                              const std::u16string* title) const {
  HWND hidden = nullptr;
  for (HWND top : topLevels_) {
    auto w = Find(top);
    if (!w || w->destroyed || !SameName(w->windowClass->name, className)) continue;
    if (title && w->text != *title) continue;
    if (w->visible()) return top;
    if (!hidden) hidden = top;
  }
  return hidden;
}

HWND WindowTree::MainWindow() const {
  for (HWND top : topLevels_)
    if (auto w = Find(top); w && !w->owner && !w->destroyed) return top;
  return nullptr;
}

HWND WindowTree::Root(HWND hwnd) const {
  auto w = Find(hwnd);
  while (w && w->parent) {
    auto parent = Find(w->parent);
    if (!parent) break;
    w = parent;
  }
  return w ? w->handle : nullptr;
}

bool WindowTree::Shown(const Window& window) const {
  const Window* w = &window;
  while (w) {
    if (!w->visible() || w->destroyed) return false;
    if (!w->parent) return true;
    auto parent = Find(w->parent);
    if (!parent) return false;
    w = parent.get();
  }
  return false;
}

}  // namespace handheld::detail
