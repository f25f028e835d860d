#pragma once

#include <windows.h>

#include "GsaRecord.h"
#include "GsvRecord.h"

// The status page's satellite figures, computed from the satellites in view
// and the satellites the fix uses. Only rows whose PRN is above 0 count: a
// row with a signal counts as a satellite; the average runs over the rows
// whose PRN the fix uses (a used satellite without signal included); the
// minimum ignores rows without signal. Each figure is 0 when nothing counts.
struct SignalStatistics {
  int satellites;
  int maxSignal;
  int avgSignal;
  int minSignal;

  static SignalStatistics From(const GsvRecord& gsv, const GsaRecord& gsa);
};
