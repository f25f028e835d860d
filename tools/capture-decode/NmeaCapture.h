// The NMEA part of the capture decoder: a real NmeaReader fed one byte at a
// time as the serial reader thread feeds it (OnByte), or a block at a time
// framed the same way (FeedUntilLine), with every sentence taken out as
// soon as it completes (so the queue never fills), validated and decoded as
// the viewer's poll does, and written as one JSON line:
//   {"type":"nmea","id":"GPGSV","record":"GsvRecord","fields":{...}}
//   {"type":"nmea","id":"GPGLL","record":null}          accepted, no decoder
//   {"type":"nmea","rejected":"checksum","length":N}
//   {"type":"nmea","rejected":"length","length":100}
#pragma once

#include <cstdint>
#include <ostream>
#include <string_view>

#include "JsonWriter.h"
#include "NmeaReader.h"

class NmeaCapture {
 public:
  explicit NmeaCapture(std::ostream& out);

  NmeaCapture(const NmeaCapture&) = delete;
  NmeaCapture& operator=(const NmeaCapture&) = delete;

  // One byte; the line of a sentence it completes is written at once.
  void OnByte(uint8_t value);
  // Feeds `data` up to and including the byte that completes a sentence and
  // builds that sentence's line, kept until WriteLine; feeds all of `data`
  // when none completes. Answers how many bytes it fed.
  size_t FeedUntilLine(const uint8_t* data, size_t size);
  bool LineReady() const { return lineReady_; }
  // Writes the line built by FeedUntilLine to the stream.
  void WriteLine();
  // Adds "accepted", "rejectedLength" and "rejectedChecksum" to an open object.
  void AddSummary(JsonWriter& json) const;

  uint64_t Accepted() const { return accepted_; }
  uint64_t RejectedLength() const { return rejectedLength_; }
  uint64_t RejectedChecksum() const { return rejectedChecksum_; }

  // The sentence id: the characters after the first "$" up to the first
  // ",", "*", CR or LF.
  static std::string_view SentenceId(const char* sentence, size_t length);

 private:
  void TakeSentence();

  std::ostream& out_;
  JsonWriter line_;  // one line at a time, its storage kept from line to line
  NmeaReader reader_;  // without a session: fed through OnByte only
  bool lineReady_ = false;
  uint64_t accepted_ = 0;
  uint64_t rejectedLength_ = 0;
  uint64_t rejectedChecksum_ = 0;
};
