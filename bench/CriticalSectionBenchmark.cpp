// The platform's critical section, entered and left uncontended (once and
// re-entered), and contended by two threads, beside std::mutex and
// std::recursive_mutex doing the same.
#include <benchmark/benchmark.h>

#include <mutex>

#include "SecondThread.h"
#include "windows.h"

namespace {

SecondThread parked;  // two threads, as in the viewer

class Section {
 public:
  Section() { InitializeCriticalSection(&cs); }
  ~Section() { DeleteCriticalSection(&cs); }
  void lock() { EnterCriticalSection(&cs); }
  void unlock() { LeaveCriticalSection(&cs); }

 private:
  CRITICAL_SECTION cs;
};

// Entered `Depth` times (2: re-entered while held) and left as often.
template <typename Mutex, int Depth>
void BM_Uncontended(benchmark::State& state) {
  Mutex mutex;
  long counter = 0;
  for (auto _ : state) {
    for (int i = 0; i < Depth; ++i) mutex.lock();
    ++counter;
    benchmark::DoNotOptimize(counter);
    for (int i = 0; i < Depth; ++i) mutex.unlock();
  }
}
BENCHMARK_TEMPLATE(BM_Uncontended, Section, 1)->Name("BM_CriticalSection");
BENCHMARK_TEMPLATE(BM_Uncontended, std::mutex, 1)->Name("BM_StdMutex");
BENCHMARK_TEMPLATE(BM_Uncontended, std::recursive_mutex, 1)->Name("BM_StdRecursiveMutex");
BENCHMARK_TEMPLATE(BM_Uncontended, Section, 2)->Name("BM_CriticalSectionReentered");
BENCHMARK_TEMPLATE(BM_Uncontended, std::recursive_mutex, 2)->Name("BM_StdRecursiveMutexReentered");

// Two threads taking turns at one lock, each holding it for a short count.
template <typename Mutex>
void BM_Contended(benchmark::State& state) {
  static Mutex* mutex = nullptr;
  static long counter = 0;
  if (state.thread_index() == 0) mutex = new Mutex;
  for (auto _ : state) {
    std::lock_guard<Mutex> hold(*mutex);
    for (int i = 0; i < 20; ++i) benchmark::DoNotOptimize(++counter);
  }
  if (state.thread_index() == 0) {
    delete mutex;
    mutex = nullptr;
  }
}
BENCHMARK_TEMPLATE(BM_Contended, Section)->Name("BM_CriticalSectionContended")->Threads(2)->UseRealTime();
BENCHMARK_TEMPLATE(BM_Contended, std::mutex)->Name("BM_StdMutexContended")->Threads(2)->UseRealTime();
BENCHMARK_TEMPLATE(BM_Contended, std::recursive_mutex)
    ->Name("BM_StdRecursiveMutexContended")
    ->Threads(2)
    ->UseRealTime();

}  // namespace
