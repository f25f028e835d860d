#include "WindowManager.h"

#include <algorithm>
#include <utility>

#include "Controls.h"
#include "Event.h"
#include "NameFold.h"
#include "ProcessLifetime.h"
#include "RemoteCommands.h"
#include "Screen.h"
#include "Thread.h"
#include "Trace.h"
#include "WindowDC.h"
#include "handheld.h"
#include "win/core.h"
#include "win/messages.h"

namespace handheld::detail {
namespace {

constexpr RECT kScreen{0, 0, Screen::kWidth, Screen::kHeight};
constexpr RECT kTopBar{0, 0, Screen::kWidth, WindowManager::kTopBarHeight};
constexpr RECT kWaitCursor{(Screen::kWidth - WindowManager::kWaitCursorSize) / 2,
                           (Screen::kHeight - WindowManager::kWaitCursorSize) / 2,
                           (Screen::kWidth + WindowManager::kWaitCursorSize) / 2,
                           (Screen::kHeight + WindowManager::kWaitCursorSize) / 2};
constexpr LONG kKeyUpFlags = static_cast<LONG>(0xC0000001u);
constexpr LONG kAltDownFlag = 1L << 29;

bool Empty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }

RECT Intersect(const RECT& a, const RECT& b) {
  return RECT{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
              std::min(a.bottom, b.bottom)};
}

RECT Union(const RECT& a, const RECT& b) {
  if (Empty(a)) return b;
  if (Empty(b)) return a;
  return RECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
              std::max(a.bottom, b.bottom)};
}

RECT Offset(const RECT& r, LONG dx, LONG dy) {
  return RECT{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

bool Contains(const RECT& r, POINT p) {
  return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom;
}

// The parts of `region` (disjoint rectangles) outside `hole`.
void Subtract(std::vector<RECT>* region, const RECT& hole) {
  std::vector<RECT> out;
  for (const RECT& r : *region) {
    const RECT cut = Intersect(r, hole);
    if (Empty(cut)) {
      out.push_back(r);
      continue;
    }
    if (r.top < cut.top) out.push_back(RECT{r.left, r.top, r.right, cut.top});
    if (cut.bottom < r.bottom) out.push_back(RECT{r.left, cut.bottom, r.right, r.bottom});
    if (r.left < cut.left) out.push_back(RECT{r.left, cut.top, cut.left, cut.bottom});
    if (cut.right < r.right) out.push_back(RECT{cut.right, cut.top, r.right, cut.bottom});
  }
  *region = std::move(out);
}

// Fills screen rectangles with the desktop's white.
void FillDesktop(const std::vector<RECT>& parts) {
  if (parts.empty()) return;
  HDC dc = GetDC(nullptr);
  for (const RECT& r : parts) FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  ReleaseDC(nullptr, dc);
}

HFONT TopBarFont() {
  static HFONT font = [] {
    LOGFONTW lf{};
    lf.lfHeight = -13;
    lf.lfWeight = FW_BOLD;
    std::u16string_view face = u"Tahoma";
    std::copy(face.begin(), face.end(), lf.lfFaceName);
    return CreateFontIndirectW(&lf);
  }();
  return font;
}

}  // namespace

WindowManager& WindowManager::Instance() { return ProcessLifetime<WindowManager>::Get(); }

WindowManager::WindowManager() {
  for (const WNDCLASSW& wc : Controls::Classes()) {
    auto cls = std::make_shared<WindowClass>();
    cls->name = wc.lpszClassName;
    cls->style = wc.style;
    cls->proc = wc.lpfnWndProc;
    cls->background = wc.hbrBackground;
    classes_.push_back(cls);
  }
  MessageQueue::SetWindowHooks(MessageQueue::WindowHooks{
      [](HWND hwnd) -> std::shared_ptr<MessageQueue> {
        auto window = Instance().Find(hwnd);
        return window ? window->queue : nullptr;
      },
      [](const MSG& msg) { return Instance().Dispatch(msg); }});
  InputQueue::SetListener([] { Instance().RouteInput(); });
}

// ---- classes ----

std::shared_ptr<WindowClass> WindowManager::FindClassLocked(const std::u16string& name) const {
  for (const auto& cls : classes_)
    if (_wcsicmp(cls->name.c_str(), name.c_str()) == 0) return cls;
  return nullptr;
}

Status WindowManager::RegisterClass(const WNDCLASSW& wc) {
  if (!wc.lpszClassName || !*wc.lpszClassName || !wc.lpfnWndProc) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> lock(mutex_);
  if (FindClassLocked(wc.lpszClassName)) return ERROR_CLASS_ALREADY_EXISTS;
  auto cls = std::make_shared<WindowClass>();
  cls->name = wc.lpszClassName;
  cls->style = wc.style;
  cls->proc = wc.lpfnWndProc;
  cls->instance = wc.hInstance;
  cls->icon = wc.hIcon;
  cls->cursor = wc.hCursor;
  cls->background = wc.hbrBackground;
  classes_.push_back(cls);
  return Status::Ok();
}

Status WindowManager::UnregisterClass(const std::u16string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::find_if(classes_.begin(), classes_.end(), [&](const auto& cls) {
    return _wcsicmp(cls->name.c_str(), name.c_str()) == 0;
  });
  if (it == classes_.end()) return ERROR_CLASS_DOES_NOT_EXIST;
  classes_.erase(it);
  return Status::Ok();
}

// ---- windows ----

std::shared_ptr<Window> WindowManager::Find(HWND hwnd) const {
  return HandleTable::LookupAs<Window>(HandleKind::kWindow, hwnd);
}

std::shared_ptr<Window> WindowManager::FindLocked(HWND hwnd) const { return Find(hwnd); }

Status WindowManager::Create(DWORD exStyle, const std::u16string& className, LPCWSTR title,
                             DWORD style, int x, int y, int width, int height, HWND parent,
                             HMENU menu, HINSTANCE instance, LPVOID param, HWND* created) {
  *created = nullptr;
  auto window = std::make_shared<Window>();
  std::shared_ptr<Window> parentWindow;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    window->windowClass = FindClassLocked(className);
    if (!window->windowClass) return ERROR_CANNOT_FIND_WND_CLASS;
    if (parent) {
      parentWindow = FindLocked(parent);
      if (!parentWindow) return ERROR_INVALID_WINDOW_HANDLE;
    } else if (style & WS_CHILD) {
      return ERROR_INVALID_PARAMETER;  // a child needs its parent
    }
  }
  const bool child = (style & WS_CHILD) != 0;
  window->proc = window->windowClass->proc;
  window->threadId = GetCurrentThreadId();
  window->queue = MessageQueue::Current();
  window->style = style & ~WS_VISIBLE;  // shown once WM_CREATE has returned
  window->exStyle = exStyle;
  window->id = child ? reinterpret_cast<UINT_PTR>(menu) : 0;
  window->instance = instance;
  window->text = title ? title : u"";

  // Where it goes: children inside the parent's client area, top-level
  // windows on the screen, CW_USEDEFAULT meaning the work area.
  POINT origin{0, 0};
  if (child) {
    std::lock_guard<std::mutex> lock(mutex_);
    origin = POINT{parentWindow->client.left, parentWindow->client.top};
  }
  if (x == CW_USEDEFAULT) {
    x = child ? 0 : kWorkArea.left;
    y = child ? 0 : kWorkArea.top;
  }
  if (width == CW_USEDEFAULT) {
    width = child ? 0 : kWorkArea.right - kWorkArea.left;
    height = child ? 0 : kWorkArea.bottom - kWorkArea.top;
  }
  window->rect = RECT{origin.x + x, origin.y + y, origin.x + x + std::max(width, 0),
                      origin.y + y + std::max(height, 0)};
  window->client = window->rect;
  if (!child) {
    if ((style & WS_CAPTION) == WS_CAPTION) window->client.top += kCaptionHeight;
    if (style & (WS_BORDER | WS_DLGFRAME)) {
      window->client.left += 1;
      window->client.right -= 1;
      window->client.bottom -= 1;
      if ((style & WS_CAPTION) != WS_CAPTION) window->client.top += 1;
    }
  }
  window->handle = HandleTable::Add<HWND>(HandleKind::kWindow, window);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (child) {
      parentWindow->children.push_back(window->handle);
      window->parent = parent;
    } else {
      window->owner = parent;
      topLevels_.push_back(window->handle);
    }
  }
  if (Trace::On(TraceChannel::kWindow))
    Trace::Write(TraceChannel::kWindow, "create %p class %s", static_cast<void*>(window->handle),
                 ToUtf8(className).c_str());

  CREATESTRUCTW cs{param,  instance, menu,  parent, height, width, y, x, static_cast<LONG>(style),
                   title,  className.c_str(), exStyle};
  if (Call(window, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    static_cast<void>(Destroy(window->handle));
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

void WindowManager::ListDescendants(HWND hwnd, std::vector<std::shared_ptr<Window>>* out) const {
  auto window = FindLocked(hwnd);
  if (!window) return;
  for (HWND child : window->children) ListDescendants(child, out);
  out->push_back(window);
}

Status WindowManager::Destroy(HWND hwnd) {
  auto window = Find(hwnd);
  if (!window) return ERROR_INVALID_WINDOW_HANDLE;
  std::vector<HWND> owned;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (window->destroyed) return Status::Ok();  // on its way already
    for (HWND top : topLevels_)
      if (auto w = FindLocked(top); w && w->owner == hwnd) owned.push_back(top);
  }
  // Windows it owns (its dialogs, its command bar) go first.
  for (HWND w : owned) static_cast<void>(Destroy(w));
  Show(window, false, true);

  // WM_DESTROY reaches the children before the window itself.
  std::vector<std::shared_ptr<Window>> all;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ListDescendants(hwnd, &all);
    for (const auto& w : all) w->destroyed = true;
  }
  for (const auto& w : all) Send(w, WM_DESTROY, 0, 0);
  for (const auto& w : all) RemoveFromTree(w);
  return Status::Ok();
}

void WindowManager::RemoveFromTree(const std::shared_ptr<Window>& window) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto parent = FindLocked(window->parent)) {
      auto& siblings = parent->children;
      siblings.erase(std::remove(siblings.begin(), siblings.end(), window->handle), siblings.end());
    }
    topLevels_.erase(std::remove(topLevels_.begin(), topLevels_.end(), window->handle),
                     topLevels_.end());
    if (focus_ == window->handle) focus_ = nullptr;
    if (capture_ == window->handle) capture_ = nullptr;
    if (active_ == window->handle) active_ = nullptr;
    typed_.erase(std::remove_if(typed_.begin(), typed_.end(),
                                [&](const Typed& t) { return t.hwnd == window->handle; }),
                 typed_.end());
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

void WindowManager::MoveLocked(Window& window, LONG dx, LONG dy) {
  window.rect = Offset(window.rect, dx, dy);
  window.client = Offset(window.client, dx, dy);
  for (HWND child : window.children)
    if (auto c = FindLocked(child)) MoveLocked(*c, dx, dy);
}

Status WindowManager::SetPosition(const std::shared_ptr<Window>& window, int x, int y, int width,
                                  int height, UINT flags) {
  RECT before;
  bool shown;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    before = window->rect;
    shown = ShownLocked(*window);
    POINT origin{0, 0};
    if (auto parent = FindLocked(window->parent)) origin = {parent->client.left, parent->client.top};
    if (!(flags & SWP_NOMOVE))
      MoveLocked(*window, origin.x + x - window->rect.left, origin.y + y - window->rect.top);
    if (!(flags & SWP_NOSIZE)) {
      const LONG dw = std::max(width, 0) - (window->rect.right - window->rect.left);
      const LONG dh = std::max(height, 0) - (window->rect.bottom - window->rect.top);
      window->rect.right += dw;
      window->rect.bottom += dh;
      window->client.right += dw;
      window->client.bottom += dh;
    }
    if (!(flags & SWP_NOZORDER) && !window->isChild()) {
      topLevels_.erase(std::remove(topLevels_.begin(), topLevels_.end(), window->handle),
                       topLevels_.end());
      topLevels_.push_back(window->handle);
    }
  }
  if (flags & SWP_HIDEWINDOW) Show(window, false, true);
  if (shown && (before.left != window->rect.left || before.top != window->rect.top ||
                before.right != window->rect.right || before.bottom != window->rect.bottom)) {
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
        InvalidateLocked(*window, nullptr, true);
        if (!window->isChild()) {  // shown on top
          topLevels_.erase(std::remove(topLevels_.begin(), topLevels_.end(), window->handle),
                           topLevels_.end());
          topLevels_.push_back(window->handle);
        }
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
      if (active_ == window->handle && activate) {
        // The owner, else the top-most visible top-level window, takes over.
        auto owner = FindLocked(window->owner);
        if (owner && owner->visible()) next = owner->handle;
        for (auto it = topLevels_.rbegin(); !next && it != topLevels_.rend(); ++it)
          if (auto w = FindLocked(*it); w && w->visible() && *it != window->handle) next = *it;
        if (!next) active_ = nullptr;
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
    previous = active_;
    if (previous == hwnd) return;
    active_ = hwnd;
    if (focus_ && RootLocked(focus_) != hwnd) focus_ = nullptr;
  }
  if (auto old = Find(previous))
    Send(old, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(hwnd));
  if (auto now = Find(hwnd)) Send(now, WM_ACTIVATE, WA_ACTIVE, reinterpret_cast<LPARAM>(previous));
  RedrawTopBar();
}

HWND WindowManager::Active() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return active_;
}

HWND WindowManager::SetFocus(HWND hwnd) {
  HWND previous;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    previous = focus_;
    focus_ = hwnd;
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
  return focus_;
}

HWND WindowManager::SetCapture(HWND hwnd) {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(capture_, hwnd);
}

HWND WindowManager::Capture() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return capture_;
}

HWND WindowManager::FindTopLevel(const std::u16string& className,
                                 const std::u16string* title) const {
  std::lock_guard<std::mutex> lock(mutex_);
  HWND hidden = nullptr;
  for (HWND top : topLevels_) {
    auto w = FindLocked(top);
    if (!w || w->destroyed || _wcsicmp(w->windowClass->name.c_str(), className.c_str()) != 0)
      continue;
    if (title && w->text != *title) continue;
    if (w->visible()) return top;
    if (!hidden) hidden = top;
  }
  return hidden;
}

HWND WindowManager::MainWindow() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return MainWindowLocked();
}

HWND WindowManager::MainWindowLocked() const {
  for (HWND top : topLevels_)
    if (auto w = FindLocked(top); w && !w->owner && !w->destroyed) return top;
  return nullptr;
}

std::vector<HWND> WindowManager::TopLevels() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return topLevels_;
}

bool WindowManager::IsShown(const Window& window) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ShownLocked(window);
}

bool WindowManager::ShownLocked(const Window& window) const {
  const Window* w = &window;
  while (w) {
    if (!w->visible() || w->destroyed) return false;
    if (!w->parent) return true;
    auto parent = FindLocked(w->parent);
    if (!parent) return false;
    w = parent.get();
  }
  return false;
}

HWND WindowManager::RootLocked(HWND hwnd) const {
  auto w = FindLocked(hwnd);
  while (w && w->parent) {
    auto parent = FindLocked(w->parent);
    if (!parent) break;
    w = parent;
  }
  return w ? w->handle : nullptr;
}

// ---- painting ----

void WindowManager::InvalidateLocked(Window& window, const RECT* rect, bool erase) {
  const RECT client{0, 0, window.client.right - window.client.left,
                    window.client.bottom - window.client.top};
  const RECT area = rect ? Intersect(*rect, client) : client;
  if (Empty(area)) return;
  window.update = Union(window.update.value_or(RECT{}), area);
  window.erase = window.erase || erase;
  window.queue->SetPaintPending(window.handle, true);
  // What lies over the children needs drawing in them too.
  const RECT onScreen = Offset(area, window.client.left, window.client.top);
  for (HWND h : window.children) {
    auto child = FindLocked(h);
    if (!child || !child->visible()) continue;
    const RECT part = Intersect(onScreen, child->client);
    if (Empty(part)) continue;
    const RECT local = Offset(part, -child->client.left, -child->client.top);
    InvalidateLocked(*child, &local, erase);
  }
}

void WindowManager::Invalidate(const std::shared_ptr<Window>& window, const RECT* rect,
                               bool erase) {
  std::lock_guard<std::mutex> lock(mutex_);
  InvalidateLocked(*window, rect, erase);
}

void WindowManager::Validate(const std::shared_ptr<Window>& window, const RECT* rect) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!window->update) return;
  // One rectangle is kept: validating part of it leaves what remains only
  // when that is a rectangle; otherwise the whole stays invalid.
  if (rect) {
    std::vector<RECT> rest{*window->update};
    Subtract(&rest, *rect);
    if (rest.size() == 1) {
      window->update = rest[0];
      return;
    }
    if (!rest.empty()) return;
  }
  window->update.reset();
  window->erase = false;
  window->queue->SetPaintPending(window->handle, false);
}

RECT WindowManager::TakeUpdate(const std::shared_ptr<Window>& window, bool* erase) {
  std::lock_guard<std::mutex> lock(mutex_);
  RECT update = window->update.value_or(RECT{});
  *erase = window->erase;
  window->update.reset();
  window->erase = false;
  window->queue->SetPaintPending(window->handle, false);
  return update;
}

bool WindowManager::TopBarAboveLocked() const {
  auto active = FindLocked(active_);
  return !(active && active->hideTopBar);
}

std::vector<RECT> WindowManager::UncoveredLocked(const RECT& rect) const {
  std::vector<RECT> region(1, Intersect(rect, kScreen));
  if (Empty(region[0])) region.clear();
  for (HWND top : topLevels_)
    if (auto w = FindLocked(top); w && w->visible() && !w->destroyed) Subtract(&region, w->rect);
  return region;
}

std::vector<RECT> WindowManager::VisibleLocked(const Window& window, const RECT& area) const {
  std::vector<RECT> region;
  if (!ShownLocked(window)) return region;
  RECT r = Intersect(area, kScreen);
  for (auto p = FindLocked(window.parent); p; p = FindLocked(p->parent))
    r = Intersect(r, p->client);
  if (Empty(r)) return region;
  region.push_back(r);
  // Its visible children, and the siblings above it (and above each of its
  // ancestors).
  for (HWND h : window.children)
    if (auto c = FindLocked(h); c && c->visible()) Subtract(&region, c->rect);
  const Window* w = &window;
  while (w->parent) {
    auto parent = FindLocked(w->parent);
    if (!parent) break;
    auto it = std::find(parent->children.begin(), parent->children.end(), w->handle);
    for (++it; it < parent->children.end(); ++it)
      if (auto s = FindLocked(*it); s && s->visible()) Subtract(&region, s->rect);
    w = parent.get();
  }
  // Top-level windows above it.
  auto it = std::find(topLevels_.begin(), topLevels_.end(), w->handle);
  if (it != topLevels_.end())
    for (++it; it < topLevels_.end(); ++it)
      if (auto s = FindLocked(*it); s && s->visible()) Subtract(&region, s->rect);
  if (TopBarAboveLocked()) Subtract(&region, kTopBar);
  if (waitCursor_) Subtract(&region, kWaitCursor);
  return region;
}

bool WindowManager::VisibleArea(HWND hwnd, POINT* origin, std::vector<RECT>* visible,
                                const RECT* limit) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto window = FindLocked(hwnd);
  if (!window) return false;
  *origin = POINT{window->client.left, window->client.top};
  *visible = VisibleLocked(*window, limit ? Offset(*limit, origin->x, origin->y) : window->client);
  return true;
}

void WindowManager::ExposeLocked(const RECT& rect, std::vector<RECT>* desktop) {
  *desktop = UncoveredLocked(rect);
  for (HWND top : topLevels_) {
    auto w = FindLocked(top);
    if (!w || !w->visible() || w->destroyed) continue;
    const RECT part = Intersect(rect, w->client);
    if (!Empty(part)) {
      const RECT local = Offset(part, -w->client.left, -w->client.top);
      InvalidateLocked(*w, &local, true);
    }
  }
  Subtract(desktop, kTopBar);  // the top bar's, above the windows or beneath them
}

void WindowManager::Expose(const RECT& rect) {
  std::vector<RECT> desktop;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ExposeLocked(rect, &desktop);
  }
  FillDesktop(desktop);
  // Frames of dialogs beneath.
  for (HWND top : TopLevels())
    if (auto w = Find(top)) PaintFrame(w);
  if (!Empty(Intersect(rect, kTopBar))) RedrawTopBar();
}

void WindowManager::PaintFrame(const std::shared_ptr<Window>& window) {
  std::u16string caption;
  RECT rect, client;
  bool hasCaption;
  std::vector<RECT> visible;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (window->isChild() || !(window->style & (WS_BORDER | WS_DLGFRAME))) return;
    rect = window->rect;
    client = window->client;
    caption = window->text;
    hasCaption = (window->style & WS_CAPTION) == WS_CAPTION;
    visible = VisibleLocked(*window, rect);
    Subtract(&visible, client);
  }
  if (visible.empty()) return;
  const HDC dc = CreateWindowDC(POINT{0, 0}, std::move(visible));
  FillRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  if (hasCaption) {
    RECT bar{rect.left + 1, rect.top + 1, rect.right - 1, client.top};
    FillRect(dc, &bar, reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_ACTIVECAPTION + 1)));
    SelectObject(dc, TopBarFont());
    SetTextColor(dc, GetSysColor(COLOR_CAPTIONTEXT));
    SetBkMode(dc, TRANSPARENT);
    bar.left += 4;
    DrawTextW(dc, caption.c_str(), -1, &bar, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  ReleaseDC(nullptr, dc);
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
  bool okButton = false;
  std::u16string title;
  std::vector<RECT> shown;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto active = FindLocked(active_)) {
      title = active->text;
      okButton = (active->exStyle & WS_EX_CAPTIONOKBTN) != 0;
    }
    if (TopBarAboveLocked()) {
      shown.assign(1, kTopBar);
    } else {  // beneath the windows: the parts none covers
      std::vector<RECT> desktop;
      ExposeLocked(kTopBar, &desktop);
      shown = UncoveredLocked(kTopBar);
    }
  }
  if (shown.empty()) return;
  HDC dc = CreateWindowDC(POINT{0, 0}, std::move(shown));
  FillRect(dc, &kTopBar, reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_ACTIVECAPTION + 1)));
  SelectObject(dc, TopBarFont());
  SetTextColor(dc, RGB(255, 255, 255));
  SetBkMode(dc, TRANSPARENT);
  RECT text{4, 0, okButton ? kOkButton.left - 4 : Screen::kWidth - 4, kTopBarHeight};
  DrawTextW(dc, title.c_str(), -1, &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  if (okButton) {
    FillRect(dc, &kOkButton, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetTextColor(dc, GetSysColor(COLOR_ACTIVECAPTION));
    RECT label = kOkButton;
    DrawTextW(dc, u"ok", -1, &label, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  ReleaseDC(nullptr, dc);
}

bool WindowManager::WaitCursorShown() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waitCursor_;
}

void WindowManager::SetWaitCursor(bool shown) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (waitCursor_ == shown) return;
    waitCursor_ = shown;
  }
  if (!shown) {
    Expose(kWaitCursor);
    return;
  }
  // A disc of four quarters, as the handheld's busy cursor.
  HDC dc = GetDC(nullptr);
  constexpr COLORREF kQuarters[] = {RGB(255, 0, 0), RGB(255, 255, 0), RGB(0, 160, 0),
                                    RGB(0, 0, 255)};
  const int c = kWaitCursorSize / 2;
  for (int y = 0; y < kWaitCursorSize; ++y)
    for (int x = 0; x < kWaitCursorSize; ++x) {
      const int dx = 2 * x + 1 - kWaitCursorSize, dy = 2 * y + 1 - kWaitCursorSize;
      const int d2 = dx * dx + dy * dy;
      const int outer = kWaitCursorSize * kWaitCursorSize;
      COLORREF color = RGB(255, 255, 255);
      if (d2 <= outer) color = kQuarters[(y < c ? 0 : 2) + ((x < c) == (y < c) ? 0 : 1)];
      if (d2 <= outer && d2 > (kWaitCursorSize - 3) * (kWaitCursorSize - 3)) color = RGB(0, 0, 0);
      const RECT dot{kWaitCursor.left + x, kWaitCursor.top + y, kWaitCursor.left + x + 1,
                     kWaitCursor.top + y + 1};
      HBRUSH brush = CreateSolidBrush(color);
      FillRect(dc, &dot, brush);
      DeleteObject(brush);
    }
  ReleaseDC(nullptr, dc);
}

// ---- input ----

SHORT WindowManager::KeyState(int virtualKey) const {
  std::lock_guard<std::mutex> lock(mutex_);
  bool down = false;
  switch (virtualKey) {
    case VK_SHIFT: down = shiftDown_; break;
    case VK_CONTROL: down = controlDown_; break;
    case VK_MENU: down = altDown_; break;
    default: break;
  }
  return down ? static_cast<SHORT>(0x8000) : 0;
}

bool WindowManager::TakeCharacter(const MSG& msg, WCHAR* character) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = typed_.begin(); it != typed_.end(); ++it) {
    if (it->hwnd != msg.hwnd || it->virtualKey != msg.wParam) continue;
    *character = it->character;
    typed_.erase(it);
    return true;
  }
  return false;
}

HWND WindowManager::WindowAtLocked(POINT point) const {
  for (auto it = topLevels_.rbegin(); it != topLevels_.rend(); ++it) {
    auto w = FindLocked(*it);
    if (!w || !w->visible() || w->destroyed || !Contains(w->rect, point)) continue;
    if (!w->enabled()) return nullptr;  // under a modal dialog: the tap goes nowhere
    for (bool deeper = true; deeper;) {
      deeper = false;
      for (auto c = w->children.rbegin(); c != w->children.rend(); ++c) {
        auto child = FindLocked(*c);
        if (child && child->visible() && child->enabled() && Contains(child->rect, point)) {
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

void WindowManager::RouteInput() {
  InputEvent event;
  while (InputQueue::Take(&event)) RouteEvent(event);
}

void WindowManager::RouteEvent(const InputEvent& event) {
  std::shared_ptr<Window> target;
  MSG msg{};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const POINT point{event.x, event.y};
    switch (event.kind) {
      case InputEvent::Kind::kTapDown: {
        if (Contains(kTopBar, point) &&
            (TopBarAboveLocked() || !UncoveredLocked(RECT{point.x, point.y, point.x + 1, point.y + 1}).empty())) {
          auto active = FindLocked(active_);
          if (active && (active->exStyle & WS_EX_CAPTIONOKBTN) && Contains(kOkButton, point)) {
            target = active;
            msg = MSG{active->handle, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0, 0, {}};
          }
          break;
        }
        // An open popup menu closes when the tap lands anywhere else.
        for (HWND top : topLevels_) {
          auto w = FindLocked(top);
          if (!w || !w->visible() || w->windowClass->name != u"#MenuPopup") continue;
          auto bar = FindLocked(w->owner);
          if (Contains(w->rect, point) || (bar && Contains(bar->rect, point))) continue;
          target = w;
          msg.message = WM_CLOSE;
        }
        if (target) break;
        HWND at = capture_ ? capture_ : WindowAtLocked(point);
        target = FindLocked(at);
        if (target) capture_ = target->handle;  // the tap's own capture until it ends
        msg.message = WM_LBUTTONDOWN;
        break;
      }
      case InputEvent::Kind::kTapMove:
        target = FindLocked(capture_ ? capture_ : WindowAtLocked(point));
        msg.message = WM_MOUSEMOVE;
        break;
      case InputEvent::Kind::kTapUp:
        target = FindLocked(capture_ ? capture_ : WindowAtLocked(point));
        capture_ = nullptr;
        msg.message = WM_LBUTTONUP;
        break;
      case InputEvent::Kind::kKeyDown:
      case InputEvent::Kind::kKeyUp: {
        shiftDown_ = event.shift;
        controlDown_ = event.control;
        altDown_ = event.alt;
        auto focus = FindLocked(focus_);
        target = focus && RootLocked(focus_) == active_ ? focus : FindLocked(active_);
        if (!target) target = FindLocked(MainWindowLocked());
        const bool down = event.kind == InputEvent::Kind::kKeyDown;
        const bool sys = event.alt && event.virtualKey != VK_MENU;
        msg.message = down ? (sys ? WM_SYSKEYDOWN : WM_KEYDOWN) : (sys ? WM_SYSKEYUP : WM_KEYUP);
        msg.wParam = event.virtualKey;
        msg.lParam = (down ? 1 : kKeyUpFlags) | (event.alt ? kAltDownFlag : 0);
        if (target && down && event.character) {
          typed_.push_back(Typed{target->handle, event.virtualKey, event.character});
          if (typed_.size() > 64) typed_.pop_front();  // nobody translates them
        }
        break;
      }
      case InputEvent::Kind::kClose:
        target = FindLocked(MainWindowLocked());
        msg.message = WM_CLOSE;
        break;
    }
    if (target && (msg.message == WM_LBUTTONDOWN || msg.message == WM_LBUTTONUP ||
                   msg.message == WM_MOUSEMOVE)) {
      msg.wParam = msg.message == WM_LBUTTONUP ? 0 : 1;  // MK_LBUTTON
      msg.lParam = MAKELPARAM(event.x - target->client.left, event.y - target->client.top);
    }
  }
  if (!target) return;
  msg.hwnd = target->handle;
  msg.time = GetTickCount();
  msg.pt = POINT{event.x, event.y};
  target->queue->Post(msg);
}

}  // namespace handheld::detail
