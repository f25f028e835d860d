// Frames and a pseudo-terminal receiver line for the SiRF binary tests.
#pragma once

#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "BinaryReader.h"
#include "SerialSession.h"
#include "WireFrames.h"
#include "testing/PtyPeer.h"
#include "testing/TempDevice.h"

namespace sirftest {

using testsupport::Bytes;

using testsupport::SirfFrame;

inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

inline void Feed(BinaryReader& reader, const Bytes& bytes) {
  for (uint8_t b : bytes) BinaryReader::OnByte(b, &reader);
}

// Reads the oldest waiting frame; `valid` gets the checksum answer.
inline Bytes Next(BinaryReader& reader, bool* valid = nullptr) {
  BYTE buffer[BinaryReader::kSlotBytes];
  WORD count = 0;
  bool ok = reader.ReadFrame(buffer, count);
  if (valid != nullptr) *valid = ok;
  return Bytes(buffer, buffer + count);
}

inline std::string Hex(const Bytes& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string text;
  for (uint8_t b : bytes) {
    if (!text.empty()) text += ' ';
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

inline Bytes FromHex(const std::string& text) {
  Bytes bytes;
  for (size_t i = 0; i + 1 < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    bytes.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return bytes;
}

// A receiver line: a pseudo-terminal listed as a COM port in a temporary
// handheld, and a session on it.
class ReceiverLine {
 public:
  ReceiverLine() {
    device_.AddSerialPort(u"COM7:", peer_.slavePath());
    session_ = std::make_unique<SerialSession>(u"COM7:", 57600);
  }
  bool Open() { return session_->Reopen() != FALSE; }
  SerialSession* session() { return session_.get(); }
  handheld::testing::PtyPeer& peer() { return peer_; }

 private:
  handheld::testing::TempDevice device_;
  handheld::testing::PtyPeer peer_;
  std::unique_ptr<SerialSession> session_;
};

}  // namespace sirftest
