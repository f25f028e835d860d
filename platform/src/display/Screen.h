// The process's screen: 240 x 320 pixels at 96 dots per inch, as on the
// handheld, made on first use. With a display ($DISPLAY set and
// $HANDHELD_HEADLESS not 1) it is shown in an X11 window, scaled by
// $HANDHELD_SCALE (2 by default); otherwise it lives in memory only.
// Either way it can be written to a PNG file, and at exit it is written to
// the file $HANDHELD_SCREENSHOT names.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Presenter.h"
#include "ProcessLifetime.h"
#include "Surface.h"

namespace handheld::detail {

class Screen {
 public:
  static constexpr int kWidth = 240;
  static constexpr int kHeight = 320;
  static constexpr int kDotsPerInch = 96;

  static Screen& Instance();

  // The pixels; drawn under Surface::DrawingLock(), followed by Changed().
  Surface& surface() { return surface_; }
  void Changed();
  // A copy of the pixels and the number of changes they include.
  uint64_t CopyPixels(std::vector<uint32_t>* pixels);
  uint64_t changes() const { return changes_.load(); }

  bool WaitShown(DWORD timeoutMs) { return presenter_->WaitShown(timeoutMs); }
  bool OnDisplay() const { return presenter_->OnDisplay(); }
  bool WritePng(const std::string& path);

 private:
  friend class ProcessLifetime<Screen>;
  Screen();

  Surface surface_{kWidth, kHeight};
  std::atomic<uint64_t> changes_{0};
  std::unique_ptr<Presenter> presenter_;
};

}  // namespace handheld::detail
