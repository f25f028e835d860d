#include "Rects.h"

#include <utility>

namespace handheld::detail {

void Rects::Subtract(std::vector<RECT>* region, const RECT& hole) {
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

}  // namespace handheld::detail
