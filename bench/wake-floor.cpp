// The floor of a receive process with the viewer's wake-ups: one thread
// waits for the port and reads what came (poll(2), then read(2)), another
// wakes at a fixed period and does nothing. Run beside the viewer and gpsd
// by side-by-side.sh --floor, it shows what the wake-ups alone cost on the
// machine at hand.
//   wake-floor PORT [PERIOD-MS]   (default 500; 0: no second thread)
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

void Tick(long periodMs) {
  timespec next;
  clock_gettime(CLOCK_MONOTONIC, &next);
  for (;;) {
    next.tv_nsec += periodMs % 1000 * 1000000;
    next.tv_sec += periodMs / 1000 + next.tv_nsec / 1000000000;
    next.tv_nsec %= 1000000000;
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: wake-floor PORT [PERIOD-MS]\n");
    return 2;
  }
  const long periodMs = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 500;
  const int fd = open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios t;
  if (fd < 0 || tcgetattr(fd, &t) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  if (periodMs > 0) std::thread(Tick, periodMs).detach();
  unsigned char buffer[4096];
  unsigned long sum = 0;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 3100) < 0) continue;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) break;  // the far end has gone
    for (ssize_t i = 0; i < n; ++i) sum += buffer[i];
  }
  return static_cast<int>(sum & 1);
}
