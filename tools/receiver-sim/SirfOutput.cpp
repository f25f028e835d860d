#include "SirfOutput.h"

#include <cmath>

void SirfOutput::Put16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

void SirfOutput::Put32(std::vector<uint8_t>& out, uint32_t value) {
  Put16(out, static_cast<uint16_t>(value >> 16));
  Put16(out, static_cast<uint16_t>(value));
}

uint16_t SirfOutput::Checksum(const std::vector<uint8_t>& payload) {
  uint32_t sum = 0;
  for (uint8_t b : payload) sum += b;
  return static_cast<uint16_t>(sum & 0x7FFF);
}

std::vector<uint8_t> SirfOutput::Frame(const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> frame{0xA0, 0xA2};
  Put16(frame, static_cast<uint16_t>(payload.size()));
  frame.insert(frame.end(), payload.begin(), payload.end());
  Put16(frame, Checksum(payload));
  frame.push_back(0xB0);
  frame.push_back(0xB3);
  return frame;
}

std::vector<uint8_t> SirfOutput::NavData(const SkyModel& sky) {
  std::vector<uint8_t> p{2};
  double x, y, z, vx, vy, vz;
  sky.Ecef(x, y, z);
  sky.EcefVelocity(vx, vy, vz);
  Put32(p, static_cast<uint32_t>(static_cast<int32_t>(std::lround(x))));
  Put32(p, static_cast<uint32_t>(static_cast<int32_t>(std::lround(y))));
  Put32(p, static_cast<uint32_t>(static_cast<int32_t>(std::lround(z))));
  Put16(p, static_cast<uint16_t>(static_cast<int16_t>(std::lround(vx * 8))));
  Put16(p, static_cast<uint16_t>(static_cast<int16_t>(std::lround(vy * 8))));
  Put16(p, static_cast<uint16_t>(static_cast<int16_t>(std::lround(vz * 8))));
  auto used = sky.usedPrns();
  // Mode 1, low bits: 0 no fix, 3 two-dimensional (3 satellites), 4 three-dimensional.
  uint8_t mode1 = sky.fix() == FixKind::ThreeD ? 4 : sky.fix() == FixKind::TwoD ? 3 : 0;
  p.push_back(mode1);
  p.push_back(sky.fix() == FixKind::None ? 0 : 5);  // HDOP 1.0, times 5
  p.push_back(0);                                    // mode 2
  Put16(p, static_cast<uint16_t>(sky.gpsWeek()));
  Put32(p, sky.gpsSecondsOfWeek() * 100u);
  p.push_back(static_cast<uint8_t>(used.size()));
  for (size_t i = 0; i < 12; ++i) p.push_back(i < used.size() ? static_cast<uint8_t>(used[i]) : 0);
  return p;
}

std::vector<uint8_t> SirfOutput::TrackerData(const SkyModel& sky) {
  std::vector<uint8_t> p{4};
  Put16(p, static_cast<uint16_t>(sky.gpsWeek()));
  Put32(p, sky.gpsSecondsOfWeek() * 100u);
  p.push_back(12);
  const auto& sats = sky.satellites();
  for (size_t i = 0; i < 12; ++i) {
    if (i < sats.size()) {
      const auto& s = sats[i];
      p.push_back(static_cast<uint8_t>(s.prn));
      p.push_back(static_cast<uint8_t>(std::lround(s.azimuth * 2.0 / 3.0)));
      p.push_back(static_cast<uint8_t>(s.elevation * 2));
      Put16(p, s.snr > 0 ? 0x00BF : 0x0000);  // acquired, locked, bit sync, frame sync
      for (int k = 0; k < 10; ++k) p.push_back(static_cast<uint8_t>(s.snr));
    } else {
      p.insert(p.end(), 15, 0);
    }
  }
  return p;
}

std::vector<uint8_t> SirfOutput::Version(const std::string& text) {
  std::vector<uint8_t> p;
  p.reserve(text.size() + 1);
  p.push_back(6);
  for (char c : text) p.push_back(static_cast<uint8_t>(c));
  return p;
}

std::vector<uint8_t> SirfOutput::Ack(uint8_t messageId) { return {11, messageId}; }

std::vector<uint8_t> SirfOutput::Nack(uint8_t messageId) { return {12, messageId}; }

std::vector<uint8_t> SirfOutput::NavParams(const std::vector<uint8_t>& parameters) {
  std::vector<uint8_t> p{19};
  p.insert(p.end(), parameters.begin(), parameters.end());
  p.resize(65, 0);
  return p;
}

std::vector<uint8_t> SirfOutput::CommandParams(uint8_t polledId,
                                               const std::vector<uint8_t>& parameters) {
  std::vector<uint8_t> p{43, polledId};
  p.insert(p.end(), parameters.begin(), parameters.end());
  return p;
}
