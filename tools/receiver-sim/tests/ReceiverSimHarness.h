// Test support: runs the receiver simulator as a child process and talks to
// it over its pseudo-terminal, with a small decoder of its own for NMEA
// sentences and SiRF binary frames.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "WireFrames.h"

namespace simtest {

using testsupport::Bytes;
using Clock = std::chrono::steady_clock;

inline Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

using testsupport::NmeaSentence;
using testsupport::SirfFrame;

struct Sentence {
  std::string body;        // between "$" and "*" (or CR)
  bool hasChecksum = false;
  bool checksumOk = false;
  bool crlf = false;       // ended in CR LF
  std::string id() const { return body.substr(0, body.find(',')); }
};

// Every "$" up to the next LF; a "$" before the LF starts over.
inline std::vector<Sentence> Sentences(const Bytes& bytes) {
  std::vector<Sentence> out;
  size_t i = 0;
  while (i < bytes.size()) {
    if (bytes[i] != '$') {
      ++i;
      continue;
    }
    size_t j = i + 1;
    while (j < bytes.size() && bytes[j] != '\n' && bytes[j] != '$') ++j;
    if (j >= bytes.size()) break;
    if (bytes[j] == '$') {
      i = j;
      continue;
    }
    std::string line(bytes.begin() + static_cast<long>(i) + 1, bytes.begin() + static_cast<long>(j));
    Sentence s;
    s.crlf = !line.empty() && line.back() == '\r';
    if (s.crlf) line.pop_back();
    size_t star = line.rfind('*');
    if (star != std::string::npos && star + 3 == line.size()) {
      s.hasChecksum = true;
      uint8_t sum = 0;
      for (size_t k = 0; k < star; ++k) sum ^= static_cast<uint8_t>(line[k]);
      auto hex = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      };
      int high = hex(line[star + 1]);
      int low = hex(line[star + 2]);
      s.checksumOk = high >= 0 && low >= 0 && high * 16 + low == sum;
      line.resize(star);
    }
    s.body = line;
    out.push_back(s);
    i = j + 1;
  }
  return out;
}

inline std::vector<Sentence> GoodSentences(const Bytes& bytes) {
  std::vector<Sentence> good;
  for (auto& s : Sentences(bytes))
    if (s.hasChecksum && s.checksumOk && s.crlf) good.push_back(s);
  return good;
}

// Frames taken by their length field; only those with a right checksum and
// end markers. `bad` counts the others.
inline std::vector<Bytes> Frames(const Bytes& bytes, int* bad = nullptr) {
  std::vector<Bytes> out;
  size_t i = 0;
  while (i + 1 < bytes.size()) {
    if (!(bytes[i] == 0xA0 && bytes[i + 1] == 0xA2)) {
      ++i;
      continue;
    }
    if (i + 4 > bytes.size()) break;
    size_t n = static_cast<size_t>(bytes[i + 2]) << 8 | bytes[i + 3];
    if (i + 8 + n > bytes.size()) break;
    Bytes payload(bytes.begin() + static_cast<long>(i) + 4,
                  bytes.begin() + static_cast<long>(i + 4 + n));
    unsigned sum = 0;
    for (uint8_t b : payload) sum += b;
    unsigned given = static_cast<unsigned>(bytes[i + 4 + n]) << 8 | bytes[i + 5 + n];
    if ((sum & 0x7FFF) == given && bytes[i + 6 + n] == 0xB0 && bytes[i + 7 + n] == 0xB3) {
      out.push_back(payload);
      i += 8 + n;
    } else {
      if (bad) ++*bad;
      i += 2;
    }
  }
  return out;
}

inline int CountId(const std::vector<Sentence>& sentences, const std::string& id) {
  int n = 0;
  for (auto& s : sentences) n += s.id() == id;
  return n;
}

inline int CountMessage(const std::vector<Bytes>& frames, uint8_t id) {
  int n = 0;
  for (auto& f : frames) n += !f.empty() && f[0] == id;
  return n;
}

// Opens a port raw at `speed` 8N1 (non-blocking); -1 when it cannot.
inline int OpenRaw(const std::string& path, speed_t speed) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return -1;
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  cfsetspeed(&t, speed);
  t.c_cflag |= CLOCAL | CREAD;
  if (tcsetattr(fd, TCSANOW, &t) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

class SimProcess {
 public:
  SimProcess() = default;
  ~SimProcess() {
    if (fd_ >= 0) close(fd_);
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // Starts the simulator with these arguments and reads the path it prints.
  bool Launch(const std::vector<std::string>& args) {
    child_ = std::make_unique<testsupport::ChildProcess>(RECEIVER_SIM_PATH, args);
    path_ = child_->FirstLine(5000);
    return !path_.empty();
  }

  // Starts the simulator and opens its port raw at 57600 baud 8N1.
  bool Start(const std::vector<std::string>& args) {
    if (!Launch(args)) return false;
    fd_ = OpenRaw(path_, B57600);
    return fd_ >= 0;
  }

  const std::string& path() const { return path_; }
  int fd() const { return fd_; }

  void Write(const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) done += static_cast<size_t>(n);
      else usleep(1000);
    }
  }
  void Write(const std::string& text) { Write(ToBytes(text)); }

  // Reads until `done` says so (checked on everything received in this call)
  // or the time runs out.
  Bytes ReadUntil(const std::function<bool(const Bytes&)>& done, int timeoutMs) {
    Bytes got;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) > 0 && (p.revents & POLLIN)) {
        uint8_t buffer[1024];
        ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n > 0) {
          got.insert(got.end(), buffer, buffer + n);
          if (done(got)) break;
        }
      }
    }
    return got;
  }
  Bytes ReadFor(int ms) {
    return ReadUntil([](const Bytes&) { return false; }, ms);
  }
  // Reads until a good sentence with this id arrived.
  Bytes ReadUntilSentence(const std::string& id, int timeoutMs) {
    return ReadUntil([&](const Bytes& b) { return CountId(GoodSentences(b), id) > 0; }, timeoutMs);
  }
  Bytes ReadUntilMessage(uint8_t id, int timeoutMs, int count = 1) {
    return ReadUntil([&](const Bytes& b) { return CountMessage(Frames(b), id) >= count; },
                     timeoutMs);
  }
  // Drops whatever is waiting.
  void Drain() {
    tcflush(fd_, TCIFLUSH);
  }

  // Sends SIGTERM and answers the exit status (-1 if it did not end in 3 s).
  int Stop(int signal = SIGTERM) { return child_ ? child_->Stop(signal, 3000) : -1; }
  int Wait(int timeoutMs) { return child_ ? child_->Wait(timeoutMs) : -1; }

 private:
  std::unique_ptr<testsupport::ChildProcess> child_;
  int fd_ = -1;
  std::string path_;
};

// Opens `path` raw at `speed` and listens until a good sentence (or, for
// `binary`, a good frame) arrives: whether the receiver is there.
inline bool HeardAt(const std::string& path, speed_t speed, bool binary, int timeoutMs = 4000) {
  const int fd = OpenRaw(path, speed);
  if (fd < 0) return false;
  tcflush(fd, TCIFLUSH);
  Bytes got;
  bool heard = false;
  for (auto end = Clock::now() + std::chrono::milliseconds(timeoutMs); !heard && Clock::now() < end;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    uint8_t buffer[512];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) got.insert(got.end(), buffer, buffer + n);
    heard = binary ? !Frames(got).empty() : !GoodSentences(got).empty();
  }
  close(fd);
  return heard;
}

// Standard arguments: a fixed start time and a safety bound on the run.
inline std::vector<std::string> Args(std::vector<std::string> extra) {
  std::vector<std::string> args{"--time", "2026-03-14T09:26:53", "--seconds", "60"};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

}  // namespace simtest
