// capture-decode: feeds a stored receiver capture through the viewer's own
// readers and decoders and prints what they accepted and decoded, one JSON
// object per line.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <memory>
#include <ostream>
#include <vector>

#include "BlockWriter.h"
#include "CommandLine.h"
#include "CaptureFilter.h"
#include "JsonWriter.h"
#include "NmeaCapture.h"
#include "SirfCapture.h"

namespace {

const char kHelp[] =
    "Usage: capture-decode [FILE | -]\n"
    "\n"
    "Feeds a receiver capture (FILE, or standard input when FILE is absent or\n"
    "\"-\") through the viewer's NMEA sentence reader, framed exactly as the serial\n"
    "reader thread's byte by byte delivery frames it, takes each sentence out as\n"
    "soon as it completes, validates it (length and checksum) and decodes it as\n"
    "the viewer's poll does.\n"
    "Prints one JSON object per line:\n"
    "  {\"type\":\"nmea\",\"id\":\"GPGSV\",\"record\":\"GsvRecord\",\"fields\":{...}}\n"
    "      an accepted sentence and every member of the record it updated;\n"
    "      texts and characters as strings, arrays as arrays\n"
    "  {\"type\":\"nmea\",\"id\":\"GPGLL\",\"record\":null}\n"
    "      an accepted sentence that no decoder takes\n"
    "  {\"type\":\"nmea\",\"rejected\":\"checksum\",\"length\":N}\n"
    "  {\"type\":\"nmea\",\"rejected\":\"length\",\"length\":100}\n"
    "      a rejected sentence (too long, or a wrong checksum) and its byte count\n"
    "  {\"type\":\"sirf\",\"mid\":2,\"length\":41,\"bytes\":49,\"checksum\":true,\"record\":\"NavDataRecord\",\n"
    "   \"fields\":{...},\"geodetic\":{\"latitude\":..,\"longitude\":..,\"height\":..}}\n"
    "      a SiRF binary frame, cut from the same bytes by the viewer's binary\n"
    "      frame reader and decoded by its decoders (length: the payload length\n"
    "      field; bytes: the frame as received); geodetic only for message 2\n"
    "  {\"type\":\"sirf\",\"mid\":41,...,\"checksum\":true,\"record\":null,\"payload\":\"29...\"}\n"
    "      a frame that no decoder keeps, its payload in hexadecimal\n"
    "  {\"type\":\"sirf\",\"mid\":2,\"length\":41,\"bytes\":49,\"checksum\":false}\n"
    "  {\"type\":\"summary\",\"bytes\":N,\"accepted\":N,\"rejectedLength\":N,\"rejectedChecksum\":N,\n"
    "   \"frames\":N,\"badFrames\":N}\n"
    "      last line; bytes counts the input as read, frames the binary frames\n"
    "      read out and badFrames those that failed their checksum\n"
    "\n"
    "Input preparation:\n"
    "  - lines that begin with \"#\" (outside a SiRF binary frame) are comments\n"
    "    and are skipped;\n"
    "  - captures store NMEA lines with LF alone while a receiver sends CR LF:\n"
    "    a CR is restored before each LF that ends a text line without one;\n"
    "  - SiRF binary frames (A0 A2 ... B0 B3) pass unchanged, without CR\n"
    "    restoring or comment skipping inside them.\n"
    "Text bytes outside printable ASCII are written as \\u00XX escapes.\n";

const size_t kReadBytes = 1 << 20;

// Everything that consumes the prepared byte stream.
struct Consumers {
  NmeaCapture nmea;
  SirfCapture sirf;
};

// Hands a run of prepared bytes to every consumer, each taking them in
// large pieces, and writes their lines in the order that handing over one
// byte at a time to each in turn (as the serial reader thread hands each
// received byte to the attached reader) would give: by the byte that
// completed each line, the NMEA line first should one byte complete both.
void FeedRun(Consumers& consumers, const uint8_t* data, size_t size) {
  NmeaCapture& nmea = consumers.nmea;
  SirfCapture& sirf = consumers.sirf;
  size_t nmeaAt = 0;  // bytes each has taken
  size_t sirfAt = 0;
  for (;;) {
    if (!nmea.LineReady() && nmeaAt < size) nmeaAt += nmea.FeedUntilLine(data + nmeaAt, size - nmeaAt);
    if (!sirf.LineReady() && sirfAt < size) sirfAt += sirf.FeedUntilLine(data + sirfAt, size - sirfAt);
    if (nmea.LineReady() && (!sirf.LineReady() || nmeaAt <= sirfAt)) {
      nmea.WriteLine();
    } else if (sirf.LineReady()) {
      sirf.WriteLine();
    } else {
      return;  // both have taken the whole run
    }
  }
}

void WriteSummary(std::ostream& out, const Consumers& consumers, uint64_t bytes) {
  JsonWriter json;
  json.BeginObject();
  json.Key("type").String("summary");
  json.Key("bytes").Int(static_cast<int64_t>(bytes));
  consumers.nmea.AddSummary(json);
  consumers.sirf.AddSummary(json);
  json.EndObject();
  out << json.Line() << '\n';
}

// Reads `fd` to its end in large blocks, preparing each as it arrives,
// handing what the filter gave to the consumers and flushing `out` after
// it, so that lines come out while a live stream is still being read.
// False on a read error.
bool ReadInto(int fd, CaptureFilter& filter, std::vector<uint8_t>& prepared, Consumers& consumers,
              std::ostream& out, uint64_t& bytes) {
  const std::unique_ptr<uint8_t[]> chunk(new uint8_t[kReadBytes]);
  for (;;) {
    const ssize_t n = read(fd, chunk.get(), kReadBytes);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += static_cast<uint64_t>(n);
    filter.Feed(chunk.get(), static_cast<size_t>(n));
    FeedRun(consumers, prepared.data(), prepared.size());
    prepared.clear();
    out.flush();
  }
}

}  // namespace

int main(int argc, char** argv) {
  const CommandLine::Options options{{nullptr, "--help", "-h", nullptr, "show this text", nullptr}};
  CommandLine::Words inputs;
  std::string error;
  switch (CommandLine::Parse(options, CommandLine::Arguments(argc, argv), &inputs, error)) {
    case CommandLine::Parsed::kHelp: return CommandLine::ShowHelp(kHelp);
    case CommandLine::Parsed::kWrong: return CommandLine::Refuse("capture-decode", error, kHelp);
    case CommandLine::Parsed::kDone: break;
  }
  if (inputs.size() > 1) return CommandLine::Refuse("capture-decode", "one input only", kHelp);
  const char* path = inputs.empty() ? nullptr : inputs[0].c_str();

  const bool fromStdin = path == nullptr || std::strcmp(path, "-") == 0;
  const int fd = fromStdin ? STDIN_FILENO : open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::cerr << "capture-decode: cannot open " << path << ": " << std::strerror(errno) << '\n';
    return 1;
  }

  std::ios::sync_with_stdio(false);
  BlockWriter block(STDOUT_FILENO);
  std::ostream out(&block);
  Consumers consumers{NmeaCapture(out), SirfCapture(out)};
  // What the filter gives for one block read: the block, a CR for each of
  // its line ends at most, and the bytes of a frame held from the block
  // before (a frame is at most its payload and 8 bytes).
  std::vector<uint8_t> prepared;
  prepared.reserve(kReadBytes + kReadBytes / 2 + CaptureFilter::kMaxPayload + 8);
  CaptureFilter filter([&prepared](const uint8_t* data, size_t size, bool /*inBinaryFrame*/) {
    prepared.insert(prepared.end(), data, data + size);
  });
  uint64_t bytes = 0;
  const bool readOk = ReadInto(fd, filter, prepared, consumers, out, bytes);
  const int readError = errno;
  if (!fromStdin) close(fd);
  if (!readOk) {
    out.flush();
    std::cerr << "capture-decode: cannot read " << (fromStdin ? "standard input" : path) << ": "
              << std::strerror(readError) << '\n';
    return 1;
  }
  filter.Finish();
  FeedRun(consumers, prepared.data(), prepared.size());
  WriteSummary(out, consumers, bytes);
  out.flush();
  return out.good() ? 0 : 1;
}
