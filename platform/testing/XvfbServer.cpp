#include "testing/XvfbServer.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <utility>
#include <vector>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace handheld::testing {

XvfbServer::XvfbServer() {
  int fds[2];
  if (pipe(fds) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    close(fds[0]);
    std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x800x24", "-nolisten",
           "tcp", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  pollfd fd{fds[0], POLLIN, 0};
  char c;
  while (poll(&fd, 1, 15000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (!number.empty()) display_ = ":" + number;
}

XvfbServer::~XvfbServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

namespace {

// The root's children with their titles (empty when a window has none).
std::vector<std::pair<Window, std::string>> TopLevelWindows(Display* display) {
  std::vector<std::pair<Window, std::string>> windows;
  Window root, parent, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
    return windows;
  for (unsigned i = 0; i < count; ++i) {
    char* name = nullptr;
    XFetchName(display, children[i], &name);
    windows.emplace_back(children[i], name ? name : "");
    if (name) XFree(name);
  }
  if (children) XFree(children);
  return windows;
}

Window FindWindow(Display* display, const std::string& title) {
  for (const auto& [window, name] : TopLevelWindows(display))
    if (name == title) return window;
  return 0;
}

// An X error (a window gone between the lookup and the read) fails the
// call that caused it instead of ending the test's process.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

}  // namespace

bool XvfbServer::Capture(const std::string& title, int width, int height,
                         std::vector<uint32_t>* pixels) const {
  Display* display = XOpenDisplay(display_.c_str());
  if (!display) return false;
  XSetErrorHandler(IgnoreXError);
  bool captured = false;
  // A window found before it is mapped at its full size makes XGetImage
  // fail with BadMatch, which Xlib's default handler answers by ending the
  // process: only a viewable window of the size wanted is read.
  XWindowAttributes attributes{};
  Window window = FindWindow(display, title);
  if (window && XGetWindowAttributes(display, window, &attributes) &&
      attributes.map_state == IsViewable && attributes.width >= width &&
      attributes.height >= height) {
    if (XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(width),
                                  static_cast<unsigned>(height), AllPlanes, ZPixmap)) {
      pixels->clear();
      for (int y = 0; y < image->height; ++y)
        for (int x = 0; x < image->width; ++x)
          pixels->push_back(static_cast<uint32_t>(XGetPixel(image, x, y)) & 0xFFFFFFu);
      captured = image->width == width && image->height == height;
      XDestroyImage(image);
    }
  }
  XCloseDisplay(display);
  return captured;
}

bool XvfbServer::Click(const std::string& title, int x, int y) const {
  Display* display = XOpenDisplay(display_.c_str());
  if (!display) return false;
  const Window window = FindWindow(display, title);
  int event, error, major, minor, rootX, rootY;
  Window child;
  const bool clicked =
      window && XTestQueryExtension(display, &event, &error, &major, &minor) &&
      XTranslateCoordinates(display, window, DefaultRootWindow(display), x, y, &rootX, &rootY,
                            &child);
  if (clicked) {
    XTestFakeMotionEvent(display, DefaultScreen(display), rootX, rootY, CurrentTime);
    XTestFakeButtonEvent(display, Button1, True, CurrentTime);
    XTestFakeButtonEvent(display, Button1, False, CurrentTime);
    XSync(display, False);
  }
  XCloseDisplay(display);
  return clicked;
}

std::string XvfbServer::Describe() const {
  if (display_.empty()) return "no X server";
  siginfo_t ended{};  // looked at, not reaped: the destructor still waits for it
  if (pid_ > 0 && waitid(P_PID, static_cast<id_t>(pid_), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
      ended.si_pid == pid_)
    return "the X server has ended";
  Display* display = XOpenDisplay(display_.c_str());
  if (!display) return "the X server on " + display_ + " does not answer";
  XSetErrorHandler(IgnoreXError);
  std::string text = "top-level windows on " + display_ + ":";
  const auto windows = TopLevelWindows(display);
  for (const auto& [window, name] : windows) {
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, window, &attributes);
    text += " \"" + name + "\" " + std::to_string(attributes.width) + "x" +
            std::to_string(attributes.height) +
            (attributes.map_state == IsViewable ? " viewable;" : " not viewable;");
  }
  XCloseDisplay(display);
  return windows.empty() ? text + " none" : text;
}

}  // namespace handheld::testing
