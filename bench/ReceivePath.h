// The receive paths that the benchmarks time and receive-path-count counts:
// the viewer's drain of its sentence reader, and the floor (framing into
// plain slots under two locks of a given kind, drained and decoded alike).
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "FloorFramer.h"
#include "NmeaReader.h"

class ReceivePath {
 public:
  // A lock that does nothing: the floor with no lock at all.
  struct NoLock {
    void lock() {}
    void unlock() {}
  };

  // What the UI thread does on its tick: every waiting sentence taken with
  // ReadSentence and, when accepted, decoded. Answers the accepted ones.
  static unsigned Drain(NmeaReader& reader) {
    char sentence[NmeaReader::kSentenceBufferSize];
    WORD length = 0;
    unsigned accepted = 0;
    while (reader.HasSentence()) {
      if (!reader.ReadSentence(sentence, length)) continue;
      reader.DecodeSentence(sentence);
      ++accepted;
    }
    return accepted;
  }

  // The floor: each byte framed under `sinkLock` and `readerLock`, then the
  // sentences taken under `readerLock`, checked (length and checksum) and
  // decoded by `decoder`. Answers the accepted ones.
  template <typename Mutex>
  static unsigned Floor(FloorFramer& framer, NmeaReader& decoder, Mutex& sinkLock,
                        Mutex& readerLock, const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes) {
      std::lock_guard<Mutex> outer(sinkLock);
      std::lock_guard<Mutex> inner(readerLock);
      framer.OnByte(b);
    }
    char sentence[FloorFramer::kSlotBytes + 1];
    unsigned length = 0;
    unsigned accepted = 0;
    for (;;) {
      {
        std::lock_guard<Mutex> hold(readerLock);
        if (!framer.Take(sentence, length)) break;
      }
      if (length >= FloorFramer::kSlotBytes || !NmeaReader::ChecksumValid(sentence)) continue;
      decoder.DecodeSentence(sentence);
      ++accepted;
    }
    return accepted;
  }
};
