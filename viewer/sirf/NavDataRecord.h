#pragma once

#include <windows.h>

#include <cstdint>

// Measured navigation data (message 2), fields in payload order, host byte
// order.
struct NavDataRecord {
  BYTE messageId;               // always 2
  LONG x;                       // earth-centred earth-fixed position, metres
  LONG y;
  LONG z;
  int16_t vx;                   // velocity, metres per second x 8
  int16_t vy;
  int16_t vz;
  BYTE mode1;                   // navigation mode bits
  BYTE hdop;                    // horizontal dilution of precision x 5
  BYTE mode2;                   // further mode bits
  WORD week;                    // GPS week number
  DWORD timeOfWeek;             // GPS time of week, seconds x 100
  BYTE satellitesInFix;
  BYTE channelSatellites[12];   // satellite used in each of channels 1 to 12

  static const WORD kPayloadLength = 41;
};
