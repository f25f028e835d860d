#include "SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "ProcessLifetime.h"
#include "handheld.h"

namespace handheld::detail {
namespace {

using Clock = std::chrono::steady_clock;

// While the device reports a hang-up, waits look at it again this often.
constexpr int kHangUpRecheckMs = 250;

// Time-outs beyond this (about 30 years) are as good as none.
constexpr uint64_t kLongestMs = uint64_t{1} << 40;

struct Speed {
  DWORD baud;
  speed_t code;
};
constexpr Speed kSpeeds[] = {
    {110, B110},       {300, B300},       {600, B600},       {1200, B1200},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},
    {38400, B38400},   {57600, B57600},   {115200, B115200}, {230400, B230400},
    {460800, B460800}, {921600, B921600},
};

bool SpeedCode(DWORD baud, speed_t* code) {
  for (const Speed& s : kSpeeds) {
    if (s.baud == baud) {
      *code = s.code;
      return true;
    }
  }
  return false;
}

DWORD BaudOf(speed_t code) {
  for (const Speed& s : kSpeeds)
    if (s.code == code) return s.baud;
  return 0;
}

// A serial driver hands bytes through untouched: no echo, no line editing,
// no translation, no signals. Line speed, framing and handshake stay.
void MakeRaw(termios* t) {
  t->c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY | IUCLC |
                  IMAXBEL);
  t->c_oflag &= ~OPOST;
  t->c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN | TOSTOP);
  t->c_cflag |= CLOCAL | CREAD;
  t->c_cc[VMIN] = 1;
  t->c_cc[VTIME] = 0;
}

// ---- the ports this process holds ----
struct Exclusive {
  std::mutex mutex;
  std::set<std::string> keys;
};
std::mutex& ExclusiveMutex() { return ProcessLifetime<Exclusive>::Get().mutex; }
std::set<std::string>& ExclusiveKeys() { return ProcessLifetime<Exclusive>::Get().keys; }

std::string DeviceKey(const std::string& hostDevice) {
  char resolved[PATH_MAX];
  if (realpath(hostDevice.c_str(), resolved)) return resolved;
  return hostDevice;
}

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
  if (left.count() <= 0) return 0;
  return static_cast<int>(std::min<int64_t>((left.count() + 999) / 1000, INT_MAX));
}

}  // namespace

// ---- opening and closing ----

std::shared_ptr<SerialPort> SerialPort::OpenDevice(const std::string& hostDevice, DWORD access,
                                                   Status* error) {
  // A serial port has one user at a time, whatever the share mode asks for
  // (opens without read or write access only look at its state).
  std::string key;
  if (access & (GENERIC_READ | GENERIC_WRITE)) {
    key = DeviceKey(hostDevice);
    std::lock_guard<std::mutex> lock(ExclusiveMutex());
    if (!ExclusiveKeys().insert(key).second) {
      *error = ERROR_ACCESS_DENIED;
      return nullptr;
    }
  }
  auto release = [&key] {
    if (key.empty()) return;
    std::lock_guard<std::mutex> lock(ExclusiveMutex());
    ExclusiveKeys().erase(key);
  };

  int fd = open(hostDevice.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = ErrorFromErrno(errno);
    release();
    return nullptr;
  }
  if (!isatty(fd)) {
    close(fd);
    *error = ERROR_FILE_NOT_FOUND;  // not a serial device
    release();
    return nullptr;
  }
  int closeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  int maskFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (closeFd < 0 || maskFd < 0) {
    *error = ErrorFromErrno(errno);
    if (closeFd >= 0) close(closeFd);
    if (maskFd >= 0) close(maskFd);
    close(fd);
    release();
    return nullptr;
  }
  auto port = std::make_shared<SerialPort>(fd, closeFd, maskFd, access, key);
  if (!port->Setup()) {
    *error = ERROR_GEN_FAILURE;
    return nullptr;  // the destructor gives the device back
  }
  *error = Status::Ok();
  return port;
}

SerialPort::SerialPort(int fd, int closeFd, int maskFd, DWORD access, std::string exclusiveKey)
    : fd_(fd), closeFd_(closeFd), maskFd_(maskFd), access_(access),
      exclusiveKey_(std::move(exclusiveKey)) {}

SerialPort::~SerialPort() {
  ReleaseExclusive();
  close(fd_);
  close(closeFd_);
  close(maskFd_);
}

// Puts the line into raw mode, raises DTR and RTS and drops whatever arrived
// while nobody had the port open, like a serial driver's open does.
bool SerialPort::Setup() {
  termios t{};
  if (tcgetattr(fd_, &t) != 0) return false;
  MakeRaw(&t);
  t.c_iflag &= ~(IXON | IXOFF);
  if (tcsetattr(fd_, TCSANOW, &t) != 0) return false;
  tcflush(fd_, TCIFLUSH);

  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = BaudOf(cfgetospeed(&t));
  dcb.fBinary = 1;
  dcb.fParity = (t.c_iflag & INPCK) ? 1 : 0;
  dcb.fOutxCtsFlow = (t.c_cflag & CRTSCTS) ? 1 : 0;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = (t.c_cflag & CRTSCTS) ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
  dcb.XonLim = 512;
  dcb.XoffLim = 128;
  switch (t.c_cflag & CSIZE) {
    case CS5:
      dcb.ByteSize = 5;
      break;
    case CS6:
      dcb.ByteSize = 6;
      break;
    case CS7:
      dcb.ByteSize = 7;
      break;
    default:
      dcb.ByteSize = 8;
      break;
  }
  if (!(t.c_cflag & PARENB))
    dcb.Parity = NOPARITY;
  else if (t.c_cflag & CMSPAR)
    dcb.Parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
  else
    dcb.Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
  dcb.StopBits = (t.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
  dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
  dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);

  SetLine(TIOCM_DTR, true);
  if (!dcb.fOutxCtsFlow) SetLine(TIOCM_RTS, true);
  std::lock_guard<std::mutex> lock(stateMutex_);
  dcb_ = dcb;
  dtr_ = true;
  rts_ = true;
  return true;
}

void SerialPort::OnClose() {
  closed_.store(true);
  uint64_t one = 1;
  ssize_t ignored = write(closeFd_, &one, sizeof one);
  (void)ignored;
  // The device is free for the next open at once, even while woken calls
  // are still on their way out.
  ReleaseExclusive();
}

void SerialPort::ReleaseExclusive() {
  std::string key;
  {
    std::lock_guard<std::mutex> lock(exclusiveMutex_);
    key.swap(exclusiveKey_);
  }
  if (key.empty()) return;
  std::lock_guard<std::mutex> lock(ExclusiveMutex());
  ExclusiveKeys().erase(key);
}

// ---- receiving ----

size_t SerialPort::RefillLocked() {
  rxBegin_ = rxEnd_ = 0;
  for (;;) {
    ssize_t n = read(fd_, rx_, sizeof rx_);
    if (n > 0) {
      hungUp_.store(false);
      drained_ = static_cast<size_t>(n) < sizeof rx_;
      size_t got = static_cast<size_t>(n);
      if (discardNulls_.load()) got = std::remove(rx_, rx_ + got, uint8_t{0}) - rx_;
      rxEnd_ = got;
      return got;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      hungUp_.store(false);
      drained_ = true;
      return 0;
    }
    drained_ = false;
    // End of file or an I/O error: the far end has gone (a pty whose other
    // side closed, a USB adapter pulled out).
    hungUp_.store(true);
    return 0;
  }
}

size_t SerialPort::TakeBuffered(uint8_t* out, size_t count, bool skipDrained) {
  std::lock_guard<SectionMutex> lock(rxMutex_);
  if (rxBegin_ == rxEnd_ && ((skipDrained && drained_) || RefillLocked() == 0)) return 0;
  size_t take = std::min(count, rxEnd_ - rxBegin_);
  std::memcpy(out, rx_ + rxBegin_, take);
  rxBegin_ += take;
  return take;
}

bool SerialPort::DataAvailable() {
  std::lock_guard<SectionMutex> lock(rxMutex_);
  return rxBegin_ != rxEnd_ || RefillLocked() != 0;
}

void SerialPort::PollInput(int timeoutMs, bool watchDevice, bool watchMask) {
  pollfd fds[3];
  nfds_t count = 0;
  bool hungUp = hungUp_.load();
  if (watchDevice && !hungUp) fds[count++] = pollfd{fd_, POLLIN, 0};
  fds[count++] = pollfd{closeFd_, POLLIN, 0};
  const nfds_t maskIndex = count;
  if (watchMask) fds[count++] = pollfd{maskFd_, POLLIN, 0};
  if (watchDevice && hungUp && (timeoutMs < 0 || timeoutMs > kHangUpRecheckMs))
    timeoutMs = kHangUpRecheckMs;
  if (poll(fds, count, timeoutMs) <= 0) return;
  if (watchMask && (fds[maskIndex].revents & POLLIN)) {
    uint64_t value;
    ssize_t ignored = read(maskFd_, &value, sizeof value);
    (void)ignored;
  }
}

bool SerialPort::TakeWhole(uint8_t* out, size_t count) {
  std::lock_guard<SectionMutex> lock(rxMutex_);
  if (rxEnd_ - rxBegin_ < count) return false;
  if (count == 1) {
    *out = rx_[rxBegin_];  // the reads of a byte at a time, without a call
  } else {
    std::memcpy(out, rx_ + rxBegin_, count);
  }
  rxBegin_ += count;
  return true;
}

// The time-outs as the platform defines them: MAXDWORD between bytes with
// no total returns what is there at once; MAXDWORD between bytes with a
// total returns as soon as anything is there, or at the total; otherwise a
// total of multiplier * count + constant and a limit on the gap between
// bytes, zero meaning no limit.
SerialPort::ReadRules SerialPort::ReadRules::For(const COMMTIMEOUTS& t, DWORD count) {
  ReadRules rules;
  rules.immediate = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                    t.ReadTotalTimeoutConstant == 0;
  rules.anyByte = t.ReadIntervalTimeout == MAXDWORD && !rules.immediate;
  rules.hasTotal = t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0;
  if (t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD)
    rules.intervalMs = t.ReadIntervalTimeout;
  uint64_t totalMs = t.ReadTotalTimeoutConstant;
  if (t.ReadTotalTimeoutMultiplier != MAXDWORD || !rules.anyByte)
    totalMs += uint64_t{t.ReadTotalTimeoutMultiplier} * count;
  rules.totalMs = std::min(totalMs, kLongestMs);
  return rules;
}

Status SerialPort::Read(void* buffer, DWORD count, DWORD* done) {
  *done = 0;
  if (closed_.load()) return ERROR_INVALID_HANDLE;
  if (!(access_ & GENERIC_READ)) return ERROR_ACCESS_DENIED;
  if (count == 0) return Status::Ok();
  auto* out = static_cast<uint8_t*>(buffer);
  // A read the buffer serves whole returns at once whatever the time-outs
  // say: the one-byte reads of a burst never look at them.
  if (TakeWhole(out, count)) {
    *done = count;
    return Status::Ok();
  }
  return ReadWaiting(out, count, done);
}

// The rest of Read, apart so that a read the buffer serves costs no more
// than the few tests above.
Status SerialPort::ReadWaiting(uint8_t* out, DWORD count, DWORD* done) {
  COMMTIMEOUTS t;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    t = timeouts_;
  }
  const ReadRules rules = ReadRules::For(t, count);
  // The clock is read only once the call has to wait.
  bool timing = false;
  Clock::time_point totalDeadline, lastByte;
  // A read that will wait for its first byte polls first when the device's
  // queue was found empty (the end of a burst): one read(2) fewer a burst.
  // (Not where it returns at once, nor where its total of 0 ends it before
  // any poll.)
  bool skipDrained = !rules.immediate && (!rules.hasTotal || rules.totalMs > 0);
  for (;;) {
    if (closed_.load()) return ERROR_INVALID_HANDLE;
    size_t got = TakeBuffered(out + *done, count - *done, skipDrained);
    skipDrained = false;
    if (got > 0) {
      *done += static_cast<DWORD>(got);
      if (timing) lastByte = Clock::now();
    }
    if (*done == count) return Status::Ok();
    if (got == 0 && hungUp_.load()) {
      if (*done > 0) return Status::Ok();
      return ERROR_DEVICE_REMOVED;  // nothing more will ever come
    }
    if (rules.immediate || (rules.anyByte && *done > 0)) return Status::Ok();
    if (!timing) {
      timing = true;
      lastByte = Clock::now();
      totalDeadline = lastByte + std::chrono::milliseconds(rules.totalMs);
    }
    int waitMs = -1;
    if (rules.hasTotal) waitMs = RemainingMs(totalDeadline);
    if (rules.intervalMs != 0 && *done > 0) {
      int gapMs = RemainingMs(lastByte + std::chrono::milliseconds(rules.intervalMs));
      waitMs = waitMs < 0 ? gapMs : std::min(waitMs, gapMs);
    }
    if (waitMs == 0) return Status::Ok();  // timed out: what came so far
    if (got == 0) PollInput(waitMs, true, false);
  }
}

Status SerialPort::WaitEvent(DWORD* mask) {
  *mask = 0;
  std::lock_guard<std::mutex> waiting(waitMutex_);
  if (closed_.load()) return ERROR_INVALID_HANDLE;
  DWORD events;
  uint64_t generation;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    events = eventMask_;
    generation = maskGeneration_;
  }
  if (events == 0) return ERROR_INVALID_PARAMETER;
  // Mask changes before this wait began are no concern of it.
  uint64_t stale;
  ssize_t ignored = read(maskFd_, &stale, sizeof stale);
  (void)ignored;

  // Only received characters are reported; the other events never occur.
  const bool watchRx = (events & EV_RXCHAR) != 0;
  for (;;) {
    if (closed_.load()) return ERROR_INVALID_HANDLE;
    {
      std::lock_guard<std::mutex> lock(stateMutex_);
      if (maskGeneration_ != generation) return Status::Ok();  // SetCommMask ends the wait, mask 0
    }
    if (watchRx && DataAvailable()) {
      *mask = EV_RXCHAR;
      return Status::Ok();
    }
    if (watchRx && hungUp_.load()) return ERROR_DEVICE_REMOVED;
    PollInput(-1, watchRx, true);
  }
}

// ---- sending ----

Status SerialPort::Write(const void* buffer, DWORD count, DWORD* done) {
  *done = 0;
  if (closed_.load()) return ERROR_INVALID_HANDLE;
  if (!(access_ & GENERIC_WRITE)) return ERROR_ACCESS_DENIED;
  if (count == 0) return Status::Ok();
  COMMTIMEOUTS t;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    t = timeouts_;
  }
  const bool hasTotal = t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0;
  const uint64_t totalMs = std::min(
      uint64_t{t.WriteTotalTimeoutMultiplier} * count + t.WriteTotalTimeoutConstant, kLongestMs);
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(totalMs);

  std::lock_guard<std::mutex> sending(txMutex_);
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  while (*done < count) {
    if (closed_.load()) return ERROR_INVALID_HANDLE;
    ssize_t n = write(fd_, bytes + *done, count - *done);
    if (n > 0) {
      *done += static_cast<DWORD>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EIO || errno == ENXIO)) {  // the far end has gone
      hungUp_.store(true);
      return ERROR_DEVICE_REMOVED;
    }
    if (n < 0 && errno != EAGAIN) return ERROR_GEN_FAILURE;
    int waitMs = hasTotal ? RemainingMs(deadline) : -1;
    if (waitMs == 0) return Status::Ok();  // timed out: what went so far
    pollfd fds[2] = {{fd_, POLLOUT, 0}, {closeFd_, POLLIN, 0}};
    poll(fds, 2, waitMs);
  }
  return Status::Ok();
}

Status SerialPort::Flush() {
  if (!(access_ & GENERIC_WRITE)) return ERROR_ACCESS_DENIED;
  for (;;) {
    if (closed_.load()) return ERROR_INVALID_HANDLE;
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return Status::Ok();
    if (hungUp_.load()) return ERROR_DEVICE_REMOVED;
    pollfd fd{closeFd_, POLLIN, 0};
    poll(&fd, 1, 5);
  }
}

// ---- the serial I/O controls ----

Status SerialPort::IoControl(DWORD code, void* in, DWORD inBytes, void* out, DWORD outBytes,
                             DWORD* returned) {
  *returned = 0;
  // A code's buffer is a value of its type, copied in or out whole (the
  // caller's buffer need not be aligned for it); one too short for it is
  // refused before a missing one.
  auto take = [&](auto value, auto set) -> Status {
    if (inBytes < sizeof value) return ERROR_INSUFFICIENT_BUFFER;
    if (!in) return ERROR_INVALID_PARAMETER;
    std::memcpy(&value, in, sizeof value);
    return set(value);
  };
  auto give = [&](auto value, auto get) -> Status {
    if (outBytes < sizeof value) return ERROR_INSUFFICIENT_BUFFER;
    if (!out) return ERROR_INVALID_PARAMETER;
    Status status = get(&value);
    std::memcpy(out, &value, sizeof value);
    *returned = sizeof value;
    return status;
  };
  switch (code) {
    case IOCTL_SERIAL_GET_DCB: return give(DCB{}, [this](DCB* v) { return GetState(v); });
    case IOCTL_SERIAL_SET_DCB: return take(DCB{}, [this](const DCB& v) { return SetState(v); });
    case IOCTL_SERIAL_GET_TIMEOUTS:
      return give(COMMTIMEOUTS{}, [this](COMMTIMEOUTS* v) { return GetTimeouts(v); });
    case IOCTL_SERIAL_SET_TIMEOUTS:
      return take(COMMTIMEOUTS{}, [this](const COMMTIMEOUTS& v) { return SetTimeouts(v); });
    case IOCTL_SERIAL_SET_WAIT_MASK: return take(DWORD{}, [this](DWORD v) { return SetMask(v); });
    case IOCTL_SERIAL_GET_WAIT_MASK: return give(DWORD{}, [this](DWORD* v) { return GetMask(v); });
    case IOCTL_SERIAL_WAIT_ON_MASK: return give(DWORD{}, [this](DWORD* v) { return WaitEvent(v); });
    case IOCTL_SERIAL_GET_MODEMSTATUS:
      return give(DWORD{}, [this](DWORD* v) { return ModemStatus(v); });
    case IOCTL_SERIAL_PURGE: return take(DWORD{}, [this](DWORD v) { return Purge(v); });
    default: return Escape(code);
  }
}

// ---- line settings ----

Status SerialPort::GetState(DCB* dcb) {
  std::lock_guard<std::mutex> lock(stateMutex_);
  *dcb = dcb_;
  dcb->DCBlength = sizeof(DCB);
  return Status::Ok();
}

Status SerialPort::SetState(const DCB& dcb) {
  if (closed_.load()) return ERROR_INVALID_HANDLE;
  speed_t speed;
  if (!SpeedCode(dcb.BaudRate, &speed) || dcb.ByteSize < 5 || dcb.ByteSize > 8 ||
      dcb.Parity > SPACEPARITY || dcb.StopBits > TWOSTOPBITS ||
      (dcb.StopBits == ONE5STOPBITS && dcb.ByteSize != 5) ||
      (dcb.StopBits == TWOSTOPBITS && dcb.ByteSize == 5) ||
      ((dcb.fOutX || dcb.fInX) && dcb.XonChar == dcb.XoffChar))
    return ERROR_INVALID_PARAMETER;

  std::lock_guard<std::mutex> lock(stateMutex_);
  termios t{};
  if (tcgetattr(fd_, &t) != 0) return ERROR_GEN_FAILURE;
  MakeRaw(&t);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_iflag &= ~(INPCK | IGNPAR | IXON | IXOFF);
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= kSizes[dcb.ByteSize - 5];
  switch (dcb.Parity) {
    case ODDPARITY:
      t.c_cflag |= PARENB | PARODD;
      break;
    case EVENPARITY:
      t.c_cflag |= PARENB;
      break;
    case MARKPARITY:
      t.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case SPACEPARITY:
      t.c_cflag |= PARENB | CMSPAR;
      break;
    default:
      break;
  }
  if (dcb.Parity != NOPARITY && dcb.fParity) t.c_iflag |= INPCK;
  // With five data bits the second stop bit is one and a half long.
  if (dcb.StopBits != ONESTOPBIT) t.c_cflag |= CSTOPB;
  if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) t.c_cflag |= CRTSCTS;
  if (dcb.fOutX) t.c_iflag |= IXON;
  if (dcb.fInX) t.c_iflag |= IXOFF;
  if (dcb.fOutX || dcb.fInX) {
    t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
  }
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  if (tcsetattr(fd_, TCSANOW, &t) != 0)
    return errno == EINVAL ? ERROR_INVALID_PARAMETER : ERROR_GEN_FAILURE;

  // Lines under handshake control count as raised; the device's own
  // handshake drives them. Devices without modem lines (ptys) just record.
  bool dtr = dcb.fDtrControl != DTR_CONTROL_DISABLE;
  bool rts = dcb.fRtsControl != RTS_CONTROL_DISABLE;
  if (dcb.fDtrControl != DTR_CONTROL_HANDSHAKE) SetLine(TIOCM_DTR, dtr);
  if (dcb.fRtsControl != RTS_CONTROL_HANDSHAKE) SetLine(TIOCM_RTS, rts);
  dtr_ = dtr;
  rts_ = rts;
  dcb_ = dcb;
  dcb_.DCBlength = sizeof(DCB);
  discardNulls_.store(dcb.fNull != 0);
  return Status::Ok();
}

Status SerialPort::GetTimeouts(COMMTIMEOUTS* timeouts) {
  std::lock_guard<std::mutex> lock(stateMutex_);
  *timeouts = timeouts_;
  return Status::Ok();
}

Status SerialPort::SetTimeouts(const COMMTIMEOUTS& timeouts) {
  if (closed_.load()) return ERROR_INVALID_HANDLE;
  if (timeouts.ReadIntervalTimeout == MAXDWORD &&
      timeouts.ReadTotalTimeoutMultiplier == MAXDWORD &&
      timeouts.ReadTotalTimeoutConstant == MAXDWORD)
    return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> lock(stateMutex_);
  timeouts_ = timeouts;
  return Status::Ok();
}

Status SerialPort::SetMask(DWORD mask) {
  if (closed_.load()) return ERROR_INVALID_HANDLE;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    eventMask_ = mask;
    ++maskGeneration_;
  }
  uint64_t one = 1;
  ssize_t ignored = write(maskFd_, &one, sizeof one);
  (void)ignored;
  return Status::Ok();
}

Status SerialPort::GetMask(DWORD* mask) {
  std::lock_guard<std::mutex> lock(stateMutex_);
  *mask = eventMask_;
  return Status::Ok();
}

Status SerialPort::Purge(DWORD flags) {
  if (closed_.load()) return ERROR_INVALID_HANDLE;
  if (flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
    return ERROR_INVALID_PARAMETER;
  if (flags & (PURGE_RXABORT | PURGE_RXCLEAR)) {
    std::lock_guard<SectionMutex> lock(rxMutex_);
    rxBegin_ = rxEnd_ = 0;
    tcflush(fd_, TCIFLUSH);
  }
  if (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) tcflush(fd_, TCOFLUSH);
  return Status::Ok();
}

void SerialPort::SetLine(int line, bool on) {
  // Fails on devices without modem lines; what was asked for is recorded.
  ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line);
}

Status SerialPort::Escape(DWORD code) {
  if (closed_.load()) return ERROR_INVALID_HANDLE;
  std::lock_guard<std::mutex> lock(stateMutex_);
  switch (code) {
    case IOCTL_SERIAL_SET_DTR:
    case IOCTL_SERIAL_CLR_DTR:
      dtr_ = code == IOCTL_SERIAL_SET_DTR;
      SetLine(TIOCM_DTR, dtr_);
      return Status::Ok();
    case IOCTL_SERIAL_SET_RTS:
    case IOCTL_SERIAL_CLR_RTS:
      rts_ = code == IOCTL_SERIAL_SET_RTS;
      SetLine(TIOCM_RTS, rts_);
      return Status::Ok();
    case IOCTL_SERIAL_SET_XOFF:
      tcflow(fd_, TCOOFF);
      return Status::Ok();
    case IOCTL_SERIAL_SET_XON:
      tcflow(fd_, TCOON);
      return Status::Ok();
    case IOCTL_SERIAL_SET_BREAK_ON:
      ioctl(fd_, TIOCSBRK);
      return Status::Ok();
    case IOCTL_SERIAL_SET_BREAK_OFF:
      ioctl(fd_, TIOCCBRK);
      return Status::Ok();
    default:  // a request no serial port serves
      return ERROR_INVALID_PARAMETER;
  }
}

Status SerialPort::ModemStatus(DWORD* status) {
  *status = 0;
  if (closed_.load()) return ERROR_INVALID_HANDLE;
  int lines = 0;
  if (ioctl(fd_, TIOCMGET, &lines) != 0) {  // no modem lines of its own: as recorded
    std::lock_guard<std::mutex> lock(stateMutex_);
    lines = farEnd_;
  }
  if (lines & TIOCM_CTS) *status |= MS_CTS_ON;
  if (lines & TIOCM_DSR) *status |= MS_DSR_ON;
  if (lines & TIOCM_RI) *status |= MS_RING_ON;
  if (lines & TIOCM_CD) *status |= MS_RLSD_ON;
  return Status::Ok();
}

void SerialPort::SetFarEnd(const FarEndLines& lines) {
  std::lock_guard<std::mutex> lock(stateMutex_);
  farEnd_ = (lines.cts ? TIOCM_CTS : 0) | (lines.dsr ? TIOCM_DSR : 0) |
            (lines.ring ? TIOCM_RI : 0) | (lines.rlsd ? TIOCM_CD : 0);
}

SerialLines SerialPort::Lines() {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return SerialLines{dtr_, rts_};
}

}  // namespace handheld::detail
