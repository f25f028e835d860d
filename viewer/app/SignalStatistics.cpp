#include "SignalStatistics.h"

namespace {

bool UsedInFix(const GsaRecord& gsa, int prn) {
  for (BYTE used : gsa.usedPrn)
    if (used == prn) return true;
  return false;
}

}  // namespace

SignalStatistics SignalStatistics::From(const GsvRecord& gsv, const GsaRecord& gsa) {
  WORD sum = 0;
  int used = 0;
  int minimum = 255;
  int maximum = 0;
  int satellites = 0;
  for (const SatelliteRow& row : gsv.channels) {
    if (row.prn <= 0) continue;
    if (UsedInFix(gsa, row.prn)) {
      sum = static_cast<WORD>(sum + row.snr);
      ++used;
    }
    if (row.snr != 0 && row.snr < minimum) minimum = row.snr;
    if (row.snr > maximum) maximum = row.snr;
    if (row.snr > 0) ++satellites;
  }
  SignalStatistics statistics;
  statistics.satellites = satellites;
  statistics.maxSignal = maximum;
  statistics.minSignal = minimum == 255 ? 0 : minimum;
  statistics.avgSignal = used == 0 ? 0 : sum / used;
  return statistics;
}
