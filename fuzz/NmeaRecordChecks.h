// What every decoded NMEA record promises whatever text it came from: each
// text member ends within its own bytes.
#pragma once

#include "FuzzCheck.h"
#include "NmeaReader.h"

inline void CheckRecords(const NmeaReader& reader) {
  const GsaRecord& gsa = reader.Gsa();
  FUZZ_CHECK(Terminated(gsa.pdop) && Terminated(gsa.hdop) && Terminated(gsa.vdop));
  const RmcRecord& rmc = reader.Rmc();
  FUZZ_CHECK(Terminated(rmc.utcTime) && Terminated(rmc.latitude) && Terminated(rmc.longitude));
  FUZZ_CHECK(Terminated(rmc.speed) && Terminated(rmc.course) && Terminated(rmc.date) &&
             Terminated(rmc.magVariation));
  FUZZ_CHECK(Terminated(reader.Swv().version));
}
