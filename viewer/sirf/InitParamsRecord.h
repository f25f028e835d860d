#pragma once

#include <windows.h>

// The parameters of Initialize Data Source (message 128): what the receiver
// reports for it in message 43, and what InitDataSource sends.
struct InitParamsRecord {
  BYTE messageId;            // 0x80 when decoded
  LONG x;                    // earth-centred earth-fixed position, metres
  LONG y;
  LONG z;
  DWORD clockDrift;          // Hz
  DWORD timeOfWeek;          // seconds x 100
  WORD week;
  BYTE channelCount;
  BYTE resetConfiguration;

  static const WORD kWireLength = 25;
};
