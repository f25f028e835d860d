// The binary decoders behind DispatchFrame, reached with the fuzzer's
// payload inside a frame with a valid header, length and checksum: once
// through the frame reader (OnByte, ReadFrame) as the link delivers it, once
// handed to DispatchFrame directly, and once cut short, with the length
// field claiming more bytes than the frame has.
//
// Input: bytes 0 and 1 give the length of the cut frame (modulo the whole
// frame's length); the rest is the payload (its first byte the message id),
// at most the largest payload a frame holds.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "BinaryReader.h"
#include "FuzzCheck.h"
#include "SirfRecordChecks.h"
#include "WireFrames.h"

namespace {

void Dispatch(BinaryReader& reader, const std::vector<BYTE>& bytes, size_t count) {
  // A buffer of exactly `count` bytes, so that a read beyond them shows.
  std::vector<BYTE> frame(bytes.begin(), bytes.begin() + count);
  const bool valid = BinaryReader::FrameChecksumValid(frame.data(), static_cast<DWORD>(count));
  FUZZ_CHECK(count == bytes.size() || !valid);  // a cut frame never passes
  reader.DispatchFrame(frame.data(), static_cast<WORD>(count));
  CheckDecoded(reader);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const size_t cut = static_cast<size_t>(data[0]) << 8 | data[1];
  data += 2;
  size -= 2;
  if (size > BinaryReader::kMaxPayload) size = BinaryReader::kMaxPayload;
  // Framed by the tests' own builder, independent of the code under test.
  const std::vector<BYTE> frame = testsupport::SirfFrame(std::vector<BYTE>(data, data + size));

  BinaryReader reader(nullptr);
  FUZZ_CHECK(BinaryReader::FrameChecksumValid(frame.data(), static_cast<DWORD>(frame.size())));

  // Through the frame reader. A payload holding B0 B3 ends the frame early.
  for (BYTE b : frame) BinaryReader::OnByte(b, &reader);
  while (reader.HasFrame()) {
    std::vector<BYTE> buffer(BinaryReader::kSlotBytes);
    WORD count = 0;
    if (reader.ReadFrame(buffer.data(), count)) {
      buffer.resize(count);
      Dispatch(reader, buffer, count);
    }
  }

  Dispatch(reader, frame, frame.size());
  Dispatch(reader, frame, cut % (frame.size() + 1));
  return 0;
}
