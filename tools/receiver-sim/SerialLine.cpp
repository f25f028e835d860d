#include "SerialLine.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "LineRate.h"

namespace {

// Most bytes go out in slices of this many, each at its own time.
constexpr size_t kSlice = 32;

}  // namespace

SerialLine::~SerialLine() { Close(); }

bool SerialLine::OpenPty(int baud, const std::string& linkPath, std::string& error) {
  Close();
  baud_ = baud;
  int master = -1;
  int slave = -1;
  char name[PATH_MAX] = {};
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    error = std::string("openpty: ") + std::strerror(errno);
    return false;
  }
  // The slave's settings are what the other side finds when it opens the
  // port; they stay with the pseudo-terminal after our slave handle closes.
  if (!LineRate::SetRaw(slave, baud, error)) {
    close(master);
    close(slave);
    return false;
  }
  close(slave);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fd_ = master;
  isPty_ = true;
  path_ = name;
  if (!linkPath.empty()) {
    struct stat st{};
    if (lstat(linkPath.c_str(), &st) == 0) {
      if (!S_ISLNK(st.st_mode)) {
        error = linkPath + " exists and is not a symbolic link";
        Close();
        return false;
      }
      unlink(linkPath.c_str());
    }
    if (symlink(path_.c_str(), linkPath.c_str()) != 0) {
      error = "symlink " + linkPath + ": " + std::strerror(errno);
      Close();
      return false;
    }
    linkPath_ = linkPath;
  }
  return true;
}

bool SerialLine::OpenDevice(const std::string& device, int baud, std::string& error) {
  Close();
  baud_ = baud;
  const int fd = LineRate::OpenTerminal(device, error);
  if (fd < 0) return false;
  if (!LineRate::SetRaw(fd, baud, error)) {
    error = device + ": " + error;
    close(fd);
    return false;
  }
  tcflush(fd, TCIOFLUSH);
  fd_ = fd;
  isPty_ = false;
  path_ = device;
  return true;
}

void SerialLine::Close() {
  if (!linkPath_.empty()) {
    // Remove the link only while it still leads to our pseudo-terminal.
    char target[PATH_MAX] = {};
    ssize_t n = readlink(linkPath_.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<size_t>(n)) == path_) unlink(linkPath_.c_str());
    linkPath_.clear();
  }
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  queue_.clear();
  pendingBaud_ = 0;
}

bool SerialLine::HasListener() const {
  if (fd_ < 0) return false;
  if (!isPty_) return true;
  pollfd p{fd_, 0, 0};
  if (poll(&p, 1, 0) < 0) return true;
  return (p.revents & POLLHUP) == 0;
}

bool SerialLine::LineSettingsMatch() const {
  if (!isPty_ || !checkLineSettings_) return true;
  // On a pseudo-terminal the master reports the slave's settings.
  termios t{};
  if (tcgetattr(fd_, &t) != 0) return true;
  return cfgetospeed(&t) == LineRate::Code(baud_) && (t.c_cflag & CSIZE) == CS8 &&
         (t.c_cflag & PARENB) == 0 && (t.c_cflag & CSTOPB) == 0;
}

void SerialLine::NoteLineSettings(bool match) {
  int now = match ? 1 : 0;
  if (now == lastMatch_) return;
  bool first = lastMatch_ < 0;
  lastMatch_ = now;
  if (!onWarning || (first && match)) return;
  onWarning(match ? "the other side's line settings match again"
                  : "the other side's line settings differ from " + std::to_string(baud_) +
                        " baud 8N1: traffic turns into garbage");
}

void SerialLine::SetBaud(int baud) {
  baud_ = baud;
  lastMatch_ = -1;
  if (fd_ >= 0 && !isPty_) {
    std::string ignored;
    LineRate::SetRaw(fd_, baud, ignored);
  } else if (fd_ >= 0 && isPty_) {
    // A receiver changes only its own end; the other side keeps its settings,
    // which the check compares against.
  }
}

void SerialLine::SetBaudAfterQueued(int baud) {
  if (queue_.empty()) {
    SetBaud(baud);
    return;
  }
  pendingBaud_ = baud;
  bytesBeforeBaud_ = queue_.size();
}

std::chrono::nanoseconds SerialLine::ByteTime() const {
  // 10 bits per byte: start bit, 8 data bits, stop bit.
  return std::chrono::nanoseconds(10'000'000'000LL / baud_);
}

void SerialLine::Send(const std::vector<uint8_t>& bytes) {
  queue_.insert(queue_.end(), bytes.begin(), bytes.end());
}

void SerialLine::Send(const std::string& bytes) {
  queue_.insert(queue_.end(), bytes.begin(), bytes.end());
}

int SerialLine::Pump() {
  if (fd_ < 0) {
    queue_.clear();
    if (pendingBaud_ != 0) SetBaud(pendingBaud_);
    pendingBaud_ = 0;
    return -1;
  }
  for (;;) {
    if (queue_.empty()) return -1;
    auto now = Clock::now();
    // An idle line starts the next byte now, not in the past.
    if (lineFreeAt_ < now) lineFreeAt_ = now;
    auto lead = lineFreeAt_ - now;
    if (lead > std::chrono::milliseconds(1)) {
      auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(lead).count();
      return ms > 0 ? static_cast<int>(ms) : 1;
    }
    const bool listener = HasListener();
    const bool match = !listener || LineSettingsMatch();
    // A UART at the wrong rate hands over its framing-error bytes one at a
    // time as they arrive, not in slices.
    size_t count = std::min(match ? kSlice : 1, queue_.size());
    if (pendingBaud_ != 0) count = std::min(count, bytesBeforeBaud_);
    std::vector<uint8_t> slice(queue_.begin(), queue_.begin() + static_cast<long>(count));
    if (listener) {
      NoteLineSettings(match);
      if (!match) {
        for (auto& b : slice) {
          garble_ = garble_ * 1103515245u + 12345u;
          b = static_cast<uint8_t>((garble_ >> 16) | 0x80);
        }
      }
      ssize_t n = write(fd_, slice.data(), slice.size());
      if (n < 0) {
        if (errno == EINTR) return 0;
        // A full buffer on the other side (it has not read for seconds), or
        // a slave closed meanwhile: a line does not wait, the bytes are lost.
        n = static_cast<ssize_t>(count);
      }
      count = static_cast<size_t>(n);
    } else if (isPty_) {
      // Nobody listens: drop what the pseudo-terminal may still hold from an
      // earlier listener, and let these bytes go nowhere.
      tcflush(fd_, TCOFLUSH);
    }
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<long>(count));
    lineFreeAt_ += ByteTime() * static_cast<long>(count);
    if (pendingBaud_ != 0 && (bytesBeforeBaud_ -= count) == 0) {
      SetBaud(pendingBaud_);
      pendingBaud_ = 0;
    }
  }
}

std::vector<uint8_t> SerialLine::Receive() {
  std::vector<uint8_t> out;
  if (fd_ < 0) return out;
  uint8_t buffer[512];
  for (;;) {
    ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n <= 0) break;  // EAGAIN, or EIO while nobody has the slave open
    out.insert(out.end(), buffer, buffer + n);
  }
  if (!out.empty() && !LineSettingsMatch()) {
    NoteLineSettings(false);
    // At the wrong speed the receiver's UART sees framing errors.
    for (auto& b : out) b = static_cast<uint8_t>(~b ^ 0x5A);
  }
  return out;
}
