// The SiRF binary part of the capture decoder: a real BinaryReader fed one
// byte at a time as the serial reader thread feeds it (OnByte), or a block
// at a time framed the same way (FeedUntilLine), every frame taken out as
// soon as it completes (so the queue never fills), checked and dispatched
// to the reader's decoders, and written as one JSON line:
//   {"type":"sirf","mid":2,"length":41,"bytes":49,"checksum":true,
//    "record":"NavDataRecord","fields":{...},"geodetic":{...}}
//   {"type":"sirf","mid":41,"length":91,"bytes":99,"checksum":true,
//    "record":null,"payload":"29..."}            no decoder keeps it
//   {"type":"sirf","mid":2,"length":41,"bytes":49,"checksum":false}
// "length" is the frame's payload length field, "bytes" the frame's size as
// received (markers included).
#pragma once

#include <cstdint>
#include <ostream>

#include "BinaryReader.h"
#include "JsonWriter.h"

class SirfCapture {
 public:
  explicit SirfCapture(std::ostream& out);

  SirfCapture(const SirfCapture&) = delete;
  SirfCapture& operator=(const SirfCapture&) = delete;

  // One byte; the line of a frame it completes is written at once.
  void OnByte(uint8_t value);
  // Feeds `data` up to and including the byte that completes a frame and
  // builds that frame's line, kept until WriteLine; feeds all of `data`
  // when none completes. Answers how many bytes it fed.
  size_t FeedUntilLine(const uint8_t* data, size_t size);
  bool LineReady() const { return lineReady_; }
  // Writes the line built by FeedUntilLine to the stream.
  void WriteLine();
  // Adds "frames" (all frames read out) and "badFrames" (those that failed
  // the checksum test) to an open object.
  void AddSummary(JsonWriter& json) const;

  uint64_t Frames() const { return frames_; }
  uint64_t BadFrames() const { return badFrames_; }

 private:
  void TakeFrame();

  std::ostream& out_;
  JsonWriter line_;  // one line at a time, its storage kept from line to line
  BinaryReader reader_;  // without a session: fed through OnByte only
  bool lineReady_ = false;
  uint64_t frames_ = 0;
  uint64_t badFrames_ = 0;
};
