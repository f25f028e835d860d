// The simulated receiver: NMEA or SiRF binary output once a second, and its
// answers to what arrives on the line, as a scenario shapes them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "NmeaInput.h"
#include "SerialLine.h"
#include "SimOptions.h"
#include "SirfInput.h"
#include "SkyModel.h"

class Receiver {
 public:
  enum class Mode { Nmea, Binary, Silent };

  // A passive receiver only reports what it receives (used during replay).
  Receiver(const SimOptions& options, SerialLine& line, bool passive);

  // One navigation cycle: moves the sky on and sends what is due.
  void OnSecond();
  void OnBytes(const std::vector<uint8_t>& bytes);
  Mode mode() const { return mode_; }

  static const char* ModeName(Mode mode);
  // Index of each NMEA sentence in the rate tables, as PSRF103 numbers them.
  enum Sentence { kGga = 0, kGll = 1, kGsa = 2, kGsv = 3, kRmc = 4, kVtg = 5, kZda = 8, kSentences = 10 };

 private:
  void Log(const std::string& text) const;
  void SwitchTo(Mode mode, const std::string& why);
  void SendNmea(const std::string& body, bool withChecksum = true);
  void SendFrame(const std::vector<uint8_t>& payload);
  void SendNoise(bool binary);
  void SendCorruptedNmea(const std::string& body);
  void SendCorruptedFrame(const std::vector<uint8_t>& payload);
  uint32_t Random();

  void NmeaCycle();
  void BinaryCycle();
  void SendSentenceOnce(int index);

  void OnSentence(const std::string& body);
  void OnPsrf100(const std::vector<std::string>& fields);
  void OnPsrf103(const std::vector<std::string>& fields);
  void OnPsrf200(const std::vector<std::string>& fields);
  void OnMessage(const std::vector<uint8_t>& payload);
  void OnSwitchToNmea(const std::vector<uint8_t>& payload);
  void OnSetMessageRate(const std::vector<uint8_t>& payload);
  void OnSetSerialPort(const std::vector<uint8_t>& payload);
  bool StoreSettings(const std::vector<uint8_t>& payload);
  // The rate of an output message it can send, else null; and the message.
  uint8_t* RateOf(uint8_t message);
  std::vector<uint8_t> Message(uint8_t message) const;
  void Acknowledge(uint8_t id);

  const SimOptions& options_;
  const Behaviour behaviour_;
  SerialLine& line_;
  bool passive_;
  SkyModel sky_;
  Mode mode_;
  uint32_t seconds_ = 0;  // cycles since power-up
  uint32_t cycle_ = 0;    // cycles since the last protocol switch
  uint32_t random_;
  NmeaInput nmeaIn_;
  SirfInput sirfIn_;
  std::array<uint8_t, kSentences> nmeaRates_{};
  std::array<bool, kSentences> nmeaChecksums_{};
  uint8_t rateNavData_ = 1;
  uint8_t rateTrackerData_ = 1;
  uint8_t rateGeodetic_ = 0;  // message 41: off until enabled or polled
  std::vector<uint8_t> initParams_;   // the 24 bytes after 0x80 of message 43
  std::vector<uint8_t> modeControl_;  // the 13 bytes after 0x88 of message 43
  std::vector<uint8_t> navParams_;    // the 64 bytes after the id of message 19
};
