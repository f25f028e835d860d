#include "SirfOutput.h"

#include <algorithm>
#include <cmath>
#include <ctime>

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
  const auto used = sky.usedPrns();
  for (size_t i = 0; i < 12; ++i) {
    if (i < sats.size()) {
      const auto& s = sats[i];
      p.push_back(static_cast<uint8_t>(s.prn));
      p.push_back(static_cast<uint8_t>(std::lround(s.azimuth * 2.0 / 3.0)));
      p.push_back(static_cast<uint8_t>(s.elevation * 2));
      // A satellite in the fix: acquired (0x01, which clients read as "used
      // in the solution"), carrier phase, bit and subframe sync, carrier
      // pulled, code locked, ephemeris (0x80). One only tracked: without the
      // first and the last.
      bool inFix = std::find(used.begin(), used.end(), s.prn) != used.end();
      Put16(p, s.snr <= 0 ? 0x0000 : inFix ? 0x00BF : 0x003E);
      for (int k = 0; k < 10; ++k) p.push_back(static_cast<uint8_t>(s.snr));
    } else {
      p.insert(p.end(), 15, 0);
    }
  }
  return p;
}

std::vector<uint8_t> SirfOutput::Version(const std::string& text) {
  std::vector<uint8_t> p;
  p.push_back(6);
  for (char c : text) p.push_back(static_cast<uint8_t>(c));
  p.resize(std::max(kVersionChars, text.size()) + 1, 0);
  return p;
}

namespace {
uint32_t Signed32(double value) { return static_cast<uint32_t>(static_cast<int32_t>(std::lround(value))); }
}  // namespace

std::vector<uint8_t> SirfOutput::GeodeticNav(const SkyModel& sky) {
  const bool fix = sky.fix() != FixKind::None;
  const auto used = sky.usedPrns();
  std::vector<uint8_t> p{41};
  Put16(p, fix ? 0x0000 : 0x0001);  // navigation valid: 0, else "no fix"
  // Navigation type, low bits as in message 2: 4+ satellites (3-D), 3
  // satellites (2-D), none.
  Put16(p, sky.fix() == FixKind::ThreeD ? 4 : sky.fix() == FixKind::TwoD ? 3 : 0);
  Put16(p, static_cast<uint16_t>(sky.gpsWeek()));
  Put32(p, sky.gpsSecondsOfWeek() * 1000u);
  std::time_t t = static_cast<std::time_t>(sky.utcSeconds());
  std::tm tm{};
  gmtime_r(&t, &tm);
  Put16(p, static_cast<uint16_t>(tm.tm_year + 1900));
  for (int field : {tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min}) p.push_back(static_cast<uint8_t>(field));
  Put16(p, static_cast<uint16_t>(tm.tm_sec * 1000));
  uint32_t satellites = 0;
  for (int prn : used)
    if (prn >= 1 && prn <= 32) satellites |= 1u << (prn - 1);
  Put32(p, satellites);
  Put32(p, fix ? Signed32(sky.latitude() * 1e7) : 0);
  Put32(p, fix ? Signed32(sky.longitude() * 1e7) : 0);
  Put32(p, fix ? Signed32(sky.ellipsoidHeight() * 100) : 0);
  Put32(p, fix ? Signed32(sky.altitude() * 100) : 0);
  p.push_back(21);  // map datum WGS-84
  const double metresPerSecond = fix ? sky.speedKnots() * 1852.0 / 3600.0 : 0;
  Put16(p, static_cast<uint16_t>(std::lround(metresPerSecond * 100)));
  Put16(p, static_cast<uint16_t>(fix ? std::lround(sky.courseDegrees() * 100) : 0));
  Put16(p, 0);  // magnetic variation (not given)
  Put16(p, 0);  // climb rate
  Put16(p, 0);  // heading rate
  // Estimated errors: horizontal 5 m, vertical 8 m, time, velocity 0.1 m/s.
  Put32(p, fix ? 500 : 0);
  Put32(p, fix ? 800 : 0);
  Put32(p, 0);
  Put16(p, fix ? 10 : 0);
  Put32(p, 0);  // clock bias
  Put32(p, 0);  // clock bias error
  Put32(p, 96250);  // clock drift, as message 43 reports it
  Put32(p, 0);  // clock drift error
  Put32(p, 0);  // distance travelled
  Put16(p, 0);  // distance error
  Put16(p, 0);  // heading error
  p.push_back(static_cast<uint8_t>(used.size()));
  p.push_back(fix ? 5 : 0);  // HDOP 1.0, times 5, as in message 2
  p.push_back(0);            // additional mode information
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
