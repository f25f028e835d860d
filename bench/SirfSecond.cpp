#include "SirfSecond.h"

#include <cstdio>
#include <string>

#include "WireFrames.h"

SirfSecond::SirfSecond(unsigned second) {
  const unsigned s = second % 60;
  char time[16];
  std::snprintf(time, sizeof time, "0307%02u.000", s);
  const std::string t = time;
  char lat[16];
  std::snprintf(lat, sizeof lat, "3747.08%02u", 73 + s % 20);
  const std::string la = lat;
  const std::string bodies[] = {
      "GPGGA," + t + "," + la + ",S,17518.8938,E,1,12,0.8,59.9,M,23.7,M,,0000",
      "GPGSA,A,3,17,28,06,01,30,20,26,13,11,08,02,03,1.4,0.8,1.2",
      "GPGSV,3,1,12,17,72,207,32,28,59,095,31,06,35,347,25,01,29,132,23",
      "GPGSV,3,2,12,30,23,011,29,20,17,069,20,26,09,293,23,13,07,304,10",
      "GPGSV,3,3,12,11,12,132,24,08,38,008,31,02,35,348,27,03,14,091,18",
      "GPRMC," + t + ",A," + la + ",S,17518.8938,E,0.69,181.39,311214,,,A",
  };
  for (const std::string& body : bodies) {
    const std::string sentence = testsupport::NmeaSentence(body);
    bytes.insert(bytes.end(), sentence.begin(), sentence.end());
    ++sentences;
  }
}
