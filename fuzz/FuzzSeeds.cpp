// fuzz-seeds TESTDATA OUT: writes the seed corpus of every fuzz target into
// OUT/<target>/, from the receiver captures under TESTDATA (cut into pieces
// a fuzzer handles quickly) and from byte strings of the unit tests. Each
// seed starts with the header bytes its target reads first.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "CabControlFile.h"
#include "CabinetWrap.h"
#include "CaptureFilter.h"
#include "SirfTestSupport.h"
#include "WireFrames.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

// Sentences and frames the unit tests use: edge cases of framing, checksum
// and fields that the captures do not hold.
const char* const kTestSentences[] = {
    "$GPGGA,1*00\r\n",
    "$GPGGA,1,2,3\r\n",
    "$GPGGA,101010.5\r\n",
    "$GPGGA,1\r$GPGSA,2\r\n",
    "$GPGGA,1\n,2\r\n",
    "$GPGSA,A,3,08,07,11,28,17,26,,,,,,,02.6,01.5,02.1*06\r\n",
    "$GPGSV,1,1,02,300,10,70000,300,200,20,200,32\r\n",
    "$GPGSV,3,3,10,07,15,042,,31,02,300,\r\n",
    "$GPGSV,4,4,13,05,10,040,20*7F\r\n",
    "$GPRMC,030131.000,A,2638.1728,N,08011.3893,W,0.00,219.6,010413,3.1,E*20\r\n",
    "$GPRMC,1,V\r\n",
    "$GPRMC,,,,,,,,,,,\r\n",
    "$PXVRSWV,2,GSW3.2.4_3.1.00.12-SDK003P1.00a\r\n",
    "$PXVRCOF,-7\r\n",
    "$PXVRCOF,99999999999999\r\n",
    "$PSRF200,1,$*3z\r\n",
    "$PSRF200,2*3b\r\n",
    "$ID,12,-3,,x*1F\r\n",
    "$*00\r\n",
    "$P*5",
    "$GPGSAX,M,1,300,,,,,,,,,,,,99.99999,99.99999,99.99999999\r\n",
};

const char* const kTestFrames[] = {
    "00 FF A0 A2 00 02 84 00 00 84 B0 B3",
    "A0 A0 A2 00 01 0B 00 0B B0 B3",
    "A0 A2 00 03 42 43 44 00 C9 B0 B0 B3",
    "A0 A2 00 07 42 43 44 00 00 B0 B3",
    "A0 A2 00 02 0B 84 00 8F B0 B3",
};

// Payloads of each decoded message, of the length its decoder takes.
Bytes Payload(uint8_t id, size_t length, uint8_t second = 0) {
  Bytes payload(length);
  for (size_t i = 0; i < length; ++i) payload[i] = static_cast<uint8_t>(i * 7 + 3);
  payload[0] = id;
  if (length > 1 && second != 0) payload[1] = second;
  return payload;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Join(const Bytes& head, const Bytes& body) {
  Bytes all = head;
  all.insert(all.end(), body.begin(), body.end());
  return all;
}

// Pieces of at most `limit` bytes, cut after a LF where there is one.
std::vector<Bytes> Pieces(const Bytes& bytes, size_t limit) {
  std::vector<Bytes> pieces;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = std::min(bytes.size(), start + limit);
    for (size_t i = end; end < bytes.size() && i > start + limit / 2; --i) {
      if (bytes[i - 1] == '\n') {
        end = i;
        break;
      }
    }
    pieces.emplace_back(bytes.begin() + start, bytes.begin() + end);
    start = end;
  }
  return pieces;
}

// The SiRF frames of a prepared capture: A0 A2, length, payload, B0 B3.
std::vector<Bytes> Frames(const Bytes& bytes) {
  std::vector<Bytes> frames;
  for (size_t i = 0; i + 8 <= bytes.size(); ++i) {
    if (bytes[i] != 0xA0 || bytes[i + 1] != 0xA2) continue;
    const size_t length = static_cast<size_t>(bytes[i + 2]) << 8 | bytes[i + 3];
    if (i + 8 + length > bytes.size()) continue;
    if (bytes[i + 6 + length] != 0xB0 || bytes[i + 7 + length] != 0xB3) continue;
    frames.emplace_back(bytes.begin() + i, bytes.begin() + i + 8 + length);
    i += 7 + length;
  }
  return frames;
}

class Corpus {
 public:
  explicit Corpus(fs::path root) : root_(std::move(root)) {}
  void Add(const std::string& target, const Bytes& seed) {
    const fs::path dir = root_ / target;
    fs::create_directories(dir);
    char name[32];
    std::snprintf(name, sizeof name, "seed-%04d", next_[target]++);
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(seed.data()), static_cast<std::streamsize>(seed.size()));
  }
  size_t Count() const {
    size_t n = 0;
    for (const auto& [target, count] : next_) n += static_cast<size_t>(count);
    return n;
  }

 private:
  fs::path root_;
  std::map<std::string, int> next_;
};

// Registry operations (see RegistryFuzz.cpp): a driver entry whose "Key"
// names the GPS sleeve and whose "Name" is a port, then the port search; and
// the same with hostile sizes.
const Bytes kRegistrySeeds[] = {
    {3, 200, 4, 'A', 0, 'B', 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 2, 2, 0, 0, 0, 0, 1, 7, 0x40, 0},
    {0, 5, 0, 0, 0, 3, 0, 255, 20, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 1, 4, 0, 0, 0, 9, 3, 0, 2, 0, 0, 0,
     7, 0, 1, 5, 2, 1, 0, 200, 0, 20},
    {8, 251, 255, 1, 0x41, 0, 0xD8, 0, 0x42, 4, 0, 0, 0, 255, 5},
};

// Cabinets (see PackageFuzz.cpp): the GPS sleeve's control file without
// its plug-in, and one whose files go to a folder of their own and keep
// what is there; each as a control file (input byte 0 odd) and as the
// whole cabinet (even).
std::vector<Bytes> PackageSeeds() {
  using handheld::detail::CabControlFile;
  CabControlFile::Contents gps;
  gps.appName = "GpsSleeve";
  gps.provider = "Dovrin";
  gps.versionMin[0] = 3;
  gps.directories = {{1, {"%CE2%"}}};
  gps.files = {{1, 1, CabControlFile::kFileShared, "Tessiv.dll"},
               {2, 1, CabControlFile::kFileShared, "Ferrix.dll"},
               {3, 1, 0, "SleeveSerial.dll"}};
  gps.hives = {{1, CabControlFile::kRootLocalMachine, {"Drivers", "BuiltIn", "Tessiv"}}};
  gps.values = {{1, 1, false, CabControlFile::kValueString, "DLL", "Tessiv.dll", 0},
                {2, 1, false, CabControlFile::kValueDword, "Order", "", 20}};
  CabControlFile::Contents own = gps;
  own.appName = "A";
  own.directories = {{1, {"%CE1%", "A"}}, {2, {"%CE5%"}}};
  own.files = {{1, 1, 0x00000010, "a.dll"}, {2, 2, 0x00000400, "b.txt"}, {3, 1, 0, "c"}};
  own.values.push_back({3, 1, true, CabControlFile::kValueString | CabControlFile::kValueKeepExisting,
                        "Path", "%CE2%\\a.dll", 0});
  std::vector<Bytes> seeds;
  for (const CabControlFile::Contents* contents : {&gps, &own}) {
    Bytes control;
    std::string reason;
    if (!CabControlFile::Write(*contents, &control, &reason).ok()) continue;
    seeds.push_back(Join({1}, control));
    seeds.push_back(Join({0}, fuzzing::WrapInCabinet(control)));
  }
  return seeds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: fuzz-seeds TESTDATA OUT\n");
    return 2;
  }
  const fs::path testdata = argv[1];
  Corpus corpus(argv[2]);

  std::vector<fs::path> captures;
  for (const auto& entry : fs::recursive_directory_iterator(testdata))
    if (entry.is_regular_file() && entry.path().extension() == ".log") captures.push_back(entry.path());

  const Bytes streamHead = {0, 0xFF};     // poll after every byte, no reset
  const Bytes backlogHead = {255, 0xFF};  // let the queue fill up
  for (const fs::path& path : captures) {
    std::ifstream file(path, std::ios::binary);
    const Bytes raw((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const Bytes prepared = CaptureFilter::FilterAll(raw);

    for (const Bytes& piece : Pieces(raw, 2048)) corpus.Add("CaptureDecodeFuzz", Join({64}, piece));
    int n = 0;
    for (const Bytes& piece : Pieces(prepared, 1024)) {
      corpus.Add("NmeaReaderFuzz", Join(n++ % 2 ? backlogHead : streamHead, piece));
    }
    // One of each sentence kind of every capture for the field operations.
    std::map<std::string, int> kinds;
    size_t start = 0;
    for (size_t i = 0; i < prepared.size(); ++i) {
      if (prepared[i] != '\n') continue;
      const std::string line(prepared.begin() + start, prepared.begin() + i + 1);
      start = i + 1;
      if (line.size() < 7 || line[0] != '$') continue;
      if (kinds[line.substr(1, 5)]++ == 0) {
        Bytes head = {12, 'G', 'P', 'G', 'S', 'V', 0, 0, 0};
        corpus.Add("NmeaFieldFuzz", Join(head, Text(line)));
      }
    }
    const std::vector<Bytes> frames = Frames(prepared);
    if (!frames.empty()) {
      Bytes run;
      for (const Bytes& frame : frames) {
        run.insert(run.end(), frame.begin(), frame.end());
        if (run.size() > 1500) {
          corpus.Add("SirfStreamFuzz", Join(n++ % 2 ? backlogHead : streamHead, run));
          run.clear();
        }
      }
      if (!run.empty()) corpus.Add("SirfStreamFuzz", Join(streamHead, run));
      std::map<uint8_t, int> ids;
      for (const Bytes& frame : frames) {
        if (frame.size() > 8 && ids[frame[4]]++ < 2)
          corpus.Add("SirfPayloadFuzz", Join({0xFF, 0xFF}, Bytes(frame.begin() + 4, frame.end() - 4)));
      }
    }
  }

  for (const char* sentence : kTestSentences) {
    corpus.Add("NmeaReaderFuzz", Join(streamHead, Text(sentence)));
    corpus.Add("NmeaFieldFuzz", Join({7, 'G', 'P', 'G', 'G', 'A', 0, 0, 0}, Text(sentence)));
    corpus.Add("CaptureDecodeFuzz", Join({0}, Text(sentence)));
  }
  for (const char* hex : kTestFrames) {
    corpus.Add("SirfStreamFuzz", Join(streamHead, sirftest::FromHex(hex)));
    corpus.Add("CaptureDecodeFuzz", Join({0}, sirftest::FromHex(hex)));
  }
  const Bytes payloads[] = {
      Payload(2, 41),         Payload(4, 188),       Payload(19, 65), Payload(43, 26, 0x80),
      Payload(43, 15, 0x88),  Payload(43, 14, 0x88), Payload(2, 40),  Payload(11, 2),
      Join({6}, Text("GSW3.2.4_3.1.00.12-Dovrin-SDK003P1.00a")),
      Join({6}, Text("231.000.000_A2 with a text longer than a version holds")),
  };
  for (const Bytes& payload : payloads) {
    corpus.Add("SirfPayloadFuzz", Join({0x00, 0x05}, payload));
    corpus.Add("SirfStreamFuzz", Join(streamHead, testsupport::SirfFrame(payload)));
  }
  for (const Bytes& seed : kRegistrySeeds) corpus.Add("RegistryFuzz", seed);
  for (const Bytes& seed : PackageSeeds()) corpus.Add("PackageFuzz", seed);

  std::printf("%zu seeds from %zu captures\n", corpus.Count(), captures.size());
  return 0;
}
