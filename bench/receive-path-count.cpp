// Runs the receive path over a number of seconds of a 1 Hz SiRF stream so
// that callgrind can count its instructions (bench/count-instructions.sh).
// Only the functions named Count* are counted; the program prints the bytes
// they processed.
//   receive-path-count whole|decode|floor|floor-mutexes [seconds]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "FloorFramer.h"
#include "NmeaReader.h"
#include "ReceivePath.h"
#include "SecondThread.h"
#include "SerialSession.h"
#include "SirfSecond.h"

// The counted parts, one call per second of the stream.
extern "C" __attribute__((noinline)) unsigned CountWholePath(SerialSession* session,
                                                             NmeaReader* reader,
                                                             const std::vector<uint8_t>* bytes) {
  for (uint8_t b : *bytes) session->DeliverByte(b);
  return ReceivePath::Drain(*reader);
}

extern "C" __attribute__((noinline)) unsigned CountDecoding(NmeaReader* reader) {
  return ReceivePath::Drain(*reader);
}

extern "C" __attribute__((noinline)) unsigned CountFloor(FloorFramer* framer, NmeaReader* decoder,
                                                         const std::vector<uint8_t>* bytes) {
  ReceivePath::NoLock a, b;
  return ReceivePath::Floor(*framer, *decoder, a, b, *bytes);
}

extern "C" __attribute__((noinline)) unsigned CountFloorMutexes(
    FloorFramer* framer, NmeaReader* decoder, std::mutex* sinkLock, std::mutex* readerLock,
    const std::vector<uint8_t>* bytes) {
  return ReceivePath::Floor(*framer, *decoder, *sinkLock, *readerLock, *bytes);
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: receive-path-count whole|decode|floor|floor-mutexes [seconds]\n");
    return 2;
  }
  const char* mode = argv[1];
  const unsigned seconds = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : 600;
  std::vector<SirfSecond> stream;
  for (unsigned s = 0; s < 60; ++s) stream.emplace_back(s);

  SecondThread parked;  // two threads, as in the viewer
  SerialSession session(u"COM3:", 57600);
  NmeaReader reader(&session);
  FloorFramer framer;
  NmeaReader decoder(nullptr);
  std::mutex sinkLock, readerLock;
  unsigned long long bytes = 0, sentences = 0, expected = 0;
  for (unsigned s = 0; s < seconds; ++s) {
    const SirfSecond& second = stream[s % stream.size()];
    const std::vector<uint8_t>& data = second.Bytes();
    if (std::strcmp(mode, "whole") == 0) {
      sentences += CountWholePath(&session, &reader, &data);
    } else if (std::strcmp(mode, "decode") == 0) {
      for (uint8_t b : data) session.DeliverByte(b);
      sentences += CountDecoding(&reader);
    } else if (std::strcmp(mode, "floor") == 0) {
      sentences += CountFloor(&framer, &decoder, &data);
    } else if (std::strcmp(mode, "floor-mutexes") == 0) {
      sentences += CountFloorMutexes(&framer, &decoder, &sinkLock, &readerLock, &data);
    } else {
      std::fprintf(stderr, "receive-path-count: unknown mode %s\n", mode);
      return 2;
    }
    bytes += data.size();
    expected += second.Sentences();
  }
  std::printf("bytes %llu sentences %llu\n", bytes, sentences);
  return sentences == expected ? 0 : 1;
}
