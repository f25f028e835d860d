#include "WindowManager.h"

#include <algorithm>
#include <utility>

#include "Event.h"
#include "ProcessLifetime.h"
#include "Rects.h"
#include "RemoteCommands.h"
#include "ScreenLayout.h"
#include "Thread.h"
#include "Trace.h"
#include "WindowFrames.h"
#include "handheld.h"
#include "win/core.h"
#include "win/messages.h"

namespace handheld::detail {

WindowManager& WindowManager::Instance() { return ProcessLifetime<WindowManager>::Get(); }

WindowManager::WindowManager() {
  MessageQueue::SetWindowHooks(MessageQueue::WindowHooks{
      [](HWND hwnd) -> std::shared_ptr<MessageQueue> {
        auto window = Instance().Find(hwnd);
        return window ? window->queue : nullptr;
      },
      [](const MSG& msg) { return Instance().Dispatch(msg); }});
  InputQueue::SetListener([] { Instance().RouteInput(); });
}

// ---- classes ----

Status WindowManager::RegisterClass(const WNDCLASSW& wc, WindowRole role) {
  std::lock_guard<std::mutex> lock(mutex_);
  return tree_.AddClass(wc, role);
}

Status WindowManager::UnregisterClass(const std::u16string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  return tree_.RemoveClass(name);
}

// ---- windows ----

std::shared_ptr<Window> WindowManager::Find(HWND hwnd) const { return WindowTree::Find(hwnd); }

void WindowManager::Place(Window& window, const Window* parent, int x, int y, int width,
                          int height) const {
  // Children inside the parent's client area, top-level windows on the
  // screen, CW_USEDEFAULT meaning the work area.
  const bool child = parent != nullptr;
  const RECT& work = ScreenLayout::kWorkArea;
  const POINT origin = child ? POINT{parent->client.left, parent->client.top} : POINT{0, 0};
  if (x == CW_USEDEFAULT) {
    x = child ? 0 : work.left;
    y = child ? 0 : work.top;
  }
  if (width == CW_USEDEFAULT) {
    width = child ? 0 : work.right - work.left;
    height = child ? 0 : work.bottom - work.top;
  }
  window.rect = RECT{origin.x + x, origin.y + y, origin.x + x + std::max(width, 0),
                     origin.y + y + std::max(height, 0)};
  window.client = window.rect;
  if (child) return;
  const DWORD style = window.style;
  if ((style & WS_CAPTION) == WS_CAPTION) window.client.top += ScreenLayout::kCaptionHeight;
  if (style & (WS_BORDER | WS_DLGFRAME)) {
    window.client.left += 1;
    window.client.right -= 1;
    window.client.bottom -= 1;
    if ((style & WS_CAPTION) != WS_CAPTION) window.client.top += 1;
  }
}

Status WindowManager::Create(DWORD exStyle, const std::u16string& className, LPCWSTR title,
                             DWORD style, int x, int y, int width, int height, HWND parent,
                             HMENU menu, HINSTANCE instance, LPVOID param, HWND* created) {
  *created = nullptr;
  auto window = std::make_shared<Window>();
  std::shared_ptr<Window> parentWindow;
  const bool child = (style & WS_CHILD) != 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    window->windowClass = tree_.FindClass(className);
    if (!window->windowClass) return ERROR_CANNOT_FIND_WND_CLASS;
    if (parent) {
      parentWindow = tree_.Find(parent);
      if (!parentWindow) return ERROR_INVALID_WINDOW_HANDLE;
    } else if (child) {
      return ERROR_INVALID_PARAMETER;  // a child needs its parent
    }
  }
  window->proc = window->windowClass->proc;
  window->threadId = GetCurrentThreadId();
  window->queue = MessageQueue::Current();
  window->style = style & ~WS_VISIBLE;  // shown once WM_CREATE has returned
  window->exStyle = exStyle;
  window->id = child ? reinterpret_cast<UINT_PTR>(menu) : 0;
  window->instance = instance;
  window->text = title ? title : u"";
  {
    std::lock_guard<std::mutex> lock(mutex_);  // for the parent's client area
    Place(*window, child ? parentWindow.get() : nullptr, x, y, width, height);
  }
  window->handle = HandleTable::Add<HWND>(HandleKind::kWindow, window);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tree_.Insert(window, child ? parentWindow.get() : nullptr, parent);
  }
  if (Trace::On(TraceChannel::kWindow))
    Trace::Write(TraceChannel::kWindow, "create %p class %s", static_cast<void*>(window->handle),
                 ToUtf8(className).c_str());

  CREATESTRUCTW cs{param,  instance, menu,  parent, height, width, y, x, static_cast<LONG>(style),
                   title,  className.c_str(), exStyle};
  if (Call(window, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    static_cast<void>(Destroy(window->handle, false));
    return Status::Ok();  // no window, no error of the system's
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    window->created = true;
  }
  if (!child) RemoteCommands::Start();  // the remote control of a program with windows
  if (style & WS_VISIBLE) Show(window, true, !child);
  *created = window->handle;
  return Status::Ok();
}

Status WindowManager::Destroy(HWND hwnd, bool notify) {
  auto window = Find(hwnd);
  if (!window) return ERROR_INVALID_WINDOW_HANDLE;
  std::vector<HWND> owned;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (window->destroyed) return Status::Ok();  // on its way already
    owned = tree_.Owned(hwnd);
  }
  // Windows it owns (its dialogs, its command bar) go first.
  for (HWND w : owned) static_cast<void>(Destroy(w));
  Show(window, false, true);

  // WM_DESTROY reaches the window first, then its children; the deepest
  // leave the tree first.
  std::vector<std::shared_ptr<Window>> all;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tree_.Descendants(hwnd, &all);
    for (const auto& w : all) w->destroyed = true;
  }
  if (notify)
    for (const auto& w : all) Send(w, WM_DESTROY, 0, 0);
  for (auto w = all.rbegin(); w != all.rend(); ++w) RemoveFromTree(*w);
  return Status::Ok();
}

void WindowManager::RemoveFromTree(const std::shared_ptr<Window>& window) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tree_.Remove(*window);
    router_.Forget(window->handle);
  }
  window->queue->KillTimers(window->handle);
  window->queue->SetPaintPending(window->handle, false);
  static_cast<void>(HandleTable::Remove(HandleKind::kWindow, window->handle));
}

// ---- messages ----

LRESULT WindowManager::Call(const std::shared_ptr<Window>& window, UINT message, WPARAM wParam,
                            LPARAM lParam) {
  WNDPROC proc;
  {
    std::lock_guard<std::mutex> lock(Instance().mutex_);
    proc = window->proc;
  }
  return proc ? proc(window->handle, message, wParam, lParam) : 0;
}

LRESULT WindowManager::Send(const std::shared_ptr<Window>& window, UINT message, WPARAM wParam,
                            LPARAM lParam) {
  if (window->threadId == GetCurrentThreadId()) return Call(window, message, wParam, lParam);
  std::shared_ptr<Thread> owner = Thread::FromId(window->threadId);
  if (!owner || owner->Finished()) return 0;
  // The owner runs it when it next looks at its queue; meanwhile this
  // thread runs what is sent to it, so two threads sending to each other
  // do not wait for ever.
  auto done = std::make_shared<Event>(true, false, u"");
  auto result = std::make_shared<LRESULT>(0);
  window->queue->PostSent([window, message, wParam, lParam, done, result] {
    *result = Call(window, message, wParam, lParam);
    done->Set();
  });
  std::shared_ptr<MessageQueue> mine = MessageQueue::Current();
  const std::vector<std::shared_ptr<Waitable>> objects{done, mine};
  for (;;) {
    mine->RunSent();
    mine->SetWaitFilter(MessageQueue::Filter{nullptr, 0, 0, QS_SENDMESSAGE});
    if (Waitable::Wait(objects, false, INFINITE) == WAIT_OBJECT_0) break;
  }
  return *result;
}

LRESULT WindowManager::Dispatch(const MSG& msg) {
  auto window = Find(msg.hwnd);
  if (!window) return 0;
  return Call(window, msg.message, msg.wParam, msg.lParam);
}

// ---- geometry and state ----

Status WindowManager::SetPosition(const std::shared_ptr<Window>& window, int x, int y, int width,
                                  int height, UINT flags) {
  RECT before;
  bool shown;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    before = window->rect;
    shown = tree_.Shown(*window);
    POINT origin{0, 0};
    if (auto parent = tree_.Find(window->parent)) origin = {parent->client.left, parent->client.top};
    if (!(flags & SWP_NOMOVE))
      tree_.Move(*window, origin.x + x - window->rect.left, origin.y + y - window->rect.top);
    if (!(flags & SWP_NOSIZE)) {
      const LONG dw = std::max(width, 0) - (window->rect.right - window->rect.left);
      const LONG dh = std::max(height, 0) - (window->rect.bottom - window->rect.top);
      window->rect.right += dw;
      window->rect.bottom += dh;
      window->client.right += dw;
      window->client.bottom += dh;
    }
    if (!(flags & SWP_NOZORDER) && !window->isChild()) tree_.Raise(window->handle);
  }
  if (flags & SWP_HIDEWINDOW) Show(window, false, true);
  if (shown && !Rects::Same(before, window->rect)) {
    Expose(before);
    Invalidate(window, nullptr, true);
  }
  if (flags & SWP_SHOWWINDOW) Show(window, true, !(flags & SWP_NOACTIVATE));
  return Status::Ok();
}

bool WindowManager::Show(const std::shared_ptr<Window>& window, bool show, bool activate) {
  bool was;
  RECT rect;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    was = window->visible();
    rect = window->rect;
    if (show) {
      window->style |= WS_VISIBLE;
      if (!was) {
        clipping_.Invalidate(*window, nullptr, true);
        if (!window->isChild()) tree_.Raise(window->handle);  // shown on top
      }
    } else {
      window->style &= ~WS_VISIBLE;
    }
  }
  if (show && !was && window->isChild()) return was;
  if (show && !was && activate) Activate(window->handle);
  if (!show && was) {
    Expose(rect);
    HWND next = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (tree_.Active() == window->handle && activate) {
        // The owner, else the top-most visible top-level window, takes over.
        auto owner = tree_.Find(window->owner);
        if (owner && owner->visible()) next = owner->handle;
        const std::vector<HWND>& tops = tree_.TopLevels();
        for (auto it = tops.rbegin(); !next && it != tops.rend(); ++it)
          if (auto w = tree_.Find(*it); w && w->visible() && *it != window->handle) next = *it;
        if (!next) tree_.SetActive(nullptr);
      }
    }
    if (next) Activate(next);
    RedrawTopBar();
  }
  return was;
}

void WindowManager::Activate(HWND hwnd) {
  HWND previous;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    previous = tree_.Active();
    if (previous == hwnd) return;
    tree_.SetActive(hwnd);
    if (tree_.Focus() && tree_.Root(tree_.Focus()) != hwnd) tree_.SetFocus(nullptr);
  }
  if (auto old = Find(previous))
    Send(old, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(hwnd));
  if (auto now = Find(hwnd)) Send(now, WM_ACTIVATE, WA_ACTIVE, reinterpret_cast<LPARAM>(previous));
  RedrawTopBar();
}

HWND WindowManager::Active() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tree_.Active();
}

HWND WindowManager::SetFocus(HWND hwnd) {
  HWND previous;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    previous = tree_.Focus();
    tree_.SetFocus(hwnd);
  }
  if (previous == hwnd) return previous;
  if (auto old = Find(previous)) {
    Send(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
  }
  if (auto now = Find(hwnd)) Send(now, WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
  return previous;
}

HWND WindowManager::Focus() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tree_.Focus();
}

HWND WindowManager::SetCapture(HWND hwnd) {
  std::lock_guard<std::mutex> lock(mutex_);
  const HWND previous = tree_.Capture();
  tree_.SetCapture(hwnd);
  return previous;
}

HWND WindowManager::Capture() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tree_.Capture();
}

HWND WindowManager::FindTopLevel(const std::u16string& className,
                                 const std::u16string* title) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tree_.FindTopLevel(className, title);
}

HWND WindowManager::MainWindow() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tree_.MainWindow();
}

std::vector<HWND> WindowManager::TopLevels() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tree_.TopLevels();
}

HWND WindowManager::TopMost(std::initializer_list<WindowRole> roles) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::vector<HWND>& tops = tree_.TopLevels();
  for (auto it = tops.rbegin(); it != tops.rend(); ++it) {
    auto w = tree_.Find(*it);
    if (w && w->visible() && !w->destroyed &&
        std::find(roles.begin(), roles.end(), w->windowClass->role) != roles.end())
      return *it;
  }
  return nullptr;
}

bool WindowManager::IsShown(const Window& window) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tree_.Shown(window);
}

// ---- painting ----

void WindowManager::Invalidate(const std::shared_ptr<Window>& window, const RECT* rect,
                               bool erase) {
  std::lock_guard<std::mutex> lock(mutex_);
  clipping_.Invalidate(*window, rect, erase);
}

void WindowManager::Validate(const std::shared_ptr<Window>& window, const RECT* rect) {
  std::lock_guard<std::mutex> lock(mutex_);
  clipping_.Validate(*window, rect);
}

RECT WindowManager::TakeUpdate(const std::shared_ptr<Window>& window, bool* erase) {
  std::lock_guard<std::mutex> lock(mutex_);
  return clipping_.TakeUpdate(*window, erase);
}

bool WindowManager::VisibleArea(HWND hwnd, POINT* origin, std::vector<RECT>* visible,
                                const RECT* limit) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto window = tree_.Find(hwnd);
  if (!window) return false;
  *origin = POINT{window->client.left, window->client.top};
  *visible = clipping_.Visible(
      *window, limit ? Rects::Offset(*limit, origin->x, origin->y) : window->client);
  return true;
}

void WindowManager::Expose(const RECT& rect) {
  std::vector<RECT> desktop;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    desktop = clipping_.Expose(rect);
  }
  WindowFrames::FillDesktop(desktop);
  // Frames of dialogs beneath.
  for (HWND top : TopLevels())
    if (auto w = Find(top)) PaintFrame(w);
  if (!Rects::Empty(Rects::Intersect(rect, ScreenLayout::kTopBar))) RedrawTopBar();
}

void WindowManager::PaintFrame(const std::shared_ptr<Window>& window) {
  WindowFrames::Frame frame;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (window->isChild() || !(window->style & (WS_BORDER | WS_DLGFRAME))) return;
    frame.rect = window->rect;
    frame.client = window->client;
    frame.caption = window->text;
    frame.hasCaption = (window->style & WS_CAPTION) == WS_CAPTION;
    frame.shown = clipping_.Visible(*window, frame.rect);
    Rects::Subtract(&frame.shown, frame.client);
  }
  WindowFrames::DrawFrame(std::move(frame));
}

// ---- screen parts ----

void WindowManager::SetHideTopBar(const std::shared_ptr<Window>& window, bool hide) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    window->hideTopBar = hide;
  }
  RedrawTopBar();
}

void WindowManager::RedrawTopBar() {
  WindowFrames::TopBar bar{u"", false, {}};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto active = tree_.Find(tree_.Active())) {
      bar.title = active->text;
      bar.okButton = (active->exStyle & WS_EX_CAPTIONOKBTN) != 0;
    }
    if (clipping_.TopBarAbove()) {
      bar.shown.assign(1, ScreenLayout::kTopBar);
    } else {  // beneath the windows: the parts none covers
      static_cast<void>(clipping_.Expose(ScreenLayout::kTopBar));
      bar.shown = clipping_.Uncovered(ScreenLayout::kTopBar);
    }
  }
  WindowFrames::DrawTopBar(std::move(bar));
}

bool WindowManager::WaitCursorShown() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return clipping_.WaitCursorShown();
}

void WindowManager::SetWaitCursor(bool shown) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (clipping_.WaitCursorShown() == shown) return;
    clipping_.SetWaitCursor(shown);
  }
  if (shown)
    WindowFrames::DrawWaitCursor();
  else
    Expose(ScreenLayout::kWaitCursor);
}

// ---- input ----

SHORT WindowManager::KeyState(int virtualKey) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return router_.KeyState(virtualKey);
}

bool WindowManager::TakeCharacter(const MSG& msg, WCHAR* character) {
  std::lock_guard<std::mutex> lock(mutex_);
  return router_.TakeCharacter(msg, character);
}

void WindowManager::RouteInput() {
  InputEvent event;
  while (InputQueue::Take(&event)) RouteEvent(event);
}

void WindowManager::RouteEvent(const InputEvent& event) {
  std::shared_ptr<Window> target;
  MSG msg{};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    target = router_.Route(event, &msg);
  }
  if (!target) return;
  msg.hwnd = target->handle;
  msg.time = GetTickCount();
  msg.pt = POINT{event.x, event.y};
  target->queue->Post(msg);
}

}  // namespace handheld::detail
