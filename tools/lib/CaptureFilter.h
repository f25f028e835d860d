// Prepares a stored receiver capture for replay as the byte stream a
// receiver would send:
//  - a line that begins with "#" where a new line or packet could begin is a
//    comment and is skipped, its LF included;
//  - an NMEA text line stored with LF alone gets its CR back (no CR is added
//    to an empty line or where a CR is already there);
//  - SiRF binary frames (A0 A2, 15-bit length, payload, two checksum bytes,
//    B0 B3) pass unchanged: no comment test and no CR inside them.
// A frame is recognised by its structure (start pair, a length up to
// kMaxPayload and the end pair in its place); its checksum is not tested, so
// a corrupted frame still reaches its reader as it was captured.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class CaptureFilter {
 public:
  // Receives every output byte, and whether it belongs to a binary frame.
  using Sink = std::function<void(uint8_t value, bool inBinaryFrame)>;
  // Receives the output in runs of bytes (a whole frame, or text up to a
  // line end), each not empty and either all text or one whole frame.
  using RunSink = std::function<void(const uint8_t* data, size_t size, bool inBinaryFrame)>;

  static constexpr size_t kMaxPayload = 2047;

  explicit CaptureFilter(Sink sink);
  explicit CaptureFilter(RunSink sink);

  void Feed(uint8_t value);
  void Feed(const uint8_t* data, size_t size);
  // Ends the input: bytes held while a possible frame was being checked go out as text.
  void Finish();

  // Convenience: the whole filtered output of `input`.
  static std::vector<uint8_t> FilterAll(const std::vector<uint8_t>& input);

  size_t CommentLines() const { return commentLines_; }
  size_t Frames() const { return frames_; }
  size_t RestoredCrs() const { return restoredCrs_; }

 private:
  enum class State { Text, Comment, Candidate };

  // Each takes bytes from `data` while the state is its own and answers how many.
  size_t FeedComment(const uint8_t* data, size_t size);
  size_t FeedText(const uint8_t* data, size_t size);
  size_t FeedCandidate(const uint8_t* data, size_t size);
  void EmitText(uint8_t value);
  void Abandon();  // the held bytes were not a frame

  RunSink sink_;
  State state_ = State::Text;
  bool atLineStart_ = true;   // a comment may begin here
  bool lineHasText_ = false;  // text bytes since the last line end
  bool lastWasCr_ = false;
  std::vector<uint8_t> held_;  // a possible frame, from its A0
  size_t frameTotal_ = 0;      // full size of the held frame once its length is known
  size_t commentLines_ = 0;
  size_t frames_ = 0;
  size_t restoredCrs_ = 0;
};
