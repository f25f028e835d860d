// The capture decoder's input handling: any file content through the
// capture filter (comment lines, CR restoring, binary frames passed
// through), then through the NMEA and SiRF consumers as capture-decode
// feeds them, in pieces of the size a read returns. Every line written must
// be one JSON object of printable ASCII.
//
// Input: byte 0 sets the size of the pieces handed to the filter (0: the
// whole input at once); the rest is the file content.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "CaptureFilter.h"
#include "FuzzCheck.h"
#include "NmeaCapture.h"
#include "SirfCapture.h"

namespace {

void CheckLines(const std::string& output) {
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    FUZZ_CHECK(line.size() >= 2 && line.front() == '{' && line.back() == '}');
    for (unsigned char c : line) FUZZ_CHECK(c >= 0x20 && c < 0x7F);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t piece = data[0] == 0 ? size : data[0];
  data += 1;
  size -= 1;

  std::ostringstream out;
  NmeaCapture nmea(out);
  SirfCapture sirf(out);
  size_t passed = 0;
  CaptureFilter filter([&](uint8_t value, bool) {
    ++passed;
    nmea.OnByte(value);
    sirf.OnByte(value);
  });
  for (size_t at = 0; at < size; at += piece) filter.Feed(data + at, std::min(piece, size - at));
  filter.Finish();
  // The filter drops only comments and adds only CRs.
  FUZZ_CHECK(passed <= size + filter.RestoredCrs());
  CheckLines(out.str());
  return 0;
}
