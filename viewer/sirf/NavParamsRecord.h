#pragma once

#include <windows.h>

#include <cstdint>

// Navigation parameters (message 19), fields in payload order, host byte
// order.
struct NavParamsRecord {
  BYTE messageId;                    // 19
  DWORD reserved1;
  BYTE altHoldMode;
  BYTE altHoldSource;
  int16_t altSourceInput;            // metres
  BYTE degradedMode;
  BYTE degradedTimeout;              // seconds
  BYTE deadReckoningTimeout;         // seconds
  BYTE trackSmoothingMode;
  BYTE staticNavigation;
  BYTE threeSvLeastSquares;
  DWORD reserved2;
  BYTE dopMaskMode;
  int16_t navElevationMask;          // degrees x 10
  BYTE navPowerMask;                 // dB-Hz
  DWORD reserved3;
  BYTE dgpsSource;
  BYTE dgpsMode;
  BYTE dgpsTimeout;                  // seconds
  DWORD reserved4;
  BYTE lowPowerPushToFix;
  DWORD lowPowerOnTime;              // ms
  DWORD lowPowerInterval;            // ms
  BYTE lowPowerUserTasksEnabled;
  DWORD lowPowerUserTaskInterval;    // ms
  BYTE lowPowerPowerCyclingEnabled;
  DWORD lowPowerMaxAcqSearchTime;    // ms
  DWORD lowPowerMaxOffTime;          // ms
  DWORD reserved5;
  DWORD reserved6;

  static const WORD kPayloadLength = 65;
};
