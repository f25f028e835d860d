// The status page drawn as the window draws it, on the headless 240 x 320
// screen: the page's background filled into the window's back buffer,
// PaintStatus over it for a receiver with twelve satellites and a valid
// fix, and the back buffer copied to the screen. Time per frame, with the
// caches warm from the frame before, and cold: on the handheld's half-second
// poll other programs run between two frames, so that what a frame touches
// comes from memory again.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "DisplaySnapshot.h"
#include "NmeaReader.h"
#include "ReceivePath.h"
#include "SirfSecond.h"
#include "StatusDisplay.h"
#include "ViewerState.h"
#include "testing/TempDevice.h"

namespace {

constexpr int kWidth = 240;
constexpr int kHeight = 320;

// What other programs do to the caches between two frames: 64 MB written
// and read back, more than any cache here holds. It takes milliseconds, so
// the cold frame runs a fixed number of times.
void EvictCaches() {
  static std::vector<uint64_t> other(size_t{8} << 20);
  uint64_t sum = 0;
  for (uint64_t& word : other) sum += ++word;
  benchmark::DoNotOptimize(sum);
}

template <bool kCold>
void BM_PaintAndBlit(benchmark::State& state) {
  setenv("HANDHELD_HEADLESS", "1", 1);
  handheld::testing::TempDevice device;
  StatusDisplay::CreateFonts(nullptr);

  // One second of receiver output through the viewer's own reader.
  ViewerState::currentReader = new NmeaReader(nullptr);
  NmeaReader& reader = *ViewerState::currentReader;
  const SirfSecond second;
  for (uint8_t b : second.Bytes()) NmeaReader::OnByte(b, &reader);
  ReceivePath::Drain(reader);
  DisplaySnapshot snapshot;
  std::memset(&snapshot, 0, sizeof snapshot);
  snapshot.gsa = reader.Gsa();
  snapshot.gsv = reader.Gsv();
  snapshot.rmc = reader.Rmc();
  lstrcpy(snapshot.installedDrivers, TEXT("Dovrin(0x0001)"));
  lstrcpy(snapshot.activeDriver, TEXT("Dovrin (0x0001)"));
  lstrcpy(snapshot.swVersion, TEXT("GSW2-2.05.024-C1Prod1.1"));

  // The back buffer lives as long as the window.
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, kWidth, kHeight);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  HBRUSH background = CreateSolidBrush(GetSysColor(COLOR_WINDOW));
  const RECT page = {0, 0, kWidth, kHeight};
  for (auto _ : state) {
    if (kCold) {
      state.PauseTiming();
      EvictCaches();
      state.ResumeTiming();
    }
    FillRect(memory, &page, background);
    StatusDisplay::PaintStatus(memory, snapshot);
    BitBlt(screen, 0, 0, kWidth, kHeight, memory, 0, 0, SRCCOPY);
  }
  DeleteObject(background);
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  ViewerState::DeleteCurrentReader();
}
BENCHMARK(BM_PaintAndBlit<false>)->Name("BM_PaintAndBlit")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PaintAndBlit<true>)
    ->Name("BM_PaintAndBlitCold")
    ->Iterations(300)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
