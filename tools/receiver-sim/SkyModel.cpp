#include "SkyModel.h"

#include <cmath>

#include "GeoidGrid.h"

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr double kA = 6378137.0;             // WGS-84 semi-major axis
constexpr double kF = 1.0 / 298.257223563;   // flattening
constexpr double kMetresPerKnot = 1852.0 / 3600.0;
constexpr int64_t kGpsEpoch = 315964800;     // 1980-01-06 00:00:00 UTC
constexpr int64_t kLeapSeconds = 18;         // GPS - UTC since 2017
double Rad(double degrees) { return degrees * kPi / 180.0; }
}  // namespace

SkyModel::SkyModel(const SimOptions& options)
    : utc_(options.startTime),
      latitude_(options.latitude),
      longitude_(options.longitude),
      altitude_(options.altitude),
      speedKnots_(options.speedKnots),
      course_(options.courseDegrees),
      fix_(options.fix),
      satellites_(options.satellites) {}

void SkyModel::Advance() {
  ++utc_;
  if (speedKnots_ <= 0 || fix_ == FixKind::None) return;
  double metres = speedKnots_ * kMetresPerKnot;
  double north = metres * std::cos(Rad(course_));
  double east = metres * std::sin(Rad(course_));
  double radius = kA + altitude_;
  latitude_ += north / radius * 180.0 / kPi;
  longitude_ += east / (radius * std::cos(Rad(latitude_))) * 180.0 / kPi;
  if (latitude_ > 89.999) latitude_ = 89.999;
  if (latitude_ < -89.999) latitude_ = -89.999;
  if (longitude_ > 180) longitude_ -= 360;
  if (longitude_ < -180) longitude_ += 360;
}

std::vector<int> SkyModel::usedPrns() const {
  std::vector<int> used;
  if (fix_ == FixKind::None) return used;
  for (const auto& s : satellites_)
    if (s.snr > 0 && used.size() < 12) used.push_back(s.prn);
  return used;
}

double SkyModel::geoidSeparation() const { return GeoidGrid::Separation(latitude_, longitude_); }

uint32_t SkyModel::gpsWeek() const {
  int64_t gps = utc_ - kGpsEpoch + kLeapSeconds;
  return static_cast<uint32_t>(gps / 604800);
}

uint32_t SkyModel::gpsSecondsOfWeek() const {
  int64_t gps = utc_ - kGpsEpoch + kLeapSeconds;
  return static_cast<uint32_t>(gps % 604800);
}

void SkyModel::Ecef(double& x, double& y, double& z) const {
  double e2 = kF * (2 - kF);
  double phi = Rad(latitude_);
  double lambda = Rad(longitude_);
  double n = kA / std::sqrt(1 - e2 * std::sin(phi) * std::sin(phi));
  double h = ellipsoidHeight();
  x = (n + h) * std::cos(phi) * std::cos(lambda);
  y = (n + h) * std::cos(phi) * std::sin(lambda);
  z = (n * (1 - e2) + h) * std::sin(phi);
}

void SkyModel::EcefVelocity(double& vx, double& vy, double& vz) const {
  double metres = fix_ == FixKind::None ? 0 : speedKnots_ * kMetresPerKnot;
  double vn = metres * std::cos(Rad(course_));
  double ve = metres * std::sin(Rad(course_));
  double phi = Rad(latitude_);
  double lambda = Rad(longitude_);
  vx = -std::sin(lambda) * ve - std::sin(phi) * std::cos(lambda) * vn;
  vy = std::cos(lambda) * ve - std::sin(phi) * std::sin(lambda) * vn;
  vz = std::cos(phi) * vn;
}
