#include "FloorFramer.h"

#include <cstring>

void FloorFramer::OnByte(uint8_t value) {
  unsigned& n = fill[writeSlot];
  switch (state) {
    case Idle:
      if (value != '$') return;
      n = 0;
      state = InSentence;
      break;
    case InSentence:
      if (value == '\r') state = GotCr;
      break;
    case GotCr:
      if (value != '\n') {
        n = 0;
        state = Idle;
        return;
      }
      if (n < kSlotBytes) slots[writeSlot][n++] = value;
      state = Idle;
      writeSlot = (writeSlot + 1) % kSlots;
      return;
  }
  if (n < kSlotBytes) slots[writeSlot][n++] = value;
}

bool FloorFramer::Take(char* buffer, unsigned& length) {
  if (readSlot == writeSlot) return false;
  length = fill[readSlot];
  std::memcpy(buffer, slots[readSlot], length);
  buffer[length] = '\0';
  fill[readSlot] = 0;
  readSlot = (readSlot + 1) % kSlots;
  return true;
}
