// Checks inside fuzz targets: a broken promise aborts the run, so that
// libFuzzer keeps the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>

#define FUZZ_CHECK(condition)                                                      \
  do {                                                                             \
    if (!(condition)) {                                                            \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                \
    }                                                                              \
  } while (0)

// A fixed text member holds its terminator within its own bytes.
template <size_t N>
inline bool Terminated(const char (&text)[N]) {
  return std::memchr(text, '\0', N) != nullptr;
}
