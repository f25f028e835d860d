// The sentence reader as the receiver link drives it: hostile bytes in
// through OnByte, sentences taken out with ReadSentence (sometimes after
// every byte, sometimes only after the queue has filled), and every accepted
// sentence decoded.
//
// Input: byte 0 sets how many bytes arrive between two polls (0: a poll
// after every byte), byte 1 where in the stream the reader is Reset (past
// the end: never); the rest is the byte stream.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzCheck.h"
#include "NmeaReader.h"
#include "NmeaRecordChecks.h"

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
  if (size < 2) return 0;
  const size_t pollEvery = data[0] == 0 ? 1 : data[0];
  const size_t resetAt = data[1];
  data += 2;
  size -= 2;

  NmeaReader reader(nullptr);
  for (size_t i = 0; i < size; ++i) {
    NmeaReader::OnByte(data[i], &reader);
    if (i == resetAt) reader.Reset();
    if ((i + 1) % pollEvery == 0) Poll(reader);
  }
  Poll(reader);
  FUZZ_CHECK(!reader.HasSentence());
  return 0;
}
