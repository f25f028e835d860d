#include "CaptureReader.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "CaptureFilter.h"

bool CaptureReader::Load(const std::string& path, std::vector<uint8_t>& stream,
                         std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    error = path + ": read error";
    return false;
  }
  stream = CaptureFilter::FilterAll(file);
  return true;
}
