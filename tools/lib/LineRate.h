// The line rates a receiver's UART runs at, and a tty set raw at one of
// them: shared by the receiver simulator and the rate hunt.
#pragma once

#include <termios.h>

#include <string>

class LineRate {
 public:
  // Whether a receiver's line runs at this rate: 4800 to 115200 baud.
  static bool Valid(long long baud);
  // The termios speed of a valid rate (B57600 for any other).
  static speed_t Code(int baud);
  // Raw 8N1 at `baud`: no flow control, modem lines ignored, reads that
  // return at once. `error` says which call failed.
  static bool SetRaw(int fd, int baud, std::string& error);
  // Opens a terminal device for reading and writing, non-blocking, not as
  // the controlling terminal. -1 with `error` ("DEVICE: why") when it
  // cannot be opened or is no terminal.
  static int OpenTerminal(const std::string& device, std::string& error);
};
