// The geoid's height above the WGS-84 ellipsoid: EGM96 every 5 degrees,
// interpolated bilinearly. Against the full model's 15-minute grid it is off
// by 2.0 m root mean square over the globe and by at most 23 m (over steep
// ranges such as the Andes and the deep-sea trenches).
#pragma once

#include <cstdint>

class GeoidGrid {
 public:
  // Metres; latitude -90 to 90, longitude any (wrapped to -180..180).
  static double Separation(double latitude, double longitude);

  static constexpr int kStepDegrees = 5;
  static constexpr int kRows = 180 / kStepDegrees + 1;
  static constexpr int kColumns = 360 / kStepDegrees;

 private:
  static const int16_t kDecimetres[kRows][kColumns];
};
