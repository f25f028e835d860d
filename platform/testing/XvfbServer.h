// Test support: an Xvfb server on a free display, ended on destruction.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace handheld::testing {

class XvfbServer {
 public:
  XvfbServer();
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  // ":N"; empty when the server did not start.
  const std::string& display() const { return display_; }

  // The top-level window titled `title`: its pixels (0x00RRGGBB, row by
  // row) from its top-left corner, `width` x `height`; and a click of the
  // first button at a point of it, made with the server's own pointer
  // (XTEST) as a person's would be.
  // False when there is no such window.
  bool Capture(const std::string& title, int width, int height, std::vector<uint32_t>* pixels) const;
  bool Click(const std::string& title, int x, int y) const;
  // What a failed Capture or Click met, for the test's message: whether the
  // server answers, and each top-level window's title, state and size.
  std::string Describe() const;

 private:
  pid_t pid_ = -1;
  std::string display_;
};

}  // namespace handheld::testing
