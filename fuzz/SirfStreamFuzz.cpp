// The binary frame reader as the receiver link drives it: hostile bytes in
// through OnByte, frames taken out with ReadFrame (sometimes after every
// byte, sometimes only after the 50 slots have filled) and every frame read
// out handed to DispatchFrame, whether or not it passed its checksum test.
// Input as StreamDrive.h reads it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "BinaryReader.h"
#include "FuzzCheck.h"
#include "SirfRecordChecks.h"
#include "StreamDrive.h"

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
  BinaryReader reader(nullptr);
  DriveStream(
      data, size, [&](uint8_t value) { BinaryReader::OnByte(value, &reader); },
      [&] { reader.ResetFrames(); }, [&] { Poll(reader); });
  FUZZ_CHECK(!reader.HasFrame());
  return 0;
}
