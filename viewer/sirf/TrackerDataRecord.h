#pragma once

#include <windows.h>

#include "TrackerChannel.h"

// Measured tracker data (message 4), host byte order.
struct TrackerDataRecord {
  BYTE messageId;     // always 4
  WORD week;          // GPS week number
  DWORD timeOfWeek;   // GPS time of week, seconds x 100
  BYTE channelCount;
  TrackerChannel channels[12];

  static const WORD kPayloadLength = 188;
};
