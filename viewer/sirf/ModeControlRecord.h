#pragma once

#include <windows.h>

#include <cstdint>

// The parameters of Mode Control (message 136): what the receiver reports
// for it in message 43, and what SetModeControl sends. Fields in the order
// of the message.
struct ModeControlRecord {
  BYTE reserved1;
  BYTE reserved2;
  BYTE degradedMode;
  BYTE positionCalcMode;
  BYTE reserved3;
  int16_t altitude;           // metres
  BYTE altHoldMode;
  BYTE altHoldSource;
  BYTE coastTimeout;          // seconds
  BYTE degradedTimeout;       // seconds
  BYTE deadReckoningTimeout;  // seconds
  BYTE trackSmoothing;

  static const WORD kWireLength = 13;
};
