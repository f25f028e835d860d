#include "InputRouter.h"

#include <algorithm>

#include "Rects.h"
#include "ScreenLayout.h"
#include "win/messages.h"

namespace handheld::detail {
namespace {

constexpr LONG kKeyUpFlags = static_cast<LONG>(0xC0000001u);
constexpr LONG kAltDownFlag = 1L << 29;

}  // namespace

std::shared_ptr<Window> InputRouter::Route(const InputEvent& event, MSG* msg) {
  const POINT point{event.x, event.y};
  std::shared_ptr<Window> target;
  switch (event.kind) {
    case InputEvent::Kind::kTapDown:
      target = TapDown(point, msg);
      break;
    case InputEvent::Kind::kTapMove:
      target = tree_.Find(tree_.Capture() ? tree_.Capture() : WindowAt(point));
      msg->message = WM_MOUSEMOVE;
      break;
    case InputEvent::Kind::kTapUp:
      target = tree_.Find(tree_.Capture() ? tree_.Capture() : WindowAt(point));
      tree_.SetCapture(nullptr);
      msg->message = WM_LBUTTONUP;
      break;
    case InputEvent::Kind::kKeyDown:
    case InputEvent::Kind::kKeyUp:
      target = Key(event, msg);
      break;
    case InputEvent::Kind::kClose:
      target = tree_.Find(tree_.MainWindow());
      msg->message = WM_CLOSE;
      break;
  }
  if (target && (msg->message == WM_LBUTTONDOWN || msg->message == WM_LBUTTONUP ||
                 msg->message == WM_MOUSEMOVE)) {
    msg->wParam = msg->message == WM_LBUTTONUP ? 0 : 1;  // MK_LBUTTON
    msg->lParam = MAKELPARAM(event.x - target->client.left, event.y - target->client.top);
  }
  return target;
}

std::shared_ptr<Window> InputRouter::TapDown(POINT point, MSG* msg) {
  std::shared_ptr<Window> target;
  if (TopBarTap(point, &target, msg)) return target;
  if ((target = PopupClosedBy(point))) {
    msg->message = WM_CLOSE;
    return target;
  }
  target = tree_.Find(tree_.Capture() ? tree_.Capture() : WindowAt(point));
  if (target) tree_.SetCapture(target->handle);  // the tap's own capture until it ends
  msg->message = WM_LBUTTONDOWN;
  return target;
}

bool InputRouter::TopBarTap(POINT point, std::shared_ptr<Window>* target, MSG* msg) const {
  if (!Rects::Contains(ScreenLayout::kTopBar, point)) return false;
  if (!clipping_.TopBarAbove() &&
      clipping_.Uncovered(RECT{point.x, point.y, point.x + 1, point.y + 1}).empty())
    return false;  // a window covers the bar there
  auto active = tree_.Find(tree_.Active());
  if (active && (active->exStyle & WS_EX_CAPTIONOKBTN) &&
      Rects::Contains(ScreenLayout::kOkButton, point)) {
    *target = active;
    *msg = MSG{active->handle, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0, 0, {}};
  }
  return true;
}

std::shared_ptr<Window> InputRouter::PopupClosedBy(POINT point) const {
  std::shared_ptr<Window> closed;
  for (HWND top : tree_.TopLevels()) {
    auto w = tree_.Find(top);
    if (!w || !w->visible() || w->windowClass->role != WindowRole::kMenuPopup) continue;
    auto bar = tree_.Find(w->owner);
    if (Rects::Contains(w->rect, point) || (bar && Rects::Contains(bar->rect, point))) continue;
    closed = w;
  }
  return closed;
}

std::shared_ptr<Window> InputRouter::Key(const InputEvent& event, MSG* msg) {
  shiftDown_ = event.shift;
  controlDown_ = event.control;
  altDown_ = event.alt;
  auto focus = tree_.Find(tree_.Focus());
  auto target = focus && tree_.Root(tree_.Focus()) == tree_.Active() ? focus
                                                                     : tree_.Find(tree_.Active());
  if (!target) target = tree_.Find(tree_.MainWindow());
  const bool down = event.kind == InputEvent::Kind::kKeyDown;
  const bool sys = event.alt && event.virtualKey != VK_MENU;
  msg->message = down ? (sys ? WM_SYSKEYDOWN : WM_KEYDOWN) : (sys ? WM_SYSKEYUP : WM_KEYUP);
  msg->wParam = event.virtualKey;
  msg->lParam = (down ? 1 : kKeyUpFlags) | (event.alt ? kAltDownFlag : 0);
  if (target && down && event.character) {
    typed_.push_back(Typed{target->handle, event.virtualKey, event.character});
    if (typed_.size() > 64) typed_.pop_front();  // nobody translates them
  }
  return target;
}

HWND InputRouter::WindowAt(POINT point) const {
  const std::vector<HWND>& tops = tree_.TopLevels();
  for (auto it = tops.rbegin(); it != tops.rend(); ++it) {
    auto w = tree_.Find(*it);
    if (!w || !w->visible() || w->destroyed || !Rects::Contains(w->rect, point)) continue;
    if (!w->enabled()) return nullptr;  // under a modal dialog: the tap goes nowhere
    for (bool deeper = true; deeper;) {
      deeper = false;
      for (auto c = w->children.rbegin(); c != w->children.rend(); ++c) {
        auto child = tree_.Find(*c);
        if (child && child->visible() && child->enabled() && Rects::Contains(child->rect, point)) {
          w = child;
          deeper = true;
          break;
        }
      }
    }
    return w->handle;
  }
  return nullptr;
}

SHORT InputRouter::KeyState(int virtualKey) const {
  bool down = false;
  switch (virtualKey) {
    case VK_SHIFT: down = shiftDown_; break;
    case VK_CONTROL: down = controlDown_; break;
    case VK_MENU: down = altDown_; break;
    default: break;
  }
  return down ? static_cast<SHORT>(0x8000) : 0;
}

bool InputRouter::TakeCharacter(const MSG& msg, WCHAR* character) {
  for (auto it = typed_.begin(); it != typed_.end(); ++it) {
    if (it->hwnd != msg.hwnd || it->virtualKey != msg.wParam) continue;
    *character = it->character;
    typed_.erase(it);
    return true;
  }
  return false;
}

void InputRouter::Forget(HWND hwnd) {
  typed_.erase(std::remove_if(typed_.begin(), typed_.end(),
                              [&](const Typed& t) { return t.hwnd == hwnd; }),
               typed_.end());
}

}  // namespace handheld::detail
