#include "CaptureFilter.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

const uint8_t kStart1 = 0xA0;
const uint8_t kStart2 = 0xA2;
const uint8_t kEnd1 = 0xB0;
const uint8_t kEnd2 = 0xB3;
const uint8_t kCrLf[2] = {'\r', '\n'};

// Offset of the first `value` in data[0, size), or `size` when there is none.
size_t Find(const uint8_t* data, size_t size, uint8_t value) {
  const void* found = std::memchr(data, value, size);
  return found ? static_cast<size_t>(static_cast<const uint8_t*>(found) - data) : size;
}

}  // namespace

CaptureFilter::CaptureFilter(Sink sink)
    : sink_([byteSink = std::move(sink)](const uint8_t* data, size_t size, bool inBinaryFrame) {
        for (size_t i = 0; i < size; ++i) byteSink(data[i], inBinaryFrame);
      }) {}

CaptureFilter::CaptureFilter(RunSink sink) : sink_(std::move(sink)) {}

void CaptureFilter::Feed(uint8_t value) { Feed(&value, 1); }

void CaptureFilter::Feed(const uint8_t* data, size_t size) {
  size_t i = 0;
  while (i < size) {
    switch (state_) {
      case State::Comment:
        i += FeedComment(data + i, size - i);
        break;
      case State::Candidate:
        i += FeedCandidate(data + i, size - i);
        break;
      case State::Text:
        i += FeedText(data + i, size - i);
        break;
    }
  }
}

// Everything up to and including the LF that ends the comment.
size_t CaptureFilter::FeedComment(const uint8_t* data, size_t size) {
  const size_t lf = Find(data, size, '\n');
  if (lf == size) return size;
  state_ = State::Text;
  atLineStart_ = true;
  return lf + 1;
}

// A comment's "#" or a frame's A0 alone; otherwise the text up to the next
// A0, or up to and including the next LF, whichever comes first.
size_t CaptureFilter::FeedText(const uint8_t* data, size_t size) {
  if (data[0] == '#' && atLineStart_) {
    state_ = State::Comment;
    ++commentLines_;
    return 1;
  }
  if (data[0] == kStart1) {
    held_.assign(1, kStart1);
    frameTotal_ = 0;
    state_ = State::Candidate;
    return 1;
  }
  const size_t lf = Find(data, size, '\n');
  const size_t run = Find(data, lf, kStart1);  // text bytes before the LF or A0
  if (run > 0) {
    atLineStart_ = false;
    lineHasText_ = true;
    lastWasCr_ = data[run - 1] == '\r';
  }
  if (run == size || data[run] == kStart1) {
    sink_(data, run, false);
    return run;
  }
  if (lineHasText_ && !lastWasCr_) {
    if (run > 0) sink_(data, run, false);
    sink_(kCrLf, 2, false);
    ++restoredCrs_;
  } else {
    sink_(data, run + 1, false);
  }
  atLineStart_ = true;
  lineHasText_ = false;
  lastWasCr_ = false;
  return run + 1;
}

// The bytes between the length field and the end pair are held untested, as
// many as are there; each other byte is tested alone.
size_t CaptureFilter::FeedCandidate(const uint8_t* data, size_t size) {
  size_t n = held_.size();
  if (n >= 4 && n + 2 < frameTotal_) {
    const size_t take = std::min(size, frameTotal_ - 2 - n);
    held_.insert(held_.end(), data, data + take);
    return take;
  }
  const uint8_t value = data[0];
  held_.push_back(value);
  n = held_.size();
  if (n == 2) {
    if (value != kStart2) Abandon();
    return 1;
  }
  if (n == 4) {
    const size_t payload = (static_cast<size_t>(held_[2] & 0x7F) << 8) | held_[3];
    if (payload > kMaxPayload) {
      Abandon();
      return 1;
    }
    frameTotal_ = 4 + payload + 2 + 2;
    return 1;
  }
  if (n < 4) return 1;
  if (n == frameTotal_ - 1) {
    if (value != kEnd1) Abandon();
    return 1;
  }
  // n == frameTotal_
  if (value != kEnd2) {
    Abandon();
    return 1;
  }
  state_ = State::Text;
  ++frames_;
  sink_(held_.data(), held_.size(), true);
  held_.clear();
  // A new packet (and so a comment) may begin right after a frame.
  atLineStart_ = true;
  lineHasText_ = false;
  lastWasCr_ = false;
  return 1;
}

void CaptureFilter::Abandon() {
  // The first held byte is text; the rest are looked at again, since a
  // frame may begin among them.
  std::vector<uint8_t> rest;
  rest.swap(held_);
  state_ = State::Text;
  EmitText(rest[0]);
  Feed(rest.data() + 1, rest.size() - 1);
}

void CaptureFilter::EmitText(uint8_t value) {
  if (value == '\n') {
    if (lineHasText_ && !lastWasCr_) {
      sink_(kCrLf, 1, false);
      ++restoredCrs_;
    }
    sink_(&value, 1, false);
    atLineStart_ = true;
    lineHasText_ = false;
    lastWasCr_ = false;
    return;
  }
  sink_(&value, 1, false);
  atLineStart_ = false;
  lineHasText_ = true;
  lastWasCr_ = value == '\r';
}

void CaptureFilter::Finish() {
  if (state_ == State::Candidate) {
    // Not a frame after all: the held bytes end the input as text. Finish
    // again in case they open another possible frame.
    std::vector<uint8_t> rest;
    rest.swap(held_);
    state_ = State::Text;
    EmitText(rest[0]);
    Feed(rest.data() + 1, rest.size() - 1);
    Finish();
  }
}

std::vector<uint8_t> CaptureFilter::FilterAll(const std::vector<uint8_t>& input) {
  std::vector<uint8_t> out;
  out.reserve(input.size() + input.size() / 16);
  CaptureFilter filter([&out](const uint8_t* data, size_t size, bool) { out.insert(out.end(), data, data + size); });
  filter.Feed(input.data(), input.size());
  filter.Finish();
  return out;
}
