#include "SirfInput.h"

void SirfInput::Reset() {
  state_ = State::Hunt;
  payload_.clear();
}

SirfInput::Result SirfInput::OnByte(uint8_t byte, std::vector<uint8_t>& payload) {
  switch (state_) {
    case State::Hunt:
      if (byte == 0xA0) state_ = State::Start2;
      return Result::None;
    case State::Start2:
      state_ = byte == 0xA2 ? State::LengthHigh : byte == 0xA0 ? State::Start2 : State::Hunt;
      return Result::None;
    case State::LengthHigh:
      length_ = static_cast<uint16_t>(byte << 8);
      state_ = State::LengthLow;
      return Result::None;
    case State::LengthLow:
      length_ = static_cast<uint16_t>(length_ | byte);
      payload_.clear();
      if (length_ == 0 || length_ > kMaxPayload) {
        state_ = State::Hunt;
        return Result::BadFrame;
      }
      state_ = State::Payload;
      return Result::None;
    case State::Payload:
      payload_.push_back(byte);
      if (payload_.size() == length_) state_ = State::CheckHigh;
      return Result::None;
    case State::CheckHigh:
      check_ = static_cast<uint16_t>(byte << 8);
      state_ = State::CheckLow;
      return Result::None;
    case State::CheckLow:
      check_ = static_cast<uint16_t>(check_ | byte);
      state_ = State::End1;
      return Result::None;
    case State::End1:
      state_ = byte == 0xB0 ? State::End2 : State::Hunt;
      return byte == 0xB0 ? Result::None : Result::BadFrame;
    case State::End2: {
      state_ = State::Hunt;
      if (byte != 0xB3) return Result::BadFrame;
      uint32_t sum = 0;
      for (uint8_t b : payload_) sum += b;
      if ((sum & 0x7FFF) != check_) return Result::BadFrame;
      payload = payload_;
      return Result::Frame;
    }
  }
  return Result::None;
}
