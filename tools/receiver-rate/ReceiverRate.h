// A SiRF receiver on a host serial device, at whatever line rate and in
// whichever protocol it was left: finds it, brings it to NMEA at 57600 baud
// (the rate the viewer talks at), and gives it back as it was found.
//
// The hunt listens at 57600, 4800, 9600, 19200, 38400 and 115200 baud in
// turn and stops at the first rate that yields a checksummed NMEA sentence
// or a valid SiRF binary frame. A receiver in NMEA is moved with
// "PSRF100,1,<rate>,8,1,0", one in binary with message 129; each switch is
// confirmed by listening at the new rate, and sent again (up to three
// times) while the receiver is still heard at the old one.
//
// The device is opened raw 8N1 without flow control and left at the rate
// last used. Every wait can be cut short by a stop test (Ctrl-C in the
// program that runs the hunt). Not thread-safe: one thread uses an object.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class ReceiverRate {
 public:
  enum class Protocol { Nmea, Binary };
  struct Setting {
    int baud = 0;
    Protocol protocol = Protocol::Nmea;
    bool operator==(const Setting&) const = default;
  };

  // NMEA at 57600 baud: what the viewer expects.
  static constexpr Setting kViewerSetting{57600, Protocol::Nmea};
  // The rates tried, in this order.
  static const std::vector<int>& HuntRates();
  // How long one rate is listened to before the next is tried.
  static constexpr int kListenMs = 2500;

  explicit ReceiverRate(std::string device);
  ~ReceiverRate();
  ReceiverRate(const ReceiverRate&) = delete;
  ReceiverRate& operator=(const ReceiverRate&) = delete;

  // Waits end early once `stopped` answers true (e.g. after Ctrl-C).
  void SetStop(std::function<bool()> stopped) { stopped_ = std::move(stopped); }

  // Finds the receiver (or, with `givenBaud` other than 0, listens at that
  // rate only to learn its protocol, taking NMEA if nothing is heard) and
  // brings it to kViewerSetting. With `givenBaud` 57600 the device is not
  // touched. `report` says what was done, or why it failed (a silent
  // device: the device and the rates tried). True when the receiver is at
  // kViewerSetting afterwards.
  bool BringToViewerRate(int givenBaud, std::string& report);
  // Whether BringToViewerRate learnt where the receiver was, and where.
  bool Found() const { return found_; }
  const Setting& FoundSetting() const { return foundSetting_; }

  // Switches a receiver now at 57600 baud (in either protocol, learnt by
  // listening) back to `setting`. True when it is heard there afterwards.
  bool Restore(const Setting& setting, std::string& report);

  // "4800 baud (NMEA)", "38400 baud (SiRF binary)".
  static std::string Describe(const Setting& setting);
  // "4800,nmea" or "38400,binary" (a rate of the hunt).
  static bool ParseSetting(const std::string& text, Setting& setting);
  static bool ValidBaud(long long baud);
  // A rate of the hunt written as a whole number ("4800").
  static bool ParseBaud(const std::string& text, long long* baud);

  // The bytes that move a receiver in `from.protocol` to `to`, sent at
  // from.baud: a PSRF100 sentence, or from binary a message 129 (which can
  // carry only a rate below 65536 and only to NMEA).
  static std::vector<uint8_t> SwitchCommand(Protocol from, const Setting& to);

 private:
  // Opens the device (once) raw at `baud`.
  bool Open(int baud, std::string& error);
  bool SetSpeed(int baud);
  // Listens at `baud` for up to `ms`; true with the protocol heard first
  // (only `wanted` counts when given).
  bool Listen(int baud, int ms, Protocol& heard, const Protocol* wanted = nullptr);
  bool ListenFor(const Setting& setting);
  // Sends at the present rate and waits until the bytes are on the line and
  // the receiver has had time to take them in.
  bool Send(const std::vector<uint8_t>& bytes);
  // One move of the receiver from `from` to `to`, confirmed at `to`.
  bool Step(const Setting& from, const Setting& to);
  // Moves the receiver from `from` to `to`, through NMEA at from.baud when
  // one message cannot do it.
  bool Switch(const Setting& from, const Setting& to);
  bool Stopped() const { return stopped_ && stopped_(); }

  std::string device_;
  int fd_ = -1;
  int baud_ = 0;
  std::function<bool()> stopped_;
  bool found_ = false;
  Setting foundSetting_;
};
