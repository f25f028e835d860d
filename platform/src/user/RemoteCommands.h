// The commands a program with windows serves on its remote control (the
// control channel's "control/<pid>"). A client sends one line and reads one
// line back:
//
//   post <class> <message> <wParam> <lParam>   PostMessage to the top-level
//                                              window of that class
//   tap <x> <y>                                a tap on the screen
//   key <virtual key> <character> <alt> <shift> <control>
//   answer <id>                                WM_COMMAND (id) to the message
//                                              box or dialog on the screen
//   screenshot <path>                          the screen as a PNG file
//   close                                      the X11 window's close button
//   title <class>                              "ok <the window's title>"
//   cursor                                     "ok wait" while the wait cursor
//                                              shows, else "ok arrow"
//   cursor wait|arrow                          shows or hides the wait cursor
//
// The answer is "ok" or "error <what went wrong>". Numbers are decimal.
#pragma once

#include <functional>
#include <string>

namespace handheld::detail {

class RemoteCommands {
 public:
  // Opens the process's remote control, once.
  static void Start();
  // Checks one command line and gives the reply line; what it asks for is
  // done by `*then`, after the reply has gone out (a command may end the
  // program).
  static std::string Execute(const std::string& line, std::function<void()>* then);
};

}  // namespace handheld::detail
