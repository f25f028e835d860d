// A window message as a tool's command line gives it: MESSAGE [WPARAM
// [LPARAM]], each a name (WM_COMMAND, WM_CLOSE, ...) or a number, decimal
// or 0x-hexadecimal. A message is a 32-bit number; a parameter a 32-bit
// word, signed or not.
#pragma once

#include <string>
#include <vector>

class PostedMessage {
 public:
  // False with the reason ("not a message or number: X", "out of range for
  // a message: X", "out of range for a 32-bit parameter: X"); `words` holds
  // one to three words.
  static bool Parse(const std::vector<std::string>& words, PostedMessage* message,
                    std::string* reason);
  // The message or parameter named `name` (WM_COMMAND, WM_USER, ...).
  static bool Named(const std::string& name, long long* value);

  // "post CLASS MESSAGE WPARAM LPARAM", the remote control's command.
  std::string Command(const std::string& windowClass) const;

  long long message = 0, wParam = 0, lParam = 0;
};
