// One-byte ReadFile on a serial port, the way a GPS viewer's reader thread
// reads: throughput when the port's buffer serves the calls, and a raw
// one-byte read(2) per call on the same tty for comparison.
#include <unistd.h>

#include <vector>

#include <benchmark/benchmark.h>

#include "handheld.h"
#include "testing/PtyPeer.h"
#include "testing/TempDevice.h"

namespace {

using handheld::testing::PtyPeer;
using handheld::testing::TempDevice;

constexpr size_t kChunk = 2048;

void BM_ReadFileOneByte(benchmark::State& state) {
  TempDevice device;
  PtyPeer peer;
  device.AddSerialPort(u"COM3:", peer.slavePath());
  HANDLE port = CreateFileW(u"COM3:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    state.SkipWithError("cannot open the port");
    return;
  }
  COMMTIMEOUTS timeouts{MAXDWORD, 100, 3000, 10, 1000};
  SetCommTimeouts(port, &timeouts);
  std::vector<uint8_t> chunk(kChunk, 'x');
  size_t left = 0;
  for (auto _ : state) {
    if (left == 0) {
      peer.Write(chunk);
      left = kChunk;
    }
    uint8_t byte;
    DWORD got = 0;
    if (!ReadFile(port, &byte, 1, &got, nullptr) || got != 1) {
      state.SkipWithError("read failed");
      break;
    }
    --left;
    benchmark::DoNotOptimize(byte);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()));
  CloseHandle(port);
}
BENCHMARK(BM_ReadFileOneByte);

void BM_ReadSyscallOneByte(benchmark::State& state) {
  PtyPeer peer;
  std::vector<uint8_t> chunk(kChunk, 'x');
  size_t left = 0;
  for (auto _ : state) {
    if (left == 0) {
      peer.Write(chunk);
      left = kChunk;
    }
    uint8_t byte;
    if (read(peer.slaveFd(), &byte, 1) != 1) {
      state.SkipWithError("read failed");
      break;
    }
    --left;
    benchmark::DoNotOptimize(byte);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_ReadSyscallOneByte);

}  // namespace
