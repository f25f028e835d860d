// The serial path of the viewer's reader thread: bytes from a
// pseudo-terminal through WaitCommEvent and one-byte ReadFile calls, per
// byte. The far end writes one second of a 1 Hz SiRF stream outside the
// timed part and the timing resumes once the bytes have reached the line.
#include <sys/ioctl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <vector>

#include "SirfSecond.h"
#include "handheld.h"
#include "testing/PtyPeer.h"
#include "testing/TempDevice.h"

namespace {

using handheld::testing::PtyPeer;
using handheld::testing::TempDevice;

// The port as the session opens it: read and write, its time-outs.
HANDLE OpenPort() {
  HANDLE port = CreateFileW(u"COM3:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (port == INVALID_HANDLE_VALUE) return port;
  COMMTIMEOUTS timeouts{MAXDWORD, 100, 3000, 10, 1000};
  SetCommTimeouts(port, &timeouts);
  SetCommMask(port, EV_RXCHAR);
  return port;
}

// Outside the timed part: writes the bytes at the far end and waits until
// the line holds them. False (the benchmark then stops with an error) when
// they do not arrive.
bool Send(benchmark::State& state, PtyPeer& peer, const std::vector<uint8_t>& bytes) {
  state.PauseTiming();
  bool arrived = false;
  if (peer.Write(bytes)) {
    for (int i = 0; i < 100000 && !arrived; ++i) {
      int waiting = 0;
      if (ioctl(peer.slaveFd(), FIONREAD, &waiting) != 0) break;
      arrived = waiting >= static_cast<int>(bytes.size());
      if (!arrived) usleep(10);
    }
  }
  state.ResumeTiming();
  if (!arrived) state.SkipWithError("the far end could not write");
  return arrived;
}

void Report(benchmark::State& state, size_t bytesPerIteration) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytesPerIteration));
  state.counters["per_byte"] =
      benchmark::Counter(static_cast<double>(bytesPerIteration),
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// One wait for characters, then one ReadFile per byte, as the reader thread
// does while the receiver is sending.
void BM_WaitAndReadOneByte(benchmark::State& state) {
  TempDevice device;
  PtyPeer peer;
  device.AddSerialPort(u"COM3:", peer.slavePath());
  HANDLE port = OpenPort();
  if (port == INVALID_HANDLE_VALUE) {
    state.SkipWithError("cannot open the port");
    return;
  }
  const std::vector<uint8_t> second = SirfSecond().Bytes();
  const bool waitEachByte = state.range(0) != 0;
  for (auto _ : state) {
    if (!Send(state, peer, second)) break;
    DWORD events = 0;
    if (!WaitCommEvent(port, &events, nullptr) || (events & EV_RXCHAR) == 0) {
      state.SkipWithError("no characters signalled");
      break;
    }
    for (size_t i = 0; i < second.size(); ++i) {
      if (waitEachByte && i > 0) WaitCommEvent(port, &events, nullptr);
      BYTE value = 0;
      DWORD got = 0;
      if (!ReadFile(port, &value, 1, &got, nullptr) || got != 1) {
        state.SkipWithError("read failed");
        break;
      }
      benchmark::DoNotOptimize(value);
    }
  }
  Report(state, second.size());
  CloseHandle(port);
}
// 0: one wait per burst (the reader thread's loop); 1: a wait before every byte.
BENCHMARK(BM_WaitAndReadOneByte)->ArgName("wait_each_byte")->Arg(0)->Arg(1);

// The same bytes with one read(2) per byte on the tty, for comparison.
void BM_ReadSyscallOneByte(benchmark::State& state) {
  PtyPeer peer;
  const std::vector<uint8_t> second = SirfSecond().Bytes();
  for (auto _ : state) {
    if (!Send(state, peer, second)) break;
    for (size_t i = 0; i < second.size(); ++i) {
      uint8_t value = 0;
      if (read(peer.slaveFd(), &value, 1) != 1) {
        state.SkipWithError("read failed");
        break;
      }
      benchmark::DoNotOptimize(value);
    }
  }
  Report(state, second.size());
}
BENCHMARK(BM_ReadSyscallOneByte);

}  // namespace
