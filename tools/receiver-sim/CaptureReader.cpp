#include "CaptureReader.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

bool CaptureReader::Load(const std::string& path, std::vector<uint8_t>& stream,
                         std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  stream = Prepare(file);
  return true;
}

std::vector<uint8_t> CaptureReader::Prepare(const std::vector<uint8_t>& file) {
  std::vector<uint8_t> out;
  out.reserve(file.size() + file.size() / 16);
  size_t i = 0;
  const size_t n = file.size();
  while (i < n) {
    uint8_t b = file[i];
    if (b == '#') {
      // A comment runs to its LF, which goes with it.
      while (i < n && file[i] != '\n') ++i;
      if (i < n) ++i;
    } else if (b == '$') {
      // An NMEA line: up to its LF, with CR LF at the end.
      size_t end = i;
      while (end < n && file[end] != '\n') ++end;
      out.insert(out.end(), file.begin() + static_cast<long>(i), file.begin() + static_cast<long>(end));
      if (end < n) {
        if (out.back() != '\r') out.push_back('\r');
        out.push_back('\n');
        ++end;
      }
      i = end;
    } else if (b == 0xA0 && i + 3 < n && file[i + 1] == 0xA2) {
      // A binary frame, by its length field when its end markers sit where
      // the length says; otherwise up to the first B0 B3.
      size_t length = static_cast<size_t>(file[i + 2]) << 8 | file[i + 3];
      size_t end = i + 8 + length;
      if (!(end <= n && file[end - 2] == 0xB0 && file[end - 1] == 0xB3)) {
        end = i + 4;
        while (end + 1 < n && !(file[end] == 0xB0 && file[end + 1] == 0xB3)) ++end;
        end = end + 1 < n ? end + 2 : n;
      }
      out.insert(out.end(), file.begin() + static_cast<long>(i), file.begin() + static_cast<long>(end));
      i = end;
    } else {
      // Anything else between packets passes unchanged, a byte at a time.
      out.push_back(b);
      ++i;
    }
  }
  return out;
}
