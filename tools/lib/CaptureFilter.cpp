#include "CaptureFilter.h"

#include <utility>

CaptureFilter::CaptureFilter(Sink sink) : sink_(std::move(sink)) {}

void CaptureFilter::Feed(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) Feed(data[i]);
}

void CaptureFilter::Feed(uint8_t value) {
  switch (state_) {
    case State::Comment:
      if (value == '\n') {
        state_ = State::Text;
        atLineStart_ = true;
      }
      return;
    case State::Candidate:
      FeedCandidate(value);
      return;
    case State::Text:
      FeedText(value);
      return;
  }
}

void CaptureFilter::FeedText(uint8_t value) {
  if (value == '#' && atLineStart_) {
    state_ = State::Comment;
    ++commentLines_;
    return;
  }
  if (value == 0xA0) {
    held_.assign(1, value);
    frameTotal_ = 0;
    state_ = State::Candidate;
    return;
  }
  EmitText(value);
}

void CaptureFilter::FeedCandidate(uint8_t value) {
  held_.push_back(value);
  const size_t n = held_.size();
  if (n == 2) {
    if (value != 0xA2) Abandon();
    return;
  }
  if (n == 4) {
    const size_t payload = (static_cast<size_t>(held_[2] & 0x7F) << 8) | held_[3];
    if (payload > kMaxPayload) {
      Abandon();
      return;
    }
    frameTotal_ = 4 + payload + 2 + 2;
    return;
  }
  if (n < 4 || n < frameTotal_ - 1) return;
  if (n == frameTotal_ - 1) {
    if (value != 0xB0) Abandon();
    return;
  }
  // n == frameTotal_
  if (value != 0xB3) {
    Abandon();
    return;
  }
  std::vector<uint8_t> frame;
  frame.swap(held_);
  state_ = State::Text;
  ++frames_;
  for (uint8_t b : frame) sink_(b, true);
  // A new packet (and so a comment) may begin right after a frame.
  atLineStart_ = true;
  lineHasText_ = false;
  lastWasCr_ = false;
}

void CaptureFilter::Abandon() {
  // The first held byte is text; the rest are looked at again, since a
  // frame may begin among them.
  std::vector<uint8_t> rest;
  rest.swap(held_);
  state_ = State::Text;
  EmitText(rest[0]);
  for (size_t i = 1; i < rest.size(); ++i) Feed(rest[i]);
}

void CaptureFilter::EmitText(uint8_t value) {
  if (value == '\n') {
    if (lineHasText_ && !lastWasCr_) {
      sink_('\r', false);
      ++restoredCrs_;
    }
    sink_(value, false);
    atLineStart_ = true;
    lineHasText_ = false;
    lastWasCr_ = false;
    return;
  }
  sink_(value, false);
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
    for (size_t i = 1; i < rest.size(); ++i) Feed(rest[i]);
    Finish();
  }
}

std::vector<uint8_t> CaptureFilter::FilterAll(const std::vector<uint8_t>& input) {
  std::vector<uint8_t> out;
  out.reserve(input.size() + input.size() / 16);
  CaptureFilter filter([&out](uint8_t value, bool) { out.push_back(value); });
  filter.Feed(input.data(), input.size());
  filter.Finish();
  return out;
}
