// The viewer's receive path on one second of a 1 Hz SiRF stream (GGA, GSA,
// three GSV, RMC, twelve satellites): every byte through the session's sink
// lock into NmeaReader::OnByte, as the reader thread hands it on, then the
// UI thread's drain with ReadSentence and DecodeSentence. Beside it the
// floor: the same framing into plain 100-byte slots with no lock and with
// two plain mutexes per byte, drained and decoded the same way.
#include <benchmark/benchmark.h>

#include <mutex>
#include <vector>

#include "FloorFramer.h"
#include "NmeaReader.h"
#include "ReceivePath.h"
#include "SecondThread.h"
#include "SerialSession.h"
#include "SirfSecond.h"

namespace {

SecondThread parked;  // two threads, as in the viewer

const unsigned kSeconds = 10;  // the stream cycles through this many seconds

std::vector<SirfSecond> Stream() {
  std::vector<SirfSecond> seconds;
  for (unsigned s = 0; s < kSeconds; ++s) seconds.emplace_back(s);
  return seconds;
}

// Bytes per second and the time per byte.
void Report(benchmark::State& state, size_t bytesPerIteration) {
  const double bytes = static_cast<double>(bytesPerIteration);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytesPerIteration));
  state.counters["per_byte"] = benchmark::Counter(
      bytes, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_ReceivePath(benchmark::State& state) {
  const std::vector<SirfSecond> stream = Stream();
  SerialSession session(u"COM3:", 57600);  // never opened: the bytes come from here
  NmeaReader reader(&session);
  size_t bytes = 0;
  unsigned second = 0;
  for (auto _ : state) {
    const std::vector<uint8_t>& data = stream[second].Bytes();
    for (uint8_t b : data) session.DeliverByte(b);
    if (ReceivePath::Drain(reader) != stream[second].Sentences()) state.SkipWithError("a sentence was lost");
    bytes += data.size();
    second = (second + 1) % kSeconds;
  }
  Report(state, bytes / (state.iterations() ? state.iterations() : 1));
}
BENCHMARK(BM_ReceivePath);

// ReadSentence and DecodeSentence alone: the slots are filled outside the
// timed part.
void BM_DecodeOnly(benchmark::State& state) {
  const std::vector<SirfSecond> stream = Stream();
  NmeaReader reader(nullptr);
  size_t bytes = 0;
  unsigned second = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::vector<uint8_t>& data = stream[second].Bytes();
    for (uint8_t b : data) NmeaReader::OnByte(b, &reader);
    state.ResumeTiming();
    if (ReceivePath::Drain(reader) != stream[second].Sentences()) state.SkipWithError("a sentence was lost");
    bytes += data.size();
    second = (second + 1) % kSeconds;
  }
  Report(state, bytes / (state.iterations() ? state.iterations() : 1));
}
BENCHMARK(BM_DecodeOnly);

template <typename Mutex>
void BM_Floor(benchmark::State& state) {
  const std::vector<SirfSecond> stream = Stream();
  FloorFramer framer;
  NmeaReader decoder(nullptr);
  Mutex sinkLock;
  Mutex readerLock;
  size_t bytes = 0;
  unsigned second = 0;
  for (auto _ : state) {
    const std::vector<uint8_t>& data = stream[second].Bytes();
    const unsigned accepted = ReceivePath::Floor(framer, decoder, sinkLock, readerLock, data);
    if (accepted != stream[second].Sentences()) state.SkipWithError("a sentence was lost");
    bytes += data.size();
    second = (second + 1) % kSeconds;
  }
  Report(state, bytes / (state.iterations() ? state.iterations() : 1));
}
BENCHMARK_TEMPLATE(BM_Floor, ReceivePath::NoLock)->Name("BM_FloorNoLock");
BENCHMARK_TEMPLATE(BM_Floor, std::mutex)->Name("BM_FloorTwoMutexes");

}  // namespace
