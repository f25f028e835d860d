// The receiver's end of the serial line: a new pseudo-terminal or a given
// tty, paced at the line rate like a UART.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

class SerialLine {
 public:
  using Clock = std::chrono::steady_clock;

  SerialLine() = default;
  ~SerialLine();
  SerialLine(const SerialLine&) = delete;
  SerialLine& operator=(const SerialLine&) = delete;

  // Opens a new pseudo-terminal, raw at `baud` 8N1; with a link path, makes
  // that a symbolic link to the slave side.
  bool OpenPty(int baud, const std::string& linkPath, std::string& error);
  // Opens a tty, raw at `baud` 8N1, no flow control, modem lines ignored.
  bool OpenDevice(const std::string& device, int baud, std::string& error);
  void Close();

  // Path of the side the other party opens.
  const std::string& Path() const { return path_; }
  int Fd() const { return fd_; }
  bool IsPty() const { return isPty_; }

  // A pseudo-terminal whose slave nobody has open is like an unplugged line:
  // what is sent is lost and nothing arrives.
  bool HasListener() const;
  // On a pseudo-terminal, whether the other side's line settings match ours
  // (speed, 8 data bits, no parity, 1 stop bit). Always true on a tty.
  bool LineSettingsMatch() const;
  void SetCheckLineSettings(bool check) { checkLineSettings_ = check; }

  // Changes the receiver's line rate (and the tty's speed).
  void SetBaud(int baud);
  // The same once the bytes queued now have left at the old rate.
  void SetBaudAfterQueued(int baud);
  int Baud() const { return baud_; }

  // Queues bytes for sending; they leave at the line rate.
  void Send(const std::vector<uint8_t>& bytes);
  void Send(const std::string& bytes);
  size_t Queued() const { return queue_.size(); }
  // Sends what is due; returns milliseconds until more is due, -1 when the
  // queue is empty.
  int Pump();

  // Reads what has arrived (non-blocking). Garbled when the line settings do
  // not match.
  std::vector<uint8_t> Receive();

  // Called with a warning text when the other side's settings start or stop
  // matching.
  void (*onWarning)(const std::string& text) = nullptr;

 private:
  void NoteLineSettings(bool match);
  std::chrono::nanoseconds ByteTime() const;

  int fd_ = -1;
  bool isPty_ = false;
  bool checkLineSettings_ = true;
  int baud_ = 57600;
  std::string path_;
  std::string linkPath_;
  std::deque<uint8_t> queue_;
  Clock::time_point lineFreeAt_{};
  int pendingBaud_ = 0;           // 0: none
  size_t bytesBeforeBaud_ = 0;    // queued bytes still to go at the old rate
  int lastMatch_ = -1;  // -1 unknown, 0 mismatch, 1 match
  uint32_t garble_ = 0x2545F491u;
};
