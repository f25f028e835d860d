// Decoding of accepted sentences into the receiver records, the field
// operations, and text widening.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "NmeaReader.h"
#include "NmeaTestFeed.h"
#include "SerialSession.h"
#include "WidenAscii.h"

using nmea_test::Feed;
using nmea_test::NmeaSentence;

namespace {

class NmeaDecode : public ::testing::Test {
 protected:
  // Decodes `text` as given (it must survive unchanged).
  void Decode(const std::string& text) {
    ASSERT_LT(text.size(), sizeof work);
    std::memcpy(work, text.c_str(), text.size() + 1);
    reader.DecodeSentence(work);
    EXPECT_EQ(text, std::string(work)) << "decoding changed the text";
  }
  const SatelliteRow& Row(int i) const { return reader.Gsv().channels[i]; }
  void ExpectEmptyRow(int i) const {
    EXPECT_EQ(-1, Row(i).prn) << "row " << i;
    EXPECT_EQ(0, Row(i).elevation) << "row " << i;
    EXPECT_EQ(0, Row(i).azimuth) << "row " << i;
    EXPECT_EQ(0, Row(i).snr) << "row " << i;
  }
  void ExpectRow(int i, int prn, int elevation, int azimuth, int snr) const {
    EXPECT_EQ(prn, Row(i).prn) << "row " << i;
    EXPECT_EQ(elevation, Row(i).elevation) << "row " << i;
    EXPECT_EQ(azimuth, Row(i).azimuth) << "row " << i;
    EXPECT_EQ(snr, Row(i).snr) << "row " << i;
  }

  SerialSession session{u"COM9:", 57600};
  NmeaReader reader{&session};
  char work[256];
};

TEST_F(NmeaDecode, RecordsStartZeroed) {
  EXPECT_EQ(0, reader.Gga().count);
  EXPECT_EQ(0, reader.Gsv().channels[5].prn);
  EXPECT_EQ('\0', reader.Rmc().latitude[0]);
  EXPECT_EQ(0, reader.Swv().number);
}

TEST_F(NmeaDecode, GgaTimeDropsTheFractionAndEmptyGivesZero) {
  const DWORD before = GetTickCount();
  Decode(NmeaSentence("GPGGA,123519.250,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"));
  EXPECT_EQ(123519, reader.Gga().utcTime);
  EXPECT_EQ(1, reader.Gga().count);
  EXPECT_GE(reader.Gga().tick, before);
  EXPECT_LE(reader.Gga().tick, GetTickCount());
  Decode(NmeaSentence("GPGGA,,4807.038,N"));
  EXPECT_EQ(0, reader.Gga().utcTime);
  EXPECT_EQ(2, reader.Gga().count);
}

TEST_F(NmeaDecode, GsaTakesModesPrnsAndDop) {
  Decode("$GPGSA,A,3,08,07,11,28,17,26,,,,,,,02.6,01.5,02.1*06\r\n");
  const GsaRecord& gsa = reader.Gsa();
  EXPECT_EQ('A', gsa.selectionMode);
  EXPECT_EQ('3', gsa.fixMode);
  const BYTE expected[12] = {8, 7, 11, 28, 17, 26, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(expected, gsa.usedPrn, 12));
  EXPECT_STREQ("02.6", gsa.pdop);
  EXPECT_STREQ("01.5", gsa.hdop);
  EXPECT_STREQ("02.1", gsa.vdop);
  EXPECT_EQ(1, gsa.count);
}

TEST_F(NmeaDecode, IdsArePrefixesAndUnknownIdsChangeNothing) {
  Decode(NmeaSentence("GPGSAX,M,2"));
  EXPECT_EQ(1, reader.Gsa().count);
  EXPECT_EQ('M', reader.Gsa().selectionMode);
  Decode(NmeaSentence("GPGLL,2638.1727,N,08011.3892,W"));
  Decode("no dollar at all");
  EXPECT_EQ(0, reader.Gga().count + reader.Gsv().count + reader.Rmc().count +
                   reader.Swv().count + reader.Cof().count);
  EXPECT_EQ(1, reader.Gsa().count);
  EXPECT_TRUE(NmeaReader::SentenceIdIs("GPG", "xx$GPGGA,1"));
  EXPECT_FALSE(NmeaReader::SentenceIdIs("GPGGA", "$GPGG"));
}

TEST_F(NmeaDecode, GsvCycleOfTwoMessagesFillsAndEmptiesRows) {
  // Leave something in every row first.
  Decode(NmeaSentence("GPGSV,3,1,12,01,10,100,31,02,20,200,32,03,30,300,33,04,40,40,34"));
  Decode(NmeaSentence("GPGSV,3,2,12,05,10,100,31,06,20,200,32,07,30,300,33,08,40,40,34"));
  Decode(NmeaSentence("GPGSV,3,3,12,09,10,100,31,10,20,200,32,11,30,300,33,12,40,40,34"));
  ExpectRow(11, 12, 40, 40, 34);

  Decode(NmeaSentence("GPGSV,2,1,06,17,72,207,32,28,59,095,31,06,35,347,,01,29,132,23"));
  EXPECT_EQ(6, reader.Gsv().inView);
  ExpectRow(0, 17, 72, 207, 32);
  ExpectRow(2, 6, 35, 347, 0);  // not tracked: empty SNR
  ExpectRow(3, 1, 29, 132, 23);
  ExpectRow(4, 5, 10, 100, 31);  // not this message's group: kept
  for (int i = 8; i < 12; ++i) ExpectEmptyRow(i);

  Decode(NmeaSentence("GPGSV,2,2,06,30,23,011,29,20,17,069,20"));
  ExpectRow(4, 30, 23, 11, 29);
  ExpectRow(5, 20, 17, 69, 20);
  ExpectEmptyRow(6);
  ExpectEmptyRow(7);
  ExpectRow(0, 17, 72, 207, 32);
  EXPECT_EQ(5, reader.Gsv().count);
}

TEST_F(NmeaDecode, GsvSingleMessageEmptiesRowsFourOnAndNumberFourFillsRowZero) {
  Decode(NmeaSentence("GPGSV,3,3,12,09,10,100,31,10,20,200,32,11,30,300,33,12,40,40,34"));
  Decode(NmeaSentence("GPGSV,1,1,02,05,10,100,31,06,20,200,32"));
  ExpectRow(0, 5, 10, 100, 31);
  ExpectRow(1, 6, 20, 200, 32);
  ExpectEmptyRow(2);
  ExpectEmptyRow(3);
  for (int i = 4; i < 12; ++i) ExpectEmptyRow(i);

  Decode(NmeaSentence("GPGSV,4,4,16,21,11,111,41,22,12,112,42,23,13,113,43,24,14,114,44"));
  ExpectRow(0, 21, 11, 111, 41);
  ExpectRow(3, 24, 14, 114, 44);
}

TEST_F(NmeaDecode, GsvWithoutStarLeavesZeroPrnRowsAndPrnWrapsToItsWidth) {
  Decode("$GPGSV,1,1,02,300,10,70000,300,200,20,200,32\r\n");
  EXPECT_EQ(44, Row(0).prn);         // 300 mod 256
  EXPECT_EQ(70000 % 65536, Row(0).azimuth);
  EXPECT_EQ(44, Row(0).snr);
  EXPECT_EQ(-56, Row(1).prn);        // 200 as a signed 8-bit value
  ExpectRow(2, 0, 0, 0, 0);          // no "*": not marked empty
  ExpectRow(3, 0, 0, 0, 0);
  ExpectEmptyRow(4);
}

TEST_F(NmeaDecode, RmcTakesEveryFieldAndCharactersTakeTheDelimiterOfEmptyFields) {
  Decode("$GPRMC,030131.000,A,2638.1728,N,08011.3893,W,0.00,219.6,010413,3.1,E*20\r\n");
  const RmcRecord& rmc = reader.Rmc();
  EXPECT_STREQ("030131.000", rmc.utcTime);
  EXPECT_EQ('A', rmc.status);
  EXPECT_STREQ("2638.1728", rmc.latitude);
  EXPECT_EQ('N', rmc.latHemisphere);
  EXPECT_STREQ("08011.3893", rmc.longitude);
  EXPECT_EQ('W', rmc.lonHemisphere);
  EXPECT_STREQ("0.00", rmc.speed);
  EXPECT_STREQ("219.6", rmc.course);
  EXPECT_STREQ("010413", rmc.date);
  EXPECT_STREQ("3.1", rmc.magVariation);
  EXPECT_EQ('E', rmc.magVariationDir);

  Decode(NmeaSentence("GPRMC,030131.000,,,,"));
  EXPECT_EQ(',', rmc.status);
  EXPECT_STREQ("", rmc.latitude);
  EXPECT_EQ(',', rmc.latHemisphere);
  EXPECT_EQ('*', rmc.lonHemisphere);  // fields after the end read as empty
  EXPECT_STREQ("", rmc.date);
  EXPECT_EQ('*', rmc.magVariationDir);

  Decode("$GPRMC,1,V\r\n");
  EXPECT_EQ('V', rmc.status);
  EXPECT_EQ('\r', rmc.magVariationDir);
}

TEST_F(NmeaDecode, SwvAndCofCarryTheirValues) {
  Decode(NmeaSentence("PXVRSWV,2,GSW3.2.2_3.1.00.12-SDK003P1.01a"));
  EXPECT_EQ(2, reader.Swv().number);
  EXPECT_STREQ("GSW3.2.2_3.1.00.12-SDK003P1.01a", reader.Swv().version);
  Decode(NmeaSentence("PXVRSWV,65537,x"));
  EXPECT_EQ(1, reader.Swv().number);
  Decode(NmeaSentence("PXVRCOF,-12345"));
  EXPECT_EQ(-12345, reader.Cof().value);
  Decode(NmeaSentence("PXVRCOF, +77abc"));
  EXPECT_EQ(77, reader.Cof().value);
}

TEST_F(NmeaDecode, CountsWrapAt65536) {
  for (int i = 0; i < 65536; ++i) Decode("$PXVRCOF,1\r\n");
  EXPECT_EQ(0, reader.Cof().count);
  Decode("$PXVRCOF,1\r\n");
  EXPECT_EQ(1, reader.Cof().count);
}

// Hostile input: text fields far longer than their members, through the
// whole path from bytes to records.
TEST_F(NmeaDecode, OverlongTextFieldsAreCutToFit) {
  const std::string big(60, '9');
  Feed(reader, NmeaSentence("GPRMC," + big + ",A," + big.substr(0, 20) + ",S"));
  char buffer[NmeaReader::kSentenceBufferSize];
  WORD length = 0;
  ASSERT_TRUE(reader.ReadSentence(buffer, length));
  reader.DecodeSentence(buffer);
  const RmcRecord& rmc = reader.Rmc();
  EXPECT_EQ(std::string(14, '9'), rmc.utcTime);
  EXPECT_EQ('A', rmc.status);
  EXPECT_EQ(std::string(11, '9'), rmc.latitude);
  EXPECT_EQ('S', rmc.latHemisphere);

  Feed(reader, NmeaSentence("PXVRSWV,1," + std::string(80, 'v')));
  ASSERT_TRUE(reader.ReadSentence(buffer, length));
  reader.DecodeSentence(buffer);
  EXPECT_EQ(std::string(49, 'v'), reader.Swv().version);

  Decode(NmeaSentence("GPGSA,A,3,1,2,3,4,5,6,7,8,9,10,11,12,123456789012,2,3"));
  EXPECT_STREQ("1234567", reader.Gsa().pdop);
  EXPECT_STREQ("2", reader.Gsa().hdop);
}

TEST_F(NmeaDecode, FieldOperationsStopAtEveryDelimiter) {
  char text[] = "$ID,12,-3,,x*1F\r\n";
  char* p = NmeaReader::NextField(text);
  EXPECT_EQ(text + 4, p);
  EXPECT_EQ(2, NmeaReader::FieldLength(p));
  EXPECT_EQ(12, NmeaReader::FieldInt(p));
  p = NmeaReader::NextField(p);
  EXPECT_EQ(-3, NmeaReader::FieldInt(p));
  p = NmeaReader::NextField(p);
  EXPECT_EQ(0, NmeaReader::FieldLength(p));
  p = NmeaReader::NextField(p);
  char field[4] = "zzz";
  NmeaReader::FieldText(field, p);
  EXPECT_STREQ("x", field);
  p = NmeaReader::NextField(p);
  EXPECT_EQ('*', *p);
  EXPECT_EQ(p, NmeaReader::NextField(p));  // stays at the end
  EXPECT_EQ(0, NmeaReader::FieldLength(p));
  EXPECT_STREQ("$ID,12,-3,,x*1F\r\n", text);

  const char unterminated[] = "$ID,5";  // ends without "*" or CR LF
  const char* q = NmeaReader::NextField(unterminated);
  EXPECT_EQ(5, NmeaReader::FieldInt(q));
  q = NmeaReader::NextField(q);
  EXPECT_EQ('\0', *q);
  EXPECT_EQ(q, NmeaReader::NextField(q));

  EXPECT_EQ(-1294967296, NmeaReader::FieldInt("3000000000,"));  // wraps, no overflow
}

TEST_F(NmeaDecode, WidenAsciiCopiesBytesAsSignedCharsWithinTheBuffer) {
  WCHAR wide[6];
  WidenAscii(wide, "3747.0873");
  EXPECT_EQ(std::u16string(u"3747."), std::u16string(wide));
  WidenAscii(wide, "a\xe9");
  EXPECT_EQ(u'a', wide[0]);
  EXPECT_EQ(static_cast<WCHAR>(0xFFE9), wide[1]);
  EXPECT_EQ(0, wide[2]);
  WCHAR untouched = u'Q';
  WidenAscii(&untouched, 0, "abc");
  EXPECT_EQ(u'Q', untouched);
}

}  // namespace
