// A receiver on the far end of a pseudo-terminal whose every move the test
// decides: it sends NMEA or binary frames on a steady beat, answers the
// version requests, the switch to binary, the version poll and the switch
// back as configured, and records every byte the viewer writes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "WireFrames.h"
#include "testing/PtyPeer.h"

namespace receiver_test {

// What the viewer writes, byte for byte.
inline const std::string kAskVersion2 = "$PSRF200,2*3B\r\n";
inline const std::string kAskVersion1 = "$PSRF200,1*38\r\n";
inline const std::string kToBinary = "$PSRF100,0,57600,8,1,0*37\r\n";
inline const std::string kPollVersion("\xA0\xA2\x00\x02\x84\x00\x00\x84\xB0\xB3", 10);
inline const std::string kBackToNmea(
    "\xA0\xA2\x00\x18\x81\x02\x02\x01\x00\x01\x04\x01\x04\x01\x02\x01\x00\x01\x00\x01\x00\x01"
    "\x00\x01\x00\x01\xE1\x00\x01\x7A\xB0\xB3",
    32);

using testsupport::NmeaSentence;

// A frame as the bytes of a string.
inline std::string Frame(const std::string& payload) {
  testsupport::Bytes frame = testsupport::SirfFrame(testsupport::Bytes(payload.begin(), payload.end()));
  return std::string(frame.begin(), frame.end());
}

inline std::string VersionFrame(const std::string& text) { return Frame(std::string(1, '\x06') + text); }

class ScriptedReceiver {
 public:
  enum class Mode { Silent, Nmea, Binary };

  struct Script {
    Mode start = Mode::Nmea;
    std::string answer2;          // version text sent after PSRF200,2 ("" = no answer)
    std::string answer1;          // version text sent after PSRF200,1
    bool obeysSwitchToBinary = true;
    std::string baseVersion;      // message 6 texts sent after the poll ("" = none)
    std::string makerVersion;
    bool obeysSwitchToNmea = true;  // false: silent after the switch back
    int beatMs = 50;
    // Sent on every beat in NMEA mode.
    std::string beatSentence =
        NmeaSentence("GPGGA,123519.000,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,");
  };

  explicit ScriptedReceiver(const Script& script) : script_(script), mode_(script.start) {
    // Never block on a full line: once the viewer has closed its end, what
    // the receiver sends is simply lost, as on a real wire.
    if (peer_.ok()) fcntl(peer_.masterFd(), F_SETFL, fcntl(peer_.masterFd(), F_GETFL) | O_NONBLOCK);
    thread_ = std::thread([this] { Run(); });
  }
  ~ScriptedReceiver() {
    stop_ = true;
    thread_.join();
  }
  ScriptedReceiver(const ScriptedReceiver&) = delete;
  ScriptedReceiver& operator=(const ScriptedReceiver&) = delete;

  const std::string& path() const { return peer_.slavePath(); }
  bool ok() const { return peer_.ok(); }

  std::string Received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }
  // Sends `bytes` unasked, between two beats.
  void Inject(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    injected_ += bytes;
  }

  Mode CurrentMode() {
    std::lock_guard<std::mutex> lock(mutex_);
    return mode_;
  }

 private:
  void Run() {
    auto nextBeat = std::chrono::steady_clock::now();
    while (!stop_) {
      pollfd p{peer_.masterFd(), POLLIN, 0};
      if (poll(&p, 1, 10) > 0 && (p.revents & POLLIN)) {
        char buffer[256];
        ssize_t n = read(peer_.masterFd(), buffer, sizeof buffer);
        if (n > 0) Take(std::string(buffer, static_cast<size_t>(n)));
      }
      if (std::chrono::steady_clock::now() >= nextBeat) {
        nextBeat += std::chrono::milliseconds(script_.beatMs);
        Beat();
      }
    }
  }

  void Send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = write(peer_.masterFd(), bytes.data() + done, bytes.size() - done);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }

  void Beat() {
    Mode mode;
    std::string injected;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      mode = mode_;
      injected.swap(injected_);
    }
    Send(injected);
    if (mode == Mode::Nmea)
      Send(script_.beatSentence);
    else if (mode == Mode::Binary)
      Send(Frame(std::string("\x09\x00\x10\x00\x20\x00\x30\x00\x40", 9)));
  }

  // Looks for the viewer's commands in what arrived so far and answers them.
  void Take(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    received_ += bytes;
    inbox_ += bytes;
    for (;;) {
      size_t best = std::string::npos;
      const std::string* which = nullptr;
      for (const std::string* command : {&kAskVersion2, &kAskVersion1, &kToBinary, &kPollVersion, &kBackToNmea}) {
        size_t at = inbox_.find(*command);
        if (at < best) {
          best = at;
          which = command;
        }
      }
      if (which == nullptr) break;
      inbox_.erase(0, best + which->size());
      Answer(*which);
    }
    if (inbox_.size() > 256) inbox_.erase(0, inbox_.size() - 64);
  }

  void Answer(const std::string& command) {
    if (command == kAskVersion2 && mode_ == Mode::Nmea && !script_.answer2.empty()) {
      Send(NmeaSentence("PXVRSWV,2," + script_.answer2));
    } else if (command == kAskVersion1 && mode_ == Mode::Nmea && !script_.answer1.empty()) {
      Send(NmeaSentence("PXVRSWV,1," + script_.answer1));
    } else if (command == kToBinary && mode_ == Mode::Nmea && script_.obeysSwitchToBinary) {
      mode_ = Mode::Binary;
    } else if (command == kPollVersion && mode_ == Mode::Binary) {
      if (!script_.baseVersion.empty()) Send(VersionFrame(script_.baseVersion));
      if (!script_.makerVersion.empty()) Send(VersionFrame(script_.makerVersion));
    } else if (command == kBackToNmea && mode_ == Mode::Binary) {
      mode_ = script_.obeysSwitchToNmea ? Mode::Nmea : Mode::Silent;
    }
  }

  handheld::testing::PtyPeer peer_;
  Script script_;
  std::mutex mutex_;
  Mode mode_;
  std::string received_;
  std::string inbox_;
  std::string injected_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace receiver_test
