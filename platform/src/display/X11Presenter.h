// Shows the screen in an X11 window of its own, scaled by a whole factor,
// titled with the program's name. One thread owns the display connection:
// it redraws the window when the screen changes or is exposed, and turns
// button 1 (taps, in screen pixels), keys and the window manager's close
// request into input events.
#pragma once

#include <X11/Xlib.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "InputQueue.h"
#include "Presenter.h"

namespace handheld::detail {

class Screen;

class X11Presenter : public Presenter {
 public:
  // Null when the display cannot be opened or shows no 24-bit true colour.
  static std::unique_ptr<X11Presenter> Create(Screen* screen, int scale, const std::string& title);
  ~X11Presenter() override;
  X11Presenter(const X11Presenter&) = delete;
  X11Presenter& operator=(const X11Presenter&) = delete;

  void ScreenChanged() override;
  bool WaitShown(DWORD timeoutMs) override;
  bool OnDisplay() const override { return true; }

 private:
  X11Presenter(Screen* screen, int scale, Display* display);
  bool Open(const std::string& title);
  void Run();
  void Handle(XEvent& event);
  void Redraw();
  void Wake();
  static UINT VirtualKey(unsigned long keysym);

  Screen* const screen_;
  const int scale_;
  Display* const display_;
  Window window_ = 0;
  GC gc_ = nullptr;
  Atom deleteWindow_ = 0;
  std::vector<uint32_t> scaled_;
  XImage* image_ = nullptr;
  int wakeFd_ = -1;
  std::atomic<bool> stop_{false};
  // Presenter thread only.
  bool exposed_ = false;
  uint64_t drawn_ = 0;
  bool everDrawn_ = false;

  std::mutex shownMutex_;
  std::condition_variable shownChanged_;
  bool mapped_ = false;  // under shownMutex_
  uint64_t shown_ = 0;   // under shownMutex_: changes included in what is shown

  std::thread thread_;
};

}  // namespace handheld::detail
