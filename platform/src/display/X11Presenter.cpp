#include "X11Presenter.h"

#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "Screen.h"

namespace handheld::detail {

std::unique_ptr<X11Presenter> X11Presenter::Create(Screen* screen, int scale,
                                                   const std::string& title) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return nullptr;
  std::unique_ptr<X11Presenter> presenter(new X11Presenter(screen, scale, display));
  if (!presenter->Open(title)) return nullptr;
  presenter->thread_ = std::thread([p = presenter.get()] { p->Run(); });
  return presenter;
}

X11Presenter::X11Presenter(Screen* screen, int scale, Display* display)
    : screen_(screen), scale_(scale), display_(display) {}

bool X11Presenter::Open(const std::string& title) {
  const int screenNumber = DefaultScreen(display_);
  Visual* visual = DefaultVisual(display_, screenNumber);
  const int depth = DefaultDepth(display_, screenNumber);
  if ((depth != 24 && depth != 32) || visual->red_mask != 0xFF0000 ||
      visual->green_mask != 0xFF00 || visual->blue_mask != 0xFF)
    return false;
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) return false;
  const int width = Screen::kWidth * scale_, height = Screen::kHeight * scale_;
  window_ = XCreateSimpleWindow(display_, RootWindow(display_, screenNumber), 0, 0,
                                static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
                                BlackPixel(display_, screenNumber),
                                WhitePixel(display_, screenNumber));
  XStoreName(display_, window_, title.c_str());
  XClassHint classHint{const_cast<char*>(title.c_str()), const_cast<char*>("Handheld")};
  XSetClassHint(display_, window_, &classHint);
  XSizeHints* hints = XAllocSizeHints();
  hints->flags = PMinSize | PMaxSize;
  hints->min_width = hints->max_width = width;
  hints->min_height = hints->max_height = height;
  XSetWMNormalHints(display_, window_, hints);
  XFree(hints);
  deleteWindow_ = XInternAtom(display_, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(display_, window_, &deleteWindow_, 1);
  XSelectInput(display_, window_,
               ExposureMask | StructureNotifyMask | ButtonPressMask | ButtonReleaseMask |
                   Button1MotionMask | KeyPressMask | KeyReleaseMask);
  gc_ = XCreateGC(display_, window_, 0, nullptr);
  scaled_.assign(static_cast<size_t>(width) * height, 0);
  image_ = XCreateImage(display_, visual, static_cast<unsigned>(depth), ZPixmap, 0,
                        reinterpret_cast<char*>(scaled_.data()), static_cast<unsigned>(width),
                        static_cast<unsigned>(height), 32, width * 4);
  if (!image_ || image_->bits_per_pixel != 32) return false;
  XMapWindow(display_, window_);
  XFlush(display_);
  return true;
}

X11Presenter::~X11Presenter() {
  stop_ = true;
  if (thread_.joinable()) {
    Wake();
    thread_.join();
  }
  if (image_) {
    image_->data = nullptr;  // the pixels belong to scaled_
    XDestroyImage(image_);
  }
  if (gc_) XFreeGC(display_, gc_);
  XCloseDisplay(display_);
  if (wakeFd_ >= 0) close(wakeFd_);
}

void X11Presenter::Wake() {
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
}

void X11Presenter::ScreenChanged() { Wake(); }

bool X11Presenter::WaitShown(DWORD timeoutMs) {
  const uint64_t target = screen_->changes();
  Wake();
  std::unique_lock<std::mutex> lock(shownMutex_);
  return shownChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [&] { return mapped_ && shown_ >= target; });
}

void X11Presenter::Run() {
  while (!stop_) {
    while (XPending(display_)) {
      XEvent event;
      XNextEvent(display_, &event);
      Handle(event);
    }
    bool mapped;
    {
      std::lock_guard<std::mutex> lock(shownMutex_);
      mapped = mapped_;
    }
    if (mapped && (exposed_ || !everDrawn_ || screen_->changes() != drawn_)) Redraw();
    pollfd fds[2] = {{ConnectionNumber(display_), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (XPending(display_)) continue;
    poll(fds, 2, -1);
    if (fds[1].revents & POLLIN) {
      uint64_t count;
      [[maybe_unused]] ssize_t n = read(wakeFd_, &count, sizeof count);
    }
  }
}

void X11Presenter::Redraw() {
  std::vector<uint32_t> pixels;
  const uint64_t changes = screen_->CopyPixels(&pixels);
  const int width = Screen::kWidth * scale_;
  for (int y = 0; y < Screen::kHeight; ++y) {
    uint32_t* row = &scaled_[static_cast<size_t>(y) * scale_ * width];
    for (int x = 0; x < Screen::kWidth; ++x)
      std::fill_n(row + x * scale_, scale_, pixels[static_cast<size_t>(y) * Screen::kWidth + x]);
    for (int copy = 1; copy < scale_; ++copy)
      std::copy(row, row + width, row + static_cast<size_t>(copy) * width);
  }
  XPutImage(display_, window_, gc_, image_, 0, 0, 0, 0, static_cast<unsigned>(width),
            static_cast<unsigned>(Screen::kHeight * scale_));
  XSync(display_, False);
  exposed_ = false;
  everDrawn_ = true;
  drawn_ = changes;
  {
    std::lock_guard<std::mutex> lock(shownMutex_);
    shown_ = changes;
  }
  shownChanged_.notify_all();
}

void X11Presenter::Handle(XEvent& event) {
  auto clampX = [&](int x) { return std::clamp(x / scale_, 0, Screen::kWidth - 1); };
  auto clampY = [&](int y) { return std::clamp(y / scale_, 0, Screen::kHeight - 1); };
  InputEvent input{};
  switch (event.type) {
    case MapNotify: {
      std::lock_guard<std::mutex> lock(shownMutex_);
      mapped_ = true;
      return;
    }
    case Expose:
      exposed_ = true;
      return;
    case ButtonPress:
    case ButtonRelease:
      if (event.xbutton.button != Button1) return;
      input.kind = event.type == ButtonPress ? InputEvent::Kind::kTapDown : InputEvent::Kind::kTapUp;
      input.x = clampX(event.xbutton.x);
      input.y = clampY(event.xbutton.y);
      break;
    case MotionNotify:
      input.kind = InputEvent::Kind::kTapMove;
      input.x = clampX(event.xmotion.x);
      input.y = clampY(event.xmotion.y);
      break;
    case KeyPress:
    case KeyRelease: {
      char text[8] = {};
      KeySym keysym = NoSymbol;
      int length = XLookupString(&event.xkey, text, sizeof text, &keysym, nullptr);
      input.kind = event.type == KeyPress ? InputEvent::Kind::kKeyDown : InputEvent::Kind::kKeyUp;
      input.virtualKey = VirtualKey(keysym);
      if (event.type == KeyPress && length == 1)
        input.character = static_cast<WCHAR>(static_cast<unsigned char>(text[0]));
      input.alt = (event.xkey.state & Mod1Mask) != 0;
      input.shift = (event.xkey.state & ShiftMask) != 0;
      input.control = (event.xkey.state & ControlMask) != 0;
      if (input.virtualKey == 0 && input.character == 0) return;
      break;
    }
    case ClientMessage:
      if (static_cast<Atom>(event.xclient.data.l[0]) != deleteWindow_) return;
      input.kind = InputEvent::Kind::kClose;
      break;
    default:
      return;
  }
  InputQueue::Push(input);
}

UINT X11Presenter::VirtualKey(unsigned long keysym) {
  if (keysym >= XK_a && keysym <= XK_z) return static_cast<UINT>('A' + (keysym - XK_a));
  if (keysym >= XK_A && keysym <= XK_Z) return static_cast<UINT>('A' + (keysym - XK_A));
  if (keysym >= XK_0 && keysym <= XK_9) return static_cast<UINT>('0' + (keysym - XK_0));
  if (keysym >= XK_F1 && keysym <= XK_F12) return static_cast<UINT>(0x70 + (keysym - XK_F1));
  switch (keysym) {
    case XK_BackSpace: return 0x08;  // VK_BACK
    case XK_Tab: return 0x09;        // VK_TAB
    case XK_Return:
    case XK_KP_Enter: return 0x0D;  // VK_RETURN
    case XK_Shift_L:
    case XK_Shift_R: return 0x10;  // VK_SHIFT
    case XK_Control_L:
    case XK_Control_R: return 0x11;  // VK_CONTROL
    case XK_Alt_L:
    case XK_Alt_R: return 0x12;    // VK_MENU
    case XK_Escape: return 0x1B;   // VK_ESCAPE
    case XK_space: return 0x20;    // VK_SPACE
    case XK_Left: return 0x25;     // VK_LEFT
    case XK_Up: return 0x26;       // VK_UP
    case XK_Right: return 0x27;    // VK_RIGHT
    case XK_Down: return 0x28;     // VK_DOWN
    case XK_Delete: return 0x2E;   // VK_DELETE
    default: return 0;
  }
}

}  // namespace handheld::detail
