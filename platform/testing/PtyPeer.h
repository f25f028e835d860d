// Test and tool support: the far end of a pseudo-terminal, standing in for
// the device on the other side of a serial line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace handheld::testing {

class PtyPeer {
 public:
  PtyPeer();  // opens a pty pair in raw mode; the slave stays open too
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  bool ok() const { return master_ >= 0; }
  const std::string& slavePath() const { return slavePath_; }
  int masterFd() const { return master_; }
  int slaveFd() const { return slave_; }  // for reading the line settings

  bool Write(const std::vector<uint8_t>& bytes);
  bool Write(const std::string& bytes);
  // Reads until `count` bytes arrived or `timeoutMs` passed; returns what came.
  std::vector<uint8_t> Read(size_t count, int timeoutMs);
  // Reads whatever arrives within `timeoutMs`, until it goes quiet for `quietMs`.
  std::vector<uint8_t> ReadFor(int timeoutMs, int quietMs = 100);
  // Hangs up: closes the master side, as a device that goes away would.
  void CloseMaster();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};

}  // namespace handheld::testing
