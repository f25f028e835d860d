// Rectangle arithmetic for clipping. A region is a list of disjoint
// rectangles; an empty rectangle (right <= left or bottom <= top) covers
// nothing.
#pragma once

#include <algorithm>
#include <vector>

#include "win/user.h"

namespace handheld::detail {

class Rects {
 public:
  static bool Empty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }

  static RECT Intersect(const RECT& a, const RECT& b) {
    return RECT{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                std::min(a.bottom, b.bottom)};
  }

  // The smallest rectangle holding both.
  static RECT Union(const RECT& a, const RECT& b) {
    if (Empty(a)) return b;
    if (Empty(b)) return a;
    return RECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
  }

  static RECT Offset(const RECT& r, LONG dx, LONG dy) {
    return RECT{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
  }

  static bool Contains(const RECT& r, POINT p) {
    return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom;
  }

  static bool Same(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
  }

  // Leaves the parts of `region` outside `hole`.
  static void Subtract(std::vector<RECT>* region, const RECT& hole);
};

}  // namespace handheld::detail
