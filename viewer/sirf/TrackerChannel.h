#pragma once

#include <windows.h>

// One channel of the measured tracker data (15 bytes on the wire).
struct TrackerChannel {
  BYTE satelliteId;
  BYTE azimuth;            // degrees x 2/3
  BYTE elevation;          // degrees x 2
  WORD state;              // tracking state bits
  BYTE carrierToNoise[10]; // dB-Hz, one value per 100 ms

  static const WORD kWireLength = 15;
};
