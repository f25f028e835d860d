// The presenter without a display: the screen lives in memory only.
#pragma once

#include "Presenter.h"

namespace handheld::detail {

class HeadlessPresenter : public Presenter {
 public:
  void ScreenChanged() override {}
  bool WaitShown(DWORD) override { return true; }
};

}  // namespace handheld::detail
