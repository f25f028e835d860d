#pragma once

#include <windows.h>

#include <cstdint>

// One satellite of the satellites-in-view table.
struct SatelliteRow {
  int8_t prn;      // -1 marks an empty row; 0 or below is never a satellite
  BYTE elevation;  // degrees
  WORD azimuth;    // degrees
  BYTE snr;        // dB-Hz, 0 when not tracked
};
