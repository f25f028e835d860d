// The cost floor of the sentence reader's framing: the same "$" to CR LF
// state machine into 15 slots of 100 bytes, as plain arrays with no lock,
// no ring objects and no checks beyond what framing needs. The benchmarks
// run it bare and with two plain mutexes around each byte.
#pragma once

#include <cstdint>

class FloorFramer {
 public:
  static const unsigned kSlots = 15;
  static const unsigned kSlotBytes = 100;

  void OnByte(uint8_t value);
  // The oldest complete sentence, NUL-terminated, into `buffer` (at least
  // kSlotBytes + 1 bytes); false when none waits.
  bool Take(char* buffer, unsigned& length);

 private:
  enum State { Idle, InSentence, GotCr };

  uint8_t slots[kSlots][kSlotBytes];
  unsigned fill[kSlots] = {};
  unsigned writeSlot = 0;
  unsigned readSlot = 0;
  State state = Idle;
};
