// The field operations and decoders on hostile text: any NUL-terminated
// text, with or without "$", delimiters, checksum or line end, as a caller
// might hand it over without the sentence reader's checks.
//
// Input: byte 0 is the capacity given to FieldText (0 to 31), bytes 1 to 8
// an id for SentenceIdIs (up to its first NUL); the rest is the text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzCheck.h"
#include "NmeaReader.h"
#include "NmeaRecordChecks.h"
#include "WidenAscii.h"

namespace {

const char* const kIds[] = {"GPGGA", "GPGSA", "GPGSV", "GPRMC", "PXVRSWV", "PXVRCOF", ""};

// Steps through every field of `text` (which ends at `end`, its NUL).
void WalkFields(char* text, const char* end, size_t capacity) {
  std::vector<char> destination(capacity);
  char* p = text;
  for (int field = 0; field < 200; ++field) {
    FUZZ_CHECK(p >= text && p <= end);
    const int length = NmeaReader::FieldLength(p);
    FUZZ_CHECK(length >= 0 && p + length <= end);
    NmeaReader::FieldInt(p);
    NmeaReader::FieldText(destination.data(), capacity, p);
    if (capacity > 0) {
      const size_t kept = std::strlen(destination.data());
      FUZZ_CHECK(kept < capacity && kept <= static_cast<size_t>(length));
      FUZZ_CHECK(std::memcmp(destination.data(), p, kept) == 0);
    }
    char* next = NmeaReader::NextField(p);
    FUZZ_CHECK(next >= p && next <= end);
    if (next == p) break;  // at the end of the fields: every further field is empty
    p = next;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 9) return 0;
  const size_t capacity = data[0] % 32;
  char id[9] = {};
  std::memcpy(id, data + 1, 8);
  data += 9;
  size -= 9;

  // The text in a buffer of exactly its size, so that a read past its NUL shows.
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  const std::vector<char> original = text;
  char* const start = text.data();
  const char* const end = start + std::strlen(start);

  NmeaReader::SentenceIdIs(id, start);
  for (const char* known : kIds) NmeaReader::SentenceIdIs(known, start);
  NmeaReader::ChecksumValid(start);
  WalkFields(start, end, capacity);
  FUZZ_CHECK(text == original);

  NmeaReader reader(nullptr);
  reader.DecodeSentence(start);
  reader.DecodeGga(start);
  reader.DecodeGsa(start);
  reader.DecodeGsv(start);
  reader.DecodeRmc(start);
  reader.DecodeSwv(start);
  reader.DecodeCof(start);
  FUZZ_CHECK(text == original);
  CheckRecords(reader);

  std::vector<WCHAR> wide(capacity);
  WidenAscii(wide.data(), static_cast<DWORD>(capacity), start);
  return 0;
}
