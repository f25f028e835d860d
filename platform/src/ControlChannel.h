// The remote control of a process's windows: a Unix socket in the device
// folder ("control/<pid>") that a process opens when it makes its first
// top-level window. A client sends one line and reads one line back:
//
//   post <class> <message> <wParam> <lParam>   PostMessage to the top-level
//                                              window of that class
//   tap <x> <y>                                a tap on the screen
//   key <virtual key> <character> <alt> <shift> <control>
//   answer <id>                                WM_COMMAND (id) to the message
//                                              box or dialog on the screen
//   screenshot <path>                          the screen as a PNG file
//   close                                      the X11 window's close button
//
// The answer is "ok" or "error <what went wrong>". Numbers are decimal.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Status.h"

namespace handheld::detail {

class ControlChannel {
 public:
  // Opens this process's socket and serves it on a thread of its own, once.
  static void Start();
  // Removes this process's socket (done at exit too).
  static void RemoveSocket();
  // Checks one command line and gives the reply line; what it asks for is
  // done by `*then`, after the reply has gone out (a command may end the
  // program).
  static std::string Execute(const std::string& line, std::function<void()>* then);

  // Client side: the sockets of the processes listening in the device
  // folder, newest first; and one exchange with one of them.
  static std::vector<std::string> Sockets();
  static Status Exchange(const std::string& socket, const std::string& line, std::string* reply);
  // Removes the socket of a process that ended without removing it.
  static void Forget(const std::string& socket);
};

}  // namespace handheld::detail
