#include "testing/PtyPeer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace handheld::testing {

PtyPeer::PtyPeer() {
  char name[256] = {};
  termios raw{};
  cfmakeraw(&raw);
  cfsetspeed(&raw, B57600);
  if (openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
    master_ = slave_ = -1;
    return;
  }
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(slave_, F_SETFD, FD_CLOEXEC);
  slavePath_ = name;
}

PtyPeer::~PtyPeer() {
  if (master_ >= 0) close(master_);
  if (slave_ >= 0) close(slave_);
}

void PtyPeer::CloseMaster() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

bool PtyPeer::Write(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        pollfd p{master_, POLLOUT, 0};
        poll(&p, 1, 100);
        continue;
      }
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool PtyPeer::Write(const std::string& bytes) {
  return Write(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

namespace {
using Clock = std::chrono::steady_clock;
int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}
}  // namespace

std::vector<uint8_t> PtyPeer::Read(size_t count, int timeoutMs) {
  std::vector<uint8_t> out;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (out.size() < count) {
    int left = RemainingMs(deadline);
    if (left == 0) break;
    pollfd p{master_, POLLIN, 0};
    int r = poll(&p, 1, left);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    uint8_t buf[4096];
    size_t want = std::min(sizeof buf, count - out.size());
    ssize_t n = read(master_, buf, want);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  return out;
}

std::vector<uint8_t> PtyPeer::ReadFor(int timeoutMs, int quietMs) {
  std::vector<uint8_t> out;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int left = RemainingMs(deadline);
    if (left == 0) break;
    pollfd p{master_, POLLIN, 0};
    int r = poll(&p, 1, std::min(left, quietMs));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    uint8_t buf[4096];
    ssize_t n = read(master_, buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  return out;
}

}  // namespace handheld::testing
