// The sentence reader as the receiver link drives it: hostile bytes in
// through OnByte, sentences taken out with ReadSentence (sometimes after
// every byte, sometimes only after the queue has filled), and every accepted
// sentence decoded.
// Input as StreamDrive.h reads it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzCheck.h"
#include "NmeaReader.h"
#include "NmeaRecordChecks.h"
#include "StreamDrive.h"

namespace {

void Poll(NmeaReader& reader) {
  while (reader.HasSentence()) {
    // Exactly the size ReadSentence asks for, so that one byte too many shows.
    std::vector<char> buffer(NmeaReader::kSentenceBufferSize);
    WORD length = 0xFFFF;
    const bool accepted = reader.ReadSentence(buffer.data(), length);
    FUZZ_CHECK(length <= NmeaReader::kMaxSentence);
    FUZZ_CHECK(buffer[length] == '\0');
    if (!accepted) continue;
    FUZZ_CHECK(length < NmeaReader::kMaxSentence);
    FUZZ_CHECK(std::strlen(buffer.data()) == length);
    FUZZ_CHECK(NmeaReader::ChecksumValid(buffer.data()));
    const std::vector<char> before = buffer;
    reader.DecodeSentence(buffer.data());
    FUZZ_CHECK(before == buffer);  // decoding leaves the text as it was
    CheckRecords(reader);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  NmeaReader reader(nullptr);
  DriveStream(
      data, size, [&](uint8_t value) { NmeaReader::OnByte(value, &reader); },
      [&] { reader.Reset(); }, [&] { Poll(reader); });
  FUZZ_CHECK(!reader.HasSentence());
  return 0;
}
