#include "Receiver.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "LineRate.h"
#include "NmeaOutput.h"
#include "SirfOutput.h"

namespace {

std::vector<std::string> SplitFields(const std::string& body) {
  std::vector<std::string> fields;
  std::string field;
  std::stringstream in(body);
  while (std::getline(in, field, ',')) fields.push_back(field);
  if (!body.empty() && body.back() == ',') fields.push_back("");
  return fields;
}

bool ToInt(const std::string& text, long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtol(text.c_str(), &end, 10);
  return end && *end == '\0';
}

const char* MessageName(uint8_t id) {
  switch (id) {
    case 128: return "initialize data source";
    case 129: return "switch to NMEA";
    case 130: return "set almanac";
    case 132: return "poll software version";
    case 133: return "DGPS source";
    case 134: return "set binary serial port";
    case 136: return "mode control";
    case 143: return "static navigation";
    case 146: return "poll almanac";
    case 147: return "poll ephemeris";
    case 148: return "flash update";
    case 149: return "set ephemeris";
    case 151: return "set TricklePower parameters";
    case 152: return "poll navigation parameters";
    case 166: return "set message rate";
    case 168: return "poll command parameters";
    default: return "unknown";
  }
}

// The set messages this receiver carries out; any other is refused.
bool IsSetMessage(uint8_t id) {
  switch (id) {
    case 128: case 133: case 134: case 136: case 143: case 166:
      return true;
    default:
      return false;
  }
}

std::string Hex(const std::vector<uint8_t>& bytes, size_t max = 32) {
  std::string out;
  char buffer[4];
  for (size_t i = 0; i < bytes.size() && i < max; ++i) {
    std::snprintf(buffer, sizeof buffer, "%02X", bytes[i]);
    if (i) out += ' ';
    out += buffer;
  }
  if (bytes.size() > max) out += " ...";
  return out;
}

const auto kStart = std::chrono::steady_clock::now();

}  // namespace

const char* Receiver::ModeName(Mode mode) {
  switch (mode) {
    case Mode::Nmea: return "NMEA";
    case Mode::Binary: return "SiRF binary";
    case Mode::Silent: return "silence";
  }
  return "?";
}

Receiver::Receiver(const SimOptions& options, SerialLine& line, bool passive)
    : options_(options),
      behaviour_(options.behaviour),
      line_(line),
      passive_(passive),
      sky_(options),
      random_(options.seed * 2654435761u + 0x9E3779B9u) {
  mode_ = behaviour_.start == StartMode::Binary   ? Mode::Binary
          : behaviour_.start == StartMode::Silent ? Mode::Silent
                                                  : Mode::Nmea;
  nmeaRates_[kGga] = nmeaRates_[kGsa] = nmeaRates_[kGsv] = nmeaRates_[kRmc] = 1;
  nmeaChecksums_.fill(true);

  double x, y, z;
  sky_.Ecef(x, y, z);
  SirfOutput::Put32(initParams_, static_cast<uint32_t>(static_cast<int32_t>(std::lround(x))));
  SirfOutput::Put32(initParams_, static_cast<uint32_t>(static_cast<int32_t>(std::lround(y))));
  SirfOutput::Put32(initParams_, static_cast<uint32_t>(static_cast<int32_t>(std::lround(z))));
  SirfOutput::Put32(initParams_, 96250);  // clock drift, Hz
  SirfOutput::Put32(initParams_, sky_.gpsSecondsOfWeek() * 100u);
  SirfOutput::Put16(initParams_, static_cast<uint16_t>(sky_.gpsWeek()));
  initParams_.push_back(12);  // channels
  initParams_.push_back(0);   // reset configuration

  // Reserved, reserved, degraded mode, position calculation mode, reserved,
  // altitude (2), altitude hold mode, altitude hold source, coast time-out,
  // degraded time-out, dead-reckoning time-out, track smoothing.
  modeControl_ = {0, 0, 1, 3, 0, 0, 0, 0, 0, 15, 30, 15, 0};

  navParams_.assign(64, 0);
  auto at = [this](int payloadByte) -> uint8_t& { return navParams_[payloadByte - 1]; };
  at(9) = 1;    // degraded mode
  at(10) = 30;  // degraded time-out
  at(11) = 15;  // dead-reckoning time-out
  at(19) = 4;   // DOP mask mode
  at(21) = 75;  // elevation mask 7.5 degrees
  at(22) = 28;  // power mask dB-Hz
  at(29) = 30;  // DGPS time-out
  at(37) = 0;   // on-time 200 ms
  at(38) = 200;
  at(41) = 0x03;  // interval 1000 ms
  at(42) = 0xE8;
}

void Receiver::Log(const std::string& text) const {
  if (!options_.verbose) return;
  double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - kStart).count();
  std::fprintf(stderr, "[%8.3f] %s\n", t, text.c_str());
}

uint32_t Receiver::Random() {
  random_ ^= random_ << 13;
  random_ ^= random_ >> 17;
  random_ ^= random_ << 5;
  return random_;
}

void Receiver::SwitchTo(Mode mode, const std::string& why) {
  Log(std::string("switch: ") + ModeName(mode_) + " -> " + ModeName(mode) + " (" + why + ")");
  mode_ = mode;
  cycle_ = 0;
  nmeaIn_.Reset();
  sirfIn_.Reset();
}

void Receiver::SendNmea(const std::string& body, bool withChecksum) {
  line_.Send(NmeaOutput::Frame(body, withChecksum));
}

void Receiver::SendFrame(const std::vector<uint8_t>& payload) {
  line_.Send(SirfOutput::Frame(payload));
}

// Garbage that a framer must survive: no sentence start or frame start in
// it, and a line end so that a sentence framer resynchronises.
void Receiver::SendNoise(bool binary) {
  std::vector<uint8_t> noise;
  uint32_t count = 3 + Random() % 18;
  while (noise.size() < count) {
    uint8_t b = static_cast<uint8_t>(Random());
    if (b == '$' || b == 0xA0) continue;
    noise.push_back(b);
  }
  if (binary) {
    noise.push_back(0xB0);
    noise.push_back(0xB3);
  } else {
    noise.push_back('\r');
    noise.push_back('\n');
  }
  line_.Send(noise);
}

void Receiver::SendCorruptedNmea(const std::string& body) {
  std::string frame = NmeaOutput::Frame(body);
  // Change one character of the body, keep the old checksum.
  size_t at = 1 + Random() % body.size();
  frame[at] = frame[at] == '0' ? '1' : '0';
  line_.Send(frame);
}

void Receiver::SendCorruptedFrame(const std::vector<uint8_t>& payload) {
  auto frame = SirfOutput::Frame(payload);
  size_t at = 4 + Random() % payload.size();
  frame[at] = static_cast<uint8_t>(frame[at] ^ 0x01);
  if (frame[at] == 0xB0) frame[at] = 0x31;  // never an early end marker
  line_.Send(frame);
}

void Receiver::OnSecond() {
  if (seconds_++ > 0) sky_.Advance();
  if (passive_) return;
  if (mode_ == Mode::Nmea) NmeaCycle();
  else if (mode_ == Mode::Binary && behaviour_.binaryOutput) BinaryCycle();
  ++cycle_;
}

void Receiver::NmeaCycle() {
  std::vector<std::pair<std::string, bool>> cycle;
  auto due = [this](int index) {
    return nmeaRates_[index] > 0 && cycle_ % nmeaRates_[index] == 0;
  };
  for (int index : {kZda, kGga, kGll, kGsa, kGsv, kRmc, kVtg}) {
    if (!due(index)) continue;
    bool check = nmeaChecksums_[index];
    switch (index) {
      case kGga: cycle.emplace_back(NmeaOutput::Gga(sky_), check); break;
      case kGll: cycle.emplace_back(NmeaOutput::Gll(sky_), check); break;
      case kGsa: cycle.emplace_back(NmeaOutput::Gsa(sky_), check); break;
      case kGsv:
        for (auto& body : NmeaOutput::Gsv(sky_)) cycle.emplace_back(body, check);
        break;
      case kRmc: cycle.emplace_back(NmeaOutput::Rmc(sky_), check); break;
      case kVtg: cycle.emplace_back(NmeaOutput::Vtg(sky_), check); break;
      case kZda: cycle.emplace_back(NmeaOutput::Zda(sky_), check); break;
    }
  }
  if (behaviour_.noise) SendNoise(false);
  size_t corrupt = behaviour_.noise && !cycle.empty() ? Random() % cycle.size() : cycle.size();
  for (size_t i = 0; i < cycle.size(); ++i) {
    if (i == corrupt) SendCorruptedNmea(cycle[i].first);
    else SendNmea(cycle[i].first, cycle[i].second);
  }
}

void Receiver::BinaryCycle() {
  if (behaviour_.noise) SendNoise(true);
  if (rateNavData_ > 0 && cycle_ % rateNavData_ == 0) SendFrame(SirfOutput::NavData(sky_));
  if (rateTrackerData_ > 0 && cycle_ % rateTrackerData_ == 0) {
    if (behaviour_.noise && cycle_ % 2 == 1) SendCorruptedFrame(SirfOutput::TrackerData(sky_));
    else SendFrame(SirfOutput::TrackerData(sky_));
  }
  if (rateGeodetic_ > 0 && cycle_ % rateGeodetic_ == 0) SendFrame(SirfOutput::GeodeticNav(sky_));
}

void Receiver::SendSentenceOnce(int index) {
  bool check = nmeaChecksums_[index];
  switch (index) {
    case kGga: SendNmea(NmeaOutput::Gga(sky_), check); break;
    case kGll: SendNmea(NmeaOutput::Gll(sky_), check); break;
    case kGsa: SendNmea(NmeaOutput::Gsa(sky_), check); break;
    case kGsv:
      for (auto& body : NmeaOutput::Gsv(sky_)) SendNmea(body, check);
      break;
    case kRmc: SendNmea(NmeaOutput::Rmc(sky_), check); break;
    case kVtg: SendNmea(NmeaOutput::Vtg(sky_), check); break;
    case kZda: SendNmea(NmeaOutput::Zda(sky_), check); break;
    default: break;
  }
}

void Receiver::OnBytes(const std::vector<uint8_t>& bytes) {
  for (uint8_t b : bytes) {
    // A receiver listens in the protocol it speaks; a silent one, or a
    // replay, is watched in both.
    bool nmea = passive_ || mode_ != Mode::Binary;
    bool binary = passive_ || mode_ != Mode::Nmea;
    if (nmea) {
      std::string body;
      switch (nmeaIn_.OnByte(b, body)) {
        case NmeaInput::Result::None: break;
        case NmeaInput::Result::Sentence:
          Log("received $" + body);
          if (!passive_ && mode_ == Mode::Nmea) OnSentence(body);
          break;
        case NmeaInput::Result::BadChecksum:
          Log("received $" + body + " with a wrong checksum: ignored");
          break;
        case NmeaInput::Result::NoChecksum:
          Log("received $" + body + " without a checksum: ignored");
          break;
        case NmeaInput::Result::TooLong:
          Log("received an over-long sentence: ignored");
          break;
      }
    }
    if (binary && (mode_ != Mode::Nmea || passive_)) {
      std::vector<uint8_t> payload;
      switch (sirfIn_.OnByte(b, payload)) {
        case SirfInput::Result::None: break;
        case SirfInput::Result::Frame:
          Log("received message " + std::to_string(payload[0]) + " (" + MessageName(payload[0]) +
              "): " + Hex(payload));
          if (!passive_ && mode_ == Mode::Binary) OnMessage(payload);
          break;
        case SirfInput::Result::BadFrame:
          Log("received a broken frame: ignored");
          break;
      }
    }
  }
}

void Receiver::OnSentence(const std::string& body) {
  auto fields = SplitFields(body);
  if (fields.empty()) return;
  const std::string& id = fields[0];
  if (id == "PSRF100") OnPsrf100(fields);
  else if (id == "PSRF103") OnPsrf103(fields);
  else if (id == "PSRF200") OnPsrf200(fields);
  else Log(id + ": not acted on");
}

void Receiver::OnPsrf100(const std::vector<std::string>& fields) {
  long protocol, baud, data, stop, parity;
  if (fields.size() < 6 || !ToInt(fields[1], protocol) || !ToInt(fields[2], baud) ||
      !ToInt(fields[3], data) || !ToInt(fields[4], stop) || !ToInt(fields[5], parity) ||
      (protocol != 0 && protocol != 1) || !LineRate::Valid(baud) || data != 8 || stop != 1 ||
      parity != 0) {
    Log("PSRF100 with unusable fields: ignored");
    return;
  }
  if (protocol == 1) {
    if (baud != line_.Baud()) {
      Log("line rate " + std::to_string(line_.Baud()) + " -> " + std::to_string(baud));
      line_.SetBaud(static_cast<int>(baud));
    }
    return;
  }
  if (!behaviour_.honourBinarySwitch) {
    Log("PSRF100 to binary: this receiver does not switch");
    return;
  }
  if (baud != line_.Baud()) {
    Log("line rate " + std::to_string(line_.Baud()) + " -> " + std::to_string(baud));
    line_.SetBaud(static_cast<int>(baud));
  }
  SwitchTo(Mode::Binary, "PSRF100");
}

void Receiver::OnPsrf103(const std::vector<std::string>& fields) {
  long msg, mode, rate, checksum;
  if (fields.size() < 5 || !ToInt(fields[1], msg) || !ToInt(fields[2], mode) ||
      !ToInt(fields[3], rate) || !ToInt(fields[4], checksum) || msg < 0 || msg >= kSentences ||
      rate < 0 || rate > 255) {
    Log("PSRF103 with unusable fields: ignored");
    return;
  }
  if (mode == 0) {
    nmeaRates_[static_cast<size_t>(msg)] = static_cast<uint8_t>(rate);
    nmeaChecksums_[static_cast<size_t>(msg)] = checksum != 0;
    Log("rate of sentence " + std::to_string(msg) + ": every " + std::to_string(rate) +
        " s, checksum " + (checksum ? "on" : "off"));
  } else if (mode == 1) {
    SendSentenceOnce(static_cast<int>(msg));
  }
}

void Receiver::OnPsrf200(const std::vector<std::string>& fields) {
  long selector = 0;
  if (fields.size() < 2 || !ToInt(fields[1], selector)) return;
  const std::string* text = nullptr;
  if (selector == 2 && behaviour_.nmeaVersionAnswers >= 1) text = &options_.nmeaVersion2;
  if (selector == 1 && behaviour_.nmeaVersionAnswers >= 2) text = &options_.nmeaVersion1;
  if (!text) {
    Log("PSRF200," + std::to_string(selector) + ": no answer");
    return;
  }
  std::string body = NmeaOutput::Swv(static_cast<int>(selector), *text);
  Log("answer $" + body);
  if (behaviour_.noise) {
    SendNoise(false);
    SendCorruptedNmea(body);
  }
  SendNmea(body);
}

void Receiver::Acknowledge(uint8_t id) {
  if (behaviour_.refuseSets) {
    Log("refused with message 12");
    SendFrame(SirfOutput::Nack(id));
  } else {
    SendFrame(SirfOutput::Ack(id));
  }
}

void Receiver::OnMessage(const std::vector<uint8_t>& p) {
  uint8_t id = p[0];
  if (id == 129) {
    OnSwitchToNmea(p);
    return;
  }
  if (!behaviour_.binaryOutput) {
    Log("no answer (this receiver sends nothing in binary mode)");
    return;
  }
  switch (id) {
    case 132: {
      bool base = behaviour_.binaryVersions == BinaryVersions::Both ||
                  behaviour_.binaryVersions == BinaryVersions::BaseOnly;
      bool maker = behaviour_.binaryVersions == BinaryVersions::Both ||
                   behaviour_.binaryVersions == BinaryVersions::MakerOnly;
      for (const std::string* text : {base ? &options_.baseVersion : nullptr,
                                      maker ? &options_.makerVersion : nullptr}) {
        if (!text) continue;
        Log("answer message 6 \"" + *text + "\"");
        if (behaviour_.noise) {
          SendNoise(true);
          SendCorruptedFrame(SirfOutput::Version(*text));
        }
        SendFrame(SirfOutput::Version(*text));
      }
      if (!base && !maker) Log("no answer to the version poll");
      return;
    }
    case 152:
      Log("answer message 19");
      SendFrame(SirfOutput::NavParams(navParams_));
      return;
    case 168:
      if (p.size() >= 2 && p[1] == 0x80) {
        Log("answer message 43 for 0x80");
        SendFrame(SirfOutput::CommandParams(0x80, initParams_));
      } else if (p.size() >= 2 && p[1] == 0x88) {
        Log("answer message 43 for 0x88");
        SendFrame(SirfOutput::CommandParams(0x88, modeControl_));
      } else {
        SendFrame(SirfOutput::Nack(id));
      }
      return;
    default:
      break;
  }
  if (!IsSetMessage(id)) {
    Log("not supported: message 12");
    SendFrame(SirfOutput::Nack(id));
    return;
  }
  if (behaviour_.refuseSets) {
    Acknowledge(id);
    return;
  }
  if (id == 166) OnSetMessageRate(p);
  else if (id == 134) OnSetSerialPort(p);
  else if (StoreSettings(p)) Acknowledge(id);
  else SendFrame(SirfOutput::Nack(id));
}

// Messages 128, 133, 136 and 143: their settings kept where messages 19
// and 43 report them. False for a message too short to carry them.
bool Receiver::StoreSettings(const std::vector<uint8_t>& p) {
  auto at = [this](int payloadByte) -> uint8_t& { return navParams_[payloadByte - 1]; };
  switch (p[0]) {
    case 128:
      if (p.size() < 25) return false;
      initParams_.assign(p.begin() + 1, p.begin() + 25);
      return true;
    case 133:
      if (p.size() < 2) return false;
      at(27) = p[1];
      return true;
    case 136:
      if (p.size() < 14) return false;
      modeControl_.assign(p.begin() + 1, p.begin() + 14);
      at(5) = modeControl_[7];
      at(6) = modeControl_[8];
      at(7) = modeControl_[5];
      at(8) = modeControl_[6];
      at(9) = modeControl_[2];
      at(10) = modeControl_[10];
      at(11) = modeControl_[11];
      at(12) = modeControl_[12];
      return true;
    case 143:
      if (p.size() < 2) return false;
      at(13) = p[1];
      return true;
    default:
      return false;
  }
}

uint8_t* Receiver::RateOf(uint8_t message) {
  switch (message) {
    case 2: return &rateNavData_;
    case 4: return &rateTrackerData_;
    case 41: return &rateGeodetic_;
    default: return nullptr;
  }
}

std::vector<uint8_t> Receiver::Message(uint8_t message) const {
  switch (message) {
    case 2: return SirfOutput::NavData(sky_);
    case 4: return SirfOutput::TrackerData(sky_);
    default: return SirfOutput::GeodeticNav(sky_);
  }
}

// Mode 0 sets the rate of a message in seconds (0 = off), mode 1 polls it
// once; a message this receiver does not send, or another mode, is refused.
void Receiver::OnSetMessageRate(const std::vector<uint8_t>& p) {
  uint8_t* rate = p.size() >= 4 ? RateOf(p[2]) : nullptr;
  const uint8_t mode = p.size() >= 2 ? p[1] : 0xFF;
  if (rate == nullptr || mode > 1 || (mode == 0 && p.size() < 4)) {
    Log("message rate for a message or mode this receiver does not have: message 12");
    SendFrame(SirfOutput::Nack(166));
    return;
  }
  Acknowledge(166);
  if (mode == 0) {
    *rate = p[3];
    Log("rate of message " + std::to_string(p[2]) + ": every " + std::to_string(p[3]) + " s");
    return;
  }
  SendFrame(Message(p[2]));
  // Geodetic data, once polled, goes on in every cycle.
  if (p[2] == 41 && *rate == 0) *rate = 1;
}

// Baud (32 bits), data bits, stop bits, parity, reserved. Acknowledged at
// the old rate; the new one holds from the next byte on.
void Receiver::OnSetSerialPort(const std::vector<uint8_t>& p) {
  long baud = p.size() >= 8 ? static_cast<long>(p[1]) << 24 | p[2] << 16 | p[3] << 8 | p[4] : 0;
  if (p.size() < 8 || !LineRate::Valid(baud) || p[5] != 8 || p[6] != 1 || p[7] != 0) {
    Log("set binary serial port with unusable fields: message 12");
    SendFrame(SirfOutput::Nack(134));
    return;
  }
  Acknowledge(134);
  if (baud == line_.Baud()) return;
  Log("line rate " + std::to_string(line_.Baud()) + " -> " + std::to_string(baud));
  line_.SetBaudAfterQueued(static_cast<int>(baud));
}

void Receiver::OnSwitchToNmea(const std::vector<uint8_t>& p) {
  if (!behaviour_.honourNmeaSwitch) {
    SwitchTo(Mode::Silent, "message 129, and this receiver falls silent");
    return;
  }
  // Mode, then rate and checksum for GGA, GLL, GSA, GSV, RMC, VTG, MSS, -,
  // ZDA, -, then the baud rate.
  if (p.size() >= 22) {
    for (size_t i = 0; i < kSentences; ++i) {
      nmeaRates_[i] = p[2 + 2 * i];
      nmeaChecksums_[i] = p[3 + 2 * i] != 0;
    }
  }
  if (p.size() >= 24) {
    long baud = p[22] * 256 + p[23];
    if (LineRate::Valid(baud) && baud != line_.Baud()) {
      Log("line rate " + std::to_string(line_.Baud()) + " -> " + std::to_string(baud));
      line_.SetBaud(static_cast<int>(baud));
    }
  }
  std::string rates;
  for (size_t i = 0; i < kSentences; ++i) rates += " " + std::to_string(nmeaRates_[i]);
  SwitchTo(Mode::Nmea, "message 129, rates" + rates);
}
