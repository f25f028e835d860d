#include <cmath>

#include "GeoidGrid.h"

double GeoidGrid::Separation(double latitude, double longitude) {
  if (latitude < -90) latitude = -90;
  if (latitude > 90) latitude = 90;
  double row = (latitude + 90) / kStepDegrees;
  double column = std::fmod(longitude + 180, 360.0);
  if (column < 0) column += 360;
  column /= kStepDegrees;
  int r = static_cast<int>(row);
  if (r > kRows - 2) r = kRows - 2;
  int c = static_cast<int>(column);
  if (c > kColumns - 1) c = kColumns - 1;
  const double fr = row - r;
  const double fc = column - c;
  const int c1 = (c + 1) % kColumns;
  auto at = [](int rr, int cc) { return kDecimetres[rr][cc] / 10.0; };
  const double south = at(r, c) * (1 - fc) + at(r, c1) * fc;
  const double north = at(r + 1, c) * (1 - fc) + at(r + 1, c1) * fc;
  return south * (1 - fr) + north * fr;
}
