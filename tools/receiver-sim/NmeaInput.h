// The receiver's NMEA input side: cuts received bytes into sentences from
// "$" to LF and checks each one's checksum.
#pragma once

#include <cstdint>
#include <string>

class NmeaInput {
 public:
  enum class Result { None, Sentence, BadChecksum, NoChecksum, TooLong };

  // Feeds one byte. When a line ends, answers what it was; `body` then holds
  // the text between "$" and "*" (or the whole line for a rejected one).
  Result OnByte(uint8_t byte, std::string& body);
  void Reset();

 private:
  static constexpr size_t kMaxLine = 120;
  bool inSentence_ = false;
  bool overflow_ = false;
  std::string line_;
};
