// Test support: NMEA sentences and SiRF binary frames built from the
// protocols' definitions, independently of the code under test.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<uint8_t>;

// "$" body "*hh" CR LF, hh being the XOR of the body's bytes.
inline std::string NmeaSentence(const std::string& body) {
  unsigned sum = 0;
  for (unsigned char c : body) sum ^= c;
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
  return "$" + body + tail;
}

// A0 A2, the payload's length (high byte first), the payload, the 15-bit
// sum of its bytes (high byte first), B0 B3.
inline Bytes SirfFrame(const Bytes& payload) {
  unsigned sum = 0;
  for (uint8_t b : payload) sum += b;
  sum &= 0x7FFF;
  Bytes frame;
  frame.reserve(payload.size() + 8);
  for (unsigned b : {0xA0u, 0xA2u, unsigned(payload.size() >> 8), unsigned(payload.size() & 0xFF)})
    frame.push_back(static_cast<uint8_t>(b));
  for (uint8_t b : payload) frame.push_back(b);
  for (unsigned b : {sum >> 8, sum & 0xFF, 0xB0u, 0xB3u}) frame.push_back(static_cast<uint8_t>(b));
  return frame;
}

}  // namespace testsupport
