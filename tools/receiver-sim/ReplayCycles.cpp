#include "ReplayCycles.h"

#include <cstdlib>
#include <string>

namespace {

// A record's time: UTC seconds of the day (NMEA) or GPS seconds of the week
// (binary), which are never compared with each other.
struct Stamp {
  enum Kind { None, UtcOfDay, GpsOfWeek } kind = None;
  double seconds = 0;
};

std::string Field(const std::string& sentence, int index) {
  size_t at = 0;
  for (int i = 0; i < index; ++i) {
    at = sentence.find(',', at);
    if (at == std::string::npos) return "";
    ++at;
  }
  size_t end = sentence.find_first_of(",*", at);
  return sentence.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

Stamp SentenceStamp(const std::string& sentence) {
  const std::string id = Field(sentence, 0);
  if (id.size() < 4) return {};
  const std::string type = id.substr(id.size() - 3);
  int index = type == "GGA" || type == "RMC" || type == "ZDA" ? 1 : type == "GLL" ? 5 : 0;
  if (index == 0) return {};
  const std::string t = Field(sentence, index);
  if (t.size() < 6) return {};
  for (size_t i = 0; i < 6; ++i)
    if (t[i] < '0' || t[i] > '9') return {};
  double seconds = std::atoi(t.substr(0, 2).c_str()) * 3600 + std::atoi(t.substr(2, 2).c_str()) * 60 +
                   std::atof(t.substr(4).c_str());
  return {Stamp::UtcOfDay, seconds};
}

uint32_t Big32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b[at]) << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3];
}

// `payload` is where the frame's payload starts in the stream.
Stamp FrameStamp(const std::vector<uint8_t>& s, size_t payload, size_t length) {
  const uint8_t id = s[payload];
  if (id == 2 && length >= 24) return {Stamp::GpsOfWeek, Big32(s, payload + 20) / 100.0};
  if (id == 4 && length >= 7) return {Stamp::GpsOfWeek, Big32(s, payload + 3) / 100.0};
  if (id == 41 && length >= 11) return {Stamp::GpsOfWeek, Big32(s, payload + 7) / 1000.0};
  return {};
}

// The record that starts at `at`: its length in bytes (0: no record there)
// and its time.
size_t RecordAt(const std::vector<uint8_t>& s, size_t at, Stamp& stamp) {
  stamp = {};
  if (s[at] == '$') {
    size_t end = at + 1;
    while (end < s.size() && s[end] != '\n' && s[end] != '$' && end - at < 200) ++end;
    if (end >= s.size() || s[end] != '\n') return 0;
    stamp = SentenceStamp(std::string(s.begin() + static_cast<long>(at) + 1, s.begin() + static_cast<long>(end)));
    return end + 1 - at;
  }
  if (s[at] == 0xA0 && at + 4 < s.size() && s[at + 1] == 0xA2) {
    const size_t length = static_cast<size_t>(s[at + 2]) << 8 | s[at + 3];
    if (length == 0 || at + 8 + length > s.size()) return 0;
    stamp = FrameStamp(s, at + 4, length);
    return 8 + length;
  }
  return 0;
}

}  // namespace

std::vector<ReplayCycle> ReplayCycles::Split(const std::vector<uint8_t>& stream) {
  std::vector<ReplayCycle> cycles(1);
  Stamp current;   // time of the cycle being filled, of its first timed record
  size_t at = 0;
  while (at < stream.size()) {
    Stamp stamp;
    size_t length = RecordAt(stream, at, stamp);
    if (length == 0) length = 1;
    if (stamp.kind != Stamp::None) {
      if (current.kind == Stamp::None) {
        current = stamp;
      } else if (stamp.kind != current.kind || stamp.seconds != current.seconds) {
        // A switch between NMEA and binary starts a cycle of its own.
        double gap = stamp.kind == current.kind ? stamp.seconds - current.seconds : 1.0;
        cycles.push_back({{}, gap > 0 && gap <= 10 ? gap : 1.0});
        current = stamp;
      }
    }
    auto& bytes = cycles.back().bytes;
    bytes.insert(bytes.end(), stream.begin() + static_cast<long>(at),
                 stream.begin() + static_cast<long>(at + length));
    at += length;
  }
  return cycles;
}
