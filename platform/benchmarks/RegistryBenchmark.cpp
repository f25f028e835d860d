// Registry call costs on a real hive in a temporary device folder: the
// viewer's port search (open, enumerate, query) and the device manager's
// writes.
#include <benchmark/benchmark.h>

#include <string>

#include "handheld.h"
#include "testing/TempDevice.h"
#include "windows.h"

namespace {

void BM_OpenQueryClose(benchmark::State& state) {
  handheld::testing::TempDevice device;
  device.AddSerialPort(u"COM3:", "/dev/null");
  for (auto _ : state) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\Active\\01", 0, 0, &key) != ERROR_SUCCESS)
      state.SkipWithError("open failed");
    WCHAR name[16];
    DWORD bytes = sizeof name;
    RegQueryValueExW(key, u"Name", nullptr, nullptr, reinterpret_cast<BYTE*>(name), &bytes);
    RegCloseKey(key);
  }
}
BENCHMARK(BM_OpenQueryClose);

void BM_EnumerateActiveDrivers(benchmark::State& state) {
  handheld::testing::TempDevice device;
  for (int i = 0; i < state.range(0); ++i)
    handheld::RegisterSerialPort(u"COM9:", u"Drivers\\Serial", "/dev/null");
  HKEY active = nullptr;
  RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\Active", 0, 0, &active);
  for (auto _ : state) {
    for (DWORD i = 0;; ++i) {
      WCHAR name[8];
      DWORD chars = 8;
      if (RegEnumKeyExW(active, i, name, &chars, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
    }
  }
  RegCloseKey(active);
}
BENCHMARK(BM_EnumerateActiveDrivers)->Arg(4)->Arg(32);

void BM_SetDword(benchmark::State& state) {
  handheld::testing::TempDevice device;
  HKEY key = nullptr;
  DWORD disposition = 0;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Bench", 0, nullptr, 0, 0, nullptr, &key, &disposition);
  DWORD value = 0;
  for (auto _ : state) {
    ++value;
    if (RegSetValueExW(key, u"Counter", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4) !=
        ERROR_SUCCESS)
      state.SkipWithError("write failed");
  }
  RegCloseKey(key);
}
BENCHMARK(BM_SetDword);

}  // namespace
