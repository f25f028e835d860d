// What the receiver "sees": time, position, motion and the satellites in
// view, advanced one second per navigation cycle.
#pragma once

#include <cstdint>
#include <vector>

#include "SimOptions.h"

class SkyModel {
 public:
  explicit SkyModel(const SimOptions& options);

  // Moves on by one second along the course.
  void Advance();

  int64_t utcSeconds() const { return utc_; }  // since 1970
  double latitude() const { return latitude_; }
  double longitude() const { return longitude_; }
  double altitude() const { return altitude_; }  // above mean sea level
  // Height of the geoid above the ellipsoid here, reported with every fix.
  double geoidSeparation() const;
  // Height above the WGS-84 ellipsoid: altitude plus geoid separation.
  double ellipsoidHeight() const { return altitude_ + geoidSeparation(); }
  double speedKnots() const { return speedKnots_; }
  double courseDegrees() const { return course_; }
  FixKind fix() const { return fix_; }
  const std::vector<Satellite>& satellites() const { return satellites_; }
  // Satellites used in the solution (tracked ones, when there is a fix).
  std::vector<int> usedPrns() const;

  // GPS time: weeks since 1980-01-06 and seconds into the week.
  uint32_t gpsWeek() const;
  uint32_t gpsSecondsOfWeek() const;
  // Earth-centred earth-fixed position (metres) and velocity (m/s), WGS-84.
  void Ecef(double& x, double& y, double& z) const;
  void EcefVelocity(double& vx, double& vy, double& vz) const;

 private:
  int64_t utc_;
  double latitude_;
  double longitude_;
  double altitude_;
  double speedKnots_;
  double course_;
  FixKind fix_;
  std::vector<Satellite> satellites_;
};
