#include "Clipping.h"

#include <algorithm>

#include "Rects.h"
#include "ScreenLayout.h"

namespace handheld::detail {

bool Clipping::TopBarAbove() const {
  auto active = tree_.Find(tree_.Active());
  return !(active && active->hideTopBar);
}

std::vector<RECT> Clipping::Uncovered(const RECT& rect) const {
  std::vector<RECT> region(1, Rects::Intersect(rect, ScreenLayout::kScreen));
  if (Rects::Empty(region[0])) region.clear();
  for (HWND top : tree_.TopLevels())
    if (auto w = tree_.Find(top); w && w->visible() && !w->destroyed)
      Rects::Subtract(&region, w->rect);
  return region;
}

void Clipping::SubtractAbove(const Window& window, std::vector<RECT>* region) const {
  const Window* w = &window;
  while (w->parent) {
    auto parent = tree_.Find(w->parent);
    if (!parent) break;
    auto it = std::find(parent->children.begin(), parent->children.end(), w->handle);
    for (++it; it < parent->children.end(); ++it)
      if (auto s = tree_.Find(*it); s && s->visible()) Rects::Subtract(region, s->rect);
    w = parent.get();
  }
  const std::vector<HWND>& tops = tree_.TopLevels();
  auto it = std::find(tops.begin(), tops.end(), w->handle);
  if (it != tops.end())
    for (++it; it < tops.end(); ++it)
      if (auto s = tree_.Find(*it); s && s->visible()) Rects::Subtract(region, s->rect);
}

std::vector<RECT> Clipping::Visible(const Window& window, const RECT& area) const {
  std::vector<RECT> region;
  if (!tree_.Shown(window)) return region;
  RECT r = Rects::Intersect(area, ScreenLayout::kScreen);
  for (auto p = tree_.Find(window.parent); p; p = tree_.Find(p->parent))
    r = Rects::Intersect(r, p->client);
  if (Rects::Empty(r)) return region;
  region.push_back(r);
  for (HWND h : window.children)
    if (auto c = tree_.Find(h); c && c->visible()) Rects::Subtract(&region, c->rect);
  SubtractAbove(window, &region);
  if (TopBarAbove()) Rects::Subtract(&region, ScreenLayout::kTopBar);
  if (waitCursor_) Rects::Subtract(&region, ScreenLayout::kWaitCursor);
  return region;
}

void Clipping::Invalidate(Window& window, const RECT* rect, bool erase) const {
  const RECT client{0, 0, window.client.right - window.client.left,
                    window.client.bottom - window.client.top};
  const RECT area = rect ? Rects::Intersect(*rect, client) : client;
  if (Rects::Empty(area)) return;
  window.update = Rects::Union(window.update.value_or(RECT{}), area);
  window.erase = window.erase || erase;
  window.queue->SetPaintPending(window.handle, true);
  // What lies over the children needs drawing in them too.
  const RECT onScreen = Rects::Offset(area, window.client.left, window.client.top);
  for (HWND h : window.children) {
    auto child = tree_.Find(h);
    if (!child || !child->visible()) continue;
    const RECT part = Rects::Intersect(onScreen, child->client);
    if (Rects::Empty(part)) continue;
    const RECT local = Rects::Offset(part, -child->client.left, -child->client.top);
    Invalidate(*child, &local, erase);
  }
}

void Clipping::Validate(Window& window, const RECT* rect) const {
  if (!window.update) return;
  // One rectangle is kept: validating part of it leaves what remains only
  // when that is a rectangle; otherwise the whole stays invalid.
  if (rect) {
    std::vector<RECT> rest{*window.update};
    Rects::Subtract(&rest, *rect);
    if (rest.size() == 1) {
      window.update = rest[0];
      return;
    }
    if (!rest.empty()) return;
  }
  window.update.reset();
  window.erase = false;
  window.queue->SetPaintPending(window.handle, false);
}

RECT Clipping::TakeUpdate(Window& window, bool* erase) const {
  RECT update = window.update.value_or(RECT{});
  *erase = window.erase;
  window.update.reset();
  window.erase = false;
  window.queue->SetPaintPending(window.handle, false);
  return update;
}

std::vector<RECT> Clipping::Expose(const RECT& rect) const {
  std::vector<RECT> desktop = Uncovered(rect);
  for (HWND top : tree_.TopLevels()) {
    auto w = tree_.Find(top);
    if (!w || !w->visible() || w->destroyed) continue;
    const RECT part = Rects::Intersect(rect, w->client);
    if (!Rects::Empty(part)) {
      const RECT local = Rects::Offset(part, -w->client.left, -w->client.top);
      Invalidate(*w, &local, true);
    }
  }
  Rects::Subtract(&desktop, ScreenLayout::kTopBar);  // the top bar's, above the windows or beneath
  return desktop;
}

}  // namespace handheld::detail
