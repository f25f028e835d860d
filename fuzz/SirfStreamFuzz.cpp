// The binary frame reader as the receiver link drives it: hostile bytes in
// through OnByte, frames taken out with ReadFrame (sometimes after every
// byte, sometimes only after the 50 slots have filled) and every frame read
// out handed to DispatchFrame, whether or not it passed its checksum test.
//
// Input: byte 0 sets how many bytes arrive between two polls (0: a poll
// after every byte), byte 1 where in the stream ResetFrames is called (past
// the end: never); the rest is the byte stream.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "BinaryReader.h"
#include "FuzzCheck.h"
#include "SirfRecordChecks.h"

namespace {

void Poll(BinaryReader& reader) {
  while (reader.HasFrame()) {
    // Exactly the room ReadFrame asks for, so that one byte too many shows.
    std::vector<BYTE> buffer(BinaryReader::kSlotBytes);
    WORD count = 0xFFFF;
    const bool valid = reader.ReadFrame(buffer.data(), count);
    FUZZ_CHECK(count <= BinaryReader::kSlotBytes);
    // A frame runs from A0 A2 to the first B0 B3 after them.
    FUZZ_CHECK(count >= 4 && buffer[0] == 0xA0 && buffer[1] == 0xA2);
    FUZZ_CHECK(buffer[count - 2] == 0xB0 && buffer[count - 1] == 0xB3);
    FUZZ_CHECK(valid == BinaryReader::FrameChecksumValid(buffer.data(), count));
    // Only the bytes received are handed over.
    std::vector<BYTE> frame(buffer.begin(), buffer.begin() + count);
    reader.DispatchFrame(frame.data(), count);
    CheckDecoded(reader);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t pollEvery = data[0] == 0 ? 1 : data[0];
  const size_t resetAt = data[1];
  data += 2;
  size -= 2;

  BinaryReader reader(nullptr);
  for (size_t i = 0; i < size; ++i) {
    BinaryReader::OnByte(data[i], &reader);
    if (i == resetAt) reader.ResetFrames();
    if ((i + 1) % pollEvery == 0) Poll(reader);
  }
  Poll(reader);
  FUZZ_CHECK(!reader.HasFrame());
  return 0;
}
