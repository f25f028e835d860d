// The input of a byte-stream target: byte 0 sets how many bytes arrive
// between two polls of the reader (0: a poll after every byte, 255: the
// queue fills up between polls), byte 1 where in the stream the reader is
// reset (past the end: never); the rest is the byte stream.
#pragma once

#include <cstddef>
#include <cstdint>

template <class Feed, class Reset, class Poll>
void DriveStream(const uint8_t* data, size_t size, Feed feed, Reset reset, Poll poll) {
  if (size < 2) return;
  const size_t pollEvery = data[0] == 0 ? 1 : data[0];
  const size_t resetAt = data[1];
  for (size_t i = 0; i + 2 < size; ++i) {
    feed(data[i + 2]);
    if (i == resetAt) reset();
    if ((i + 1) % pollEvery == 0) poll();
  }
  poll();
}
