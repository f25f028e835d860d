#include "CaptureReader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "CaptureFilter.h"

bool CaptureReader::Load(const std::string& path, std::vector<uint8_t>& stream,
                         std::string& error) {
  // Plain C reads: a path that opens but cannot be read (a folder) is an
  // error like any other, never an exception.
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  std::vector<uint8_t> file;
  uint8_t buffer[65536];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) file.insert(file.end(), buffer, buffer + got);
  const int readError = std::ferror(in) ? errno : 0;
  std::fclose(in);
  if (readError != 0) {
    error = path + ": " + std::strerror(readError);
    return false;
  }
  stream = CaptureFilter::FilterAll(file);
  return true;
}
