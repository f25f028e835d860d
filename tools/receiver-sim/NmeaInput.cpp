#include "NmeaInput.h"

namespace {
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
}  // namespace

void NmeaInput::Reset() {
  inSentence_ = false;
  overflow_ = false;
  line_.clear();
}

NmeaInput::Result NmeaInput::OnByte(uint8_t byte, std::string& body) {
  if (byte == '$') {
    // A new sentence start abandons whatever was being collected.
    inSentence_ = true;
    overflow_ = false;
    line_.clear();
    return Result::None;
  }
  if (!inSentence_) return Result::None;
  if (byte == '\r') return Result::None;
  if (byte != '\n') {
    if (line_.size() < kMaxLine) line_.push_back(static_cast<char>(byte));
    else overflow_ = true;
    return Result::None;
  }
  inSentence_ = false;
  body = line_;
  line_.clear();
  if (overflow_) return Result::TooLong;
  size_t star = body.rfind('*');
  if (star == std::string::npos || star + 3 != body.size()) return Result::NoChecksum;
  int high = HexValue(body[star + 1]);
  int low = HexValue(body[star + 2]);
  uint8_t sum = 0;
  for (size_t i = 0; i < star; ++i) sum ^= static_cast<uint8_t>(body[i]);
  if (high < 0 || low < 0 || sum != high * 16 + low) return Result::BadChecksum;
  body.resize(star);
  return Result::Sentence;
}
