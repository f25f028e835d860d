#include "NmeaOutput.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace {

std::tm Utc(const SkyModel& sky) {
  std::time_t t = static_cast<std::time_t>(sky.utcSeconds());
  std::tm tm{};
  gmtime_r(&t, &tm);
  return tm;
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

std::string Time(const SkyModel& sky) {
  std::tm tm = Utc(sky);
  return Format("%02d%02d%02d.000", tm.tm_hour, tm.tm_min, tm.tm_sec);
}

// ddmm.mmmm,N / dddmm.mmmm,E
std::string Coordinate(double degrees, int degreeDigits, char positive, char negative) {
  char hemisphere = degrees < 0 ? negative : positive;
  double a = std::fabs(degrees);
  // Round to 1/10000 minute first so that 59.99995 minutes carry over.
  long long tenThousandths = std::llround(a * 60.0 * 10000.0);
  long long whole = tenThousandths / (60 * 10000);
  double minutes = static_cast<double>(tenThousandths % (60 * 10000)) / 10000.0;
  return Format("%0*lld%07.4f,%c", degreeDigits, whole, minutes, hemisphere);
}

bool HasFix(const SkyModel& sky) { return sky.fix() != FixKind::None; }

}  // namespace

uint8_t NmeaOutput::Checksum(const std::string& body) {
  uint8_t sum = 0;
  for (unsigned char c : body) sum ^= c;
  return sum;
}

std::string NmeaOutput::Frame(const std::string& body, bool withChecksum) {
  if (!withChecksum) return "$" + body + "\r\n";
  return "$" + body + Format("*%02X\r\n", Checksum(body));
}

std::string NmeaOutput::Gga(const SkyModel& sky) {
  std::string body = "GPGGA," + Time(sky) + ",";
  auto used = sky.usedPrns();
  if (!HasFix(sky)) return body + Format(",,,,0,%02zu,,,M,0.0,M,,0000", used.size());
  return body + Coordinate(sky.latitude(), 2, 'N', 'S') + "," +
         Coordinate(sky.longitude(), 3, 'E', 'W') +
         Format(",1,%02zu,1.0,%.1f,M,%.1f,M,,0000", used.size(), sky.altitude(),
                sky.geoidSeparation());
}

std::string NmeaOutput::Gll(const SkyModel& sky) {
  std::string time = Time(sky);
  if (!HasFix(sky)) return "GPGLL,,,,," + time + ",V";
  return "GPGLL," + Coordinate(sky.latitude(), 2, 'N', 'S') + "," +
         Coordinate(sky.longitude(), 3, 'E', 'W') + "," + time + ",A";
}

std::string NmeaOutput::Gsa(const SkyModel& sky) {
  auto used = sky.usedPrns();
  int mode = sky.fix() == FixKind::ThreeD ? 3 : sky.fix() == FixKind::TwoD ? 2 : 1;
  std::string body = Format("GPGSA,A,%d", mode);
  for (size_t i = 0; i < 12; ++i) body += i < used.size() ? Format(",%02d", used[i]) : ",";
  if (!HasFix(sky)) return body + ",,,";
  return body + (mode == 3 ? ",1.8,1.0,1.5" : ",2.4,1.0,");
}

std::vector<std::string> NmeaOutput::Gsv(const SkyModel& sky) {
  const auto& sats = sky.satellites();
  size_t total = sats.empty() ? 1 : (sats.size() + 3) / 4;
  std::vector<std::string> bodies;
  for (size_t m = 0; m < total; ++m) {
    std::string body = Format("GPGSV,%zu,%zu,%02zu", total, m + 1, sats.size());
    for (size_t i = m * 4; i < sats.size() && i < m * 4 + 4; ++i) {
      const auto& s = sats[i];
      body += Format(",%02d,%02d,%03d,", s.prn, s.elevation, s.azimuth);
      if (s.snr > 0) body += Format("%02d", s.snr);
    }
    bodies.push_back(body);
  }
  return bodies;
}

std::string NmeaOutput::Rmc(const SkyModel& sky) {
  std::tm tm = Utc(sky);
  std::string date = Format("%02d%02d%02d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year % 100);
  std::string body = "GPRMC," + Time(sky) + ",";
  if (!HasFix(sky)) return body + "V,,,,,,," + date + ",,";
  return body + "A," + Coordinate(sky.latitude(), 2, 'N', 'S') + "," +
         Coordinate(sky.longitude(), 3, 'E', 'W') +
         Format(",%.2f,%.2f,", sky.speedKnots(), sky.courseDegrees()) + date + ",,";
}

std::string NmeaOutput::Vtg(const SkyModel& sky) {
  double knots = HasFix(sky) ? sky.speedKnots() : 0;
  return Format("GPVTG,%.2f,T,,M,%.2f,N,%.1f,K", HasFix(sky) ? sky.courseDegrees() : 0.0, knots,
                knots * 1.852);
}

std::string NmeaOutput::Zda(const SkyModel& sky) {
  std::tm tm = Utc(sky);
  return Format("GPZDA,%s,%02d,%02d,%04d,00,00", Time(sky).c_str(), tm.tm_mday, tm.tm_mon + 1,
                tm.tm_year + 1900);
}

std::string NmeaOutput::Swv(int number, const std::string& text) {
  return Format("PXVRSWV,%d,", number) + text;
}
