#include "ReceiverRate.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <thread>

#include "BinaryReader.h"
#include "LineRate.h"
#include "NmeaReader.h"
#include "Number.h"

namespace {

using Clock = std::chrono::steady_clock;

// The viewer's rate first, then the rates receivers are commonly found at.
const int kHuntRates[] = {57600, 4800, 9600, 19200, 38400, 115200};

// Time a receiver gets to act on a command once its last byte is on the
// line.
constexpr int kSettleMs = 150;
// Times a switch is sent while the receiver is still heard where it was.
constexpr int kSwitchAttempts = 3;

// NMEA output at 1 s for GGA, GSA, GSV and RMC (the sentences the viewer
// reads), everything else off, each with its checksum: the pairs of
// message 129 in the order GGA, GLL, GSA, GSV, RMC, VTG, MSS, -, ZDA, -.
const uint8_t kNmeaRates[10] = {1, 0, 1, 1, 1, 0, 0, 0, 0, 0};

const char* ProtocolName(ReceiverRate::Protocol protocol) {
  return protocol == ReceiverRate::Protocol::Nmea ? "NMEA" : "SiRF binary";
}

// A sentence as ReadSentence accepted it, with a checksum of its own (the
// reader lets a sentence without one pass) and nothing but printable text.
bool Checksummed(const char* sentence) {
  const char* p = std::strchr(sentence, '$');
  if (p == nullptr || std::strchr(p, '*') == nullptr) return false;
  for (++p; *p != '\r' && *p != '\0'; ++p)
    if (*p < 0x20 || *p > 0x7E) return false;
  return true;
}

}  // namespace

const std::vector<int>& ReceiverRate::HuntRates() {
  static const std::vector<int> rates(std::begin(kHuntRates), std::end(kHuntRates));
  return rates;
}

bool ReceiverRate::ValidBaud(long long baud) { return LineRate::Valid(baud); }

ReceiverRate::ReceiverRate(std::string device) : device_(std::move(device)) {}

ReceiverRate::~ReceiverRate() {
  if (fd_ >= 0) close(fd_);
}

std::string ReceiverRate::Describe(const Setting& setting) {
  return std::to_string(setting.baud) + " baud (" + ProtocolName(setting.protocol) + ")";
}

bool ReceiverRate::ParseBaud(const std::string& text, long long* baud) {
  return Number::Integer(text, 0, 10000000, baud) == Number::Read::kOk && ValidBaud(*baud);
}

bool ReceiverRate::ParseSetting(const std::string& text, Setting& setting) {
  const size_t comma = text.find(',');
  if (comma == std::string::npos) return false;
  const std::string rate = text.substr(0, comma);
  const std::string protocol = text.substr(comma + 1);
  long long baud = 0;
  if (!ParseBaud(rate, &baud)) return false;
  if (protocol == "nmea") setting = {static_cast<int>(baud), Protocol::Nmea};
  else if (protocol == "binary") setting = {static_cast<int>(baud), Protocol::Binary};
  else return false;
  return true;
}

std::vector<uint8_t> ReceiverRate::SwitchCommand(Protocol from, const Setting& to) {
  if (from == Protocol::Nmea) {
    char body[NmeaReader::kMaxCommandBody + 1];
    std::snprintf(body, sizeof body, "PSRF100,%d,%d,8,1,0", to.protocol == Protocol::Nmea ? 1 : 0,
                  to.baud);
    char sentence[NmeaReader::kCommandBufferSize];
    const int length = std::snprintf(sentence, sizeof sentence, "$%s*%02X\r\n", body,
                                     NmeaReader::SentenceChecksum(body));
    return std::vector<uint8_t>(sentence, sentence + length);
  }
  // A0 A2, length, payload (0x81, mode 2, the rate pairs, the rate's low
  // 16 bits), 15-bit checksum, B0 B3.
  std::vector<uint8_t> frame{0xA0, 0xA2, 0x00, 0x18, BinaryReader::kSwitchToNmea, 0x02};
  for (uint8_t rate : kNmeaRates) {
    frame.push_back(rate);
    frame.push_back(1);
  }
  frame.push_back(static_cast<uint8_t>(to.baud >> 8));
  frame.push_back(static_cast<uint8_t>(to.baud));
  const WORD sum = BinaryReader::FrameChecksum(frame.data(), 0x18);
  for (uint8_t b : {uint8_t(sum >> 8), uint8_t(sum), uint8_t(0xB0), uint8_t(0xB3)}) frame.push_back(b);
  return frame;
}

bool ReceiverRate::Open(int baud, std::string& error) {
  if (fd_ >= 0) return SetSpeed(baud);
  const int fd = LineRate::OpenTerminal(device_, error);
  if (fd < 0) return false;
  fd_ = fd;
  if (!SetSpeed(baud)) {
    error = device_ + ": cannot set " + std::to_string(baud) + " baud";
    return false;
  }
  return true;
}

bool ReceiverRate::SetSpeed(int baud) {
  std::string error;
  if (!LineRate::SetRaw(fd_, baud, error)) return false;
  // What arrived before was at another rate.
  tcflush(fd_, TCIFLUSH);
  baud_ = baud;
  return true;
}

bool ReceiverRate::Listen(int baud, int ms, Protocol& heard, const Protocol* wanted) {
  if (!SetSpeed(baud)) return false;
  NmeaReader nmea(nullptr);
  BinaryReader binary(nullptr);
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < deadline && !Stopped()) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    uint8_t buffer[512];
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n <= 0) {
      // A hung-up line (the far side of a pseudo-terminal gone) reports
      // itself at once: look again a little later.
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      continue;
    }
    for (ssize_t i = 0; i < n; ++i) {
      NmeaReader::OnByte(buffer[i], &nmea);
      BinaryReader::OnByte(buffer[i], &binary);
    }
    while (nmea.HasSentence()) {
      char sentence[NmeaReader::kSentenceBufferSize];
      WORD length = 0;
      if (nmea.ReadSentence(sentence, length) && Checksummed(sentence) &&
          (wanted == nullptr || *wanted == Protocol::Nmea)) {
        heard = Protocol::Nmea;
        return true;
      }
    }
    while (binary.HasFrame()) {
      BYTE frame[BinaryReader::kSlotBytes];
      WORD count = 0;
      // A whole frame: its length field names what came between the
      // markers, and it carries a message.
      if (binary.ReadFrame(frame, count) && count > 8 && (frame[2] << 8 | frame[3]) == count - 8 &&
          (wanted == nullptr || *wanted == Protocol::Binary)) {
        heard = Protocol::Binary;
        return true;
      }
    }
  }
  return false;
}

bool ReceiverRate::ListenFor(const Setting& setting) {
  Protocol heard;
  return Listen(setting.baud, kListenMs, heard, &setting.protocol);
}

bool ReceiverRate::Send(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  const auto deadline = Clock::now() + std::chrono::seconds(2);
  while (done < bytes.size() && Clock::now() < deadline) {
    const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    pollfd p{fd_, POLLOUT, 0};
    poll(&p, 1, 20);
  }
  if (done < bytes.size()) return false;
  tcdrain(fd_);
  // A pseudo-terminal drains at once; a UART takes 10 bits per byte.
  const long long lineMs = static_cast<long long>(bytes.size()) * 10 * 1000 / baud_;
  std::this_thread::sleep_for(std::chrono::milliseconds(lineMs + kSettleMs));
  return true;
}

bool ReceiverRate::Step(const Setting& from, const Setting& to) {
  for (int attempt = 0; attempt < kSwitchAttempts && !Stopped(); ++attempt) {
    // A command garbled on its way is sent again while the receiver is
    // still where it was.
    if (attempt > 0 && !ListenFor(from)) return false;
    if (!SetSpeed(from.baud) || !Send(SwitchCommand(from.protocol, to))) return false;
    if (ListenFor(to)) return true;
  }
  return false;
}

bool ReceiverRate::Switch(const Setting& from, const Setting& to) {
  if (from == to) return true;
  if (from.protocol == Protocol::Binary && (to.protocol == Protocol::Binary || to.baud > 0xFFFF)) {
    // Message 129 leads to NMEA only, at a rate of 16 bits: NMEA first.
    const Setting nmea{from.baud, Protocol::Nmea};
    if (!Step(from, nmea)) return false;
    return Switch(nmea, to);
  }
  return Step(from, to);
}

bool ReceiverRate::BringToViewerRate(int givenBaud, std::string& report) {
  found_ = false;
  const Setting viewer = kViewerSetting;
  if (givenBaud == viewer.baud) {
    found_ = true;
    foundSetting_ = viewer;
    report = "receiver taken to be at " + Describe(viewer) + ", as given: left as it is";
    return true;
  }
  std::string error;
  if (!Open(givenBaud != 0 ? givenBaud : HuntRates().front(), error)) {
    report = error;
    return false;
  }
  Protocol heard = Protocol::Nmea;
  std::string how;
  if (givenBaud != 0) {
    const bool any = Listen(givenBaud, kListenMs, heard);
    foundSetting_ = {givenBaud, any ? heard : Protocol::Nmea};
    how = "receiver taken to be at " + Describe(foundSetting_) +
          (any ? ", as given" : ", as given (nothing heard there)");
  } else {
    for (int baud : HuntRates()) {
      if (Listen(baud, kListenMs, heard)) {
        foundSetting_ = {baud, heard};
        found_ = true;
        break;
      }
    }
    if (!found_) {
      std::string rates;
      const std::vector<int>& all = HuntRates();
      for (size_t i = 0; i < all.size(); ++i)
        rates += (i == 0 ? "" : i + 1 == all.size() ? " or " : ", ") + std::to_string(all[i]);
      report = Stopped() ? "rate hunt on " + device_ + " interrupted"
                         : "no receiver heard on " + device_ + " at " + rates +
                               " baud (neither NMEA sentences nor SiRF binary frames)";
      return false;
    }
    how = "receiver found at " + Describe(foundSetting_);
  }
  found_ = true;
  if (foundSetting_ == viewer) {
    report = how;
    return true;
  }
  const std::string target =
      foundSetting_.protocol == viewer.protocol ? std::to_string(viewer.baud) : Describe(viewer);
  if (!Switch(foundSetting_, viewer)) {
    report = how + "; switching it to " + target + " failed: it was not heard there";
    return false;
  }
  report = how + "; switched to " + target;
  return true;
}

bool ReceiverRate::Restore(const Setting& setting, std::string& report) {
  const Setting viewer = kViewerSetting;
  if (setting == viewer) {
    report = "receiver left at " + Describe(viewer) + ", as found";
    return true;
  }
  std::string error;
  if (!Open(viewer.baud, error)) {
    report = error;
    return false;
  }
  Protocol now = Protocol::Nmea;
  if (!Listen(viewer.baud, kListenMs, now) && ListenFor(setting)) {
    report = "receiver already at " + Describe(setting);
    return true;
  }
  if (!Switch({viewer.baud, now}, setting)) {
    report = "switching the receiver back to " + Describe(setting) +
             " failed: it was not heard there";
    return false;
  }
  report = "receiver switched back to " + Describe(setting);
  return true;
}
