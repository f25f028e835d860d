// Helpers shared by the NMEA reader tests: feeding text through the byte
// sink and taking sentences out.
#pragma once

#include <string>
#include <vector>

#include "NmeaReader.h"
#include "WireFrames.h"

namespace nmea_test {

inline void Feed(NmeaReader& reader, const std::string& bytes) {
  for (unsigned char c : bytes) NmeaReader::OnByte(c, &reader);
}

using testsupport::NmeaSentence;

// Takes every waiting sentence; each entry is the text and whether it was accepted.
struct Taken {
  std::string text;
  bool accepted;
};

inline std::vector<Taken> TakeAll(NmeaReader& reader) {
  std::vector<Taken> out;
  char buffer[NmeaReader::kSentenceBufferSize];
  WORD length = 0;
  while (reader.HasSentence()) {
    bool ok = reader.ReadSentence(buffer, length);
    out.push_back({std::string(buffer, length), ok});
  }
  return out;
}

}  // namespace nmea_test
