// What the binary reader's decoded data promises whatever frames came in.
#pragma once

#include "BinaryReader.h"
#include "FuzzCheck.h"

template <size_t N>
inline bool WideTerminated(const WCHAR (&text)[N]) {
  for (size_t i = 0; i < N; ++i)
    if (text[i] == 0) return true;
  return false;
}

inline void CheckDecoded(const BinaryReader& reader) {
  FUZZ_CHECK(WideTerminated(reader.MakerVersion) && WideTerminated(reader.BaseVersion));
}
