#include "LineRate.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

struct Speed {
  long long baud;
  speed_t code;
};
const Speed kSpeeds[] = {{4800, B4800},   {9600, B9600},   {19200, B19200},
                         {38400, B38400}, {57600, B57600}, {115200, B115200}};

}  // namespace

bool LineRate::Valid(long long baud) {
  for (const Speed& speed : kSpeeds)
    if (speed.baud == baud) return true;
  return false;
}

speed_t LineRate::Code(int baud) {
  for (const Speed& speed : kSpeeds)
    if (speed.baud == baud) return speed.code;
  return B57600;
}

bool LineRate::SetRaw(int fd, int baud, std::string& error) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) {
    error = std::string("tcgetattr: ") + std::strerror(errno);
    return false;
  }
  cfmakeraw(&t);
  t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_iflag &= ~(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, Code(baud));
  cfsetospeed(&t, Code(baud));
  if (tcsetattr(fd, TCSANOW, &t) != 0) {
    error = std::string("tcsetattr: ") + std::strerror(errno);
    return false;
  }
  return true;
}

int LineRate::OpenTerminal(const std::string& device, std::string& error) {
  const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = device + ": " + std::strerror(errno);
    return -1;
  }
  if (!isatty(fd)) {
    error = device + ": not a terminal";
    close(fd);
    return -1;
  }
  return fd;
}
