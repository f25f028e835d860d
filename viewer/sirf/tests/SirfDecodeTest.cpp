// Decoding of received frames into the link's records, and the conversion
// of earth-centred positions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "SirfTestSupport.h"

using namespace sirftest;

namespace {

std::u16string Text(const WCHAR* text) { return std::u16string(text); }

class SirfDecode : public ::testing::Test {
 protected:
  // Dispatches an exactly sized heap copy, so that any read beyond the
  // bytes handed over is caught by the address sanitizer.
  void Dispatch(const Bytes& frame) {
    std::unique_ptr<BYTE[]> copy(new BYTE[frame.size()]);
    std::copy(frame.begin(), frame.end(), copy.get());
    reader.DispatchFrame(copy.get(), static_cast<WORD>(frame.size()));
  }

  // Feeds the frame through the framing and dispatches what comes out.
  void Receive(const Bytes& frame) {
    Feed(reader, frame);
    BYTE buffer[BinaryReader::kSlotBytes];
    WORD count = 0;
    ASSERT_TRUE(reader.ReadFrame(buffer, count));
    reader.DispatchFrame(buffer, count);
  }

  Bytes VersionFrame(const std::string& text) {
    Bytes payload = {0x06};
    payload.insert(payload.end(), text.begin(), text.end());
    return SirfFrame(payload);
  }

  SerialSession session{u"COM9:", 57600};
  BinaryReader reader{&session};
};

Bytes NavPayload() {
  return FromHex(
      "02"                      // id
      "FF FF FF 9C"             // x = -100
      "00 41 F1 E6"             // y = 4321766
      "FF B7 1A 29"             // z = -4777431
      "FF F8 00 10 80 00"       // vx -8, vy 16, vz -32768
      "04 07 86"                // mode 1, hdop, mode 2
      "05 B4"                   // week 1460
      "00 97 A9 F4"             // time of week 9939444
      "05"                      // satellites in fix
      "0E 0F 10 11 12 13 14 15 16 17 18 19");
}

TEST_F(SirfDecode, NavigationDataFieldsInHostOrder) {
  ASSERT_EQ(NavPayload().size(), 41u);
  Receive(SirfFrame(NavPayload()));
  const NavDataRecord& r = reader.NavData;
  EXPECT_EQ(r.messageId, 2);
  EXPECT_EQ(r.x, -100);
  EXPECT_EQ(r.y, 4321766);
  EXPECT_EQ(r.z, -4777431);
  EXPECT_EQ(r.vx, -8);
  EXPECT_EQ(r.vy, 16);
  EXPECT_EQ(r.vz, -32768);
  EXPECT_EQ(r.mode1, 4);
  EXPECT_EQ(r.hdop, 7);
  EXPECT_EQ(r.mode2, 0x86);
  EXPECT_EQ(r.week, 1460);
  EXPECT_EQ(r.timeOfWeek, 9939444u);
  EXPECT_EQ(r.satellitesInFix, 5);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(r.channelSatellites[i], 14 + i);
}

TEST_F(SirfDecode, NavigationDataOfAnotherLengthIsIgnored) {
  Receive(SirfFrame(NavPayload()));
  Bytes shortPayload = NavPayload();
  shortPayload.pop_back();
  shortPayload[1] = 0x00;  // would change x
  Receive(SirfFrame(shortPayload));  // length field 40
  Bytes longPayload = NavPayload();
  longPayload[1] = 0x00;
  longPayload.push_back(0);
  Receive(SirfFrame(longPayload));  // length field 42
  EXPECT_EQ(reader.NavData.x, -100);
}

TEST_F(SirfDecode, LengthFieldsBeyondTheReceivedBytesAreIgnored) {
  // A navigation frame whose length field is right but whose bytes stop
  // halfway, as a caller could hand over: nothing is read past the end.
  Receive(SirfFrame(NavPayload()));
  Bytes cut = SirfFrame(NavPayload());
  cut[5] = 0x00;
  cut.resize(20);
  Dispatch(cut);
  EXPECT_EQ(reader.NavData.x, -100);

  // Navigation parameters, command parameters and version strings carry no
  // fixed length: a length field that claims more than arrived changes
  // nothing either.
  Bytes nav19 = SirfFrame(Bytes(65, 0x01));
  nav19[4] = 19;
  nav19.resize(30);
  Dispatch(nav19);
  EXPECT_FALSE(reader.HasNavParams);

  Bytes version = VersionFrame("GSW2.2.0-longer-than-what-arrives");
  version.resize(12);
  Dispatch(version);
  EXPECT_FALSE(reader.HasBaseVersion);
  EXPECT_FALSE(reader.HasMakerVersion);

  // Too short for a message id, or no payload at all.
  Dispatch(FromHex("A0 A2 00"));
  Dispatch(FromHex("A0 A2 00 01"));
  Dispatch(FromHex("A0 A2 00 00 00 00 B0 B3"));
  EXPECT_FALSE(reader.HasBaseVersion);
}

TEST_F(SirfDecode, TrackerDataChannelsOneAfterAnother) {
  Bytes payload = FromHex("04 05 B4 00 97 A9 F4 0C");
  for (int c = 0; c < 12; ++c) {
    Bytes channel = {static_cast<uint8_t>(c + 1), static_cast<uint8_t>(10 * c),
                     static_cast<uint8_t>(2 * c), static_cast<uint8_t>(c), 0xBF};
    for (int k = 0; k < 10; ++k) channel.push_back(static_cast<uint8_t>(30 + c + k));
    payload.insert(payload.end(), channel.begin(), channel.end());
  }
  ASSERT_EQ(payload.size(), 188u);
  Receive(SirfFrame(payload));
  const TrackerDataRecord& r = reader.TrackerData;
  EXPECT_EQ(r.messageId, 4);
  EXPECT_EQ(r.week, 1460);
  EXPECT_EQ(r.timeOfWeek, 9939444u);
  EXPECT_EQ(r.channelCount, 12);
  for (int c = 0; c < 12; ++c) {
    const TrackerChannel& ch = r.channels[c];
    EXPECT_EQ(ch.satelliteId, c + 1) << c;
    EXPECT_EQ(ch.azimuth, 10 * c) << c;
    EXPECT_EQ(ch.elevation, 2 * c) << c;
    EXPECT_EQ(ch.state, (c << 8) | 0xBF) << c;
    for (int k = 0; k < 10; ++k) EXPECT_EQ(ch.carrierToNoise[k], 30 + c + k) << c << "/" << k;
  }

  payload.pop_back();
  payload[1] = 0;
  Receive(SirfFrame(payload));
  EXPECT_EQ(reader.TrackerData.week, 1460);
}

TEST_F(SirfDecode, VersionTextsGoByTheMakersName) {
  Receive(VersionFrame("GSW2.3.2-008"));
  EXPECT_TRUE(reader.HasBaseVersion);
  EXPECT_FALSE(reader.HasMakerVersion);
  EXPECT_EQ(Text(reader.BaseVersion), u"GSW2.3.2-008");

  Receive(VersionFrame("X1 Dovrin 4.1"));
  EXPECT_TRUE(reader.HasMakerVersion);
  EXPECT_EQ(Text(reader.MakerVersion), u"X1 Dovrin 4.1");
  EXPECT_EQ(Text(reader.BaseVersion), u"GSW2.3.2-008");

  // The name is matched exactly: another spelling is a base version, which
  // replaces the earlier one.
  Receive(VersionFrame("DOVRIN dovrin"));
  EXPECT_EQ(Text(reader.BaseVersion), u"DOVRIN dovrin");
  EXPECT_EQ(Text(reader.MakerVersion), u"X1 Dovrin 4.1");

  // Texts padded with NULs end at the first one; an empty text is a base
  // version too.
  Receive(VersionFrame(std::string("GSW3.0\0\0\0\0", 10)));
  EXPECT_EQ(Text(reader.BaseVersion), u"GSW3.0");
  Receive(SirfFrame({0x06}));
  EXPECT_EQ(Text(reader.BaseVersion), u"");
}

TEST_F(SirfDecode, LongVersionTextsAreCutToFit) {
  Receive(VersionFrame("base"));
  std::string longMaker = "Dovrin";
  while (longMaker.size() < 120) longMaker += "-0123456789";
  Receive(VersionFrame(longMaker));
  EXPECT_TRUE(reader.HasMakerVersion);
  std::u16string kept = Text(reader.MakerVersion);
  EXPECT_EQ(kept.size(), 49u);
  EXPECT_EQ(kept, std::u16string(longMaker.begin(), longMaker.begin() + 49));
  // The neighbouring text is untouched.
  EXPECT_EQ(Text(reader.BaseVersion), u"base");

  // The maker's name is found even beyond what the text keeps.
  std::string lateName(60, 'v');
  lateName += "Dovrin";
  Receive(VersionFrame(lateName));
  EXPECT_EQ(Text(reader.MakerVersion), std::u16string(49, u'v'));
  EXPECT_EQ(Text(reader.BaseVersion), u"base");

  // Exactly 49 characters stay whole.
  std::string fits(49, 'b');
  Receive(VersionFrame(fits));
  EXPECT_EQ(Text(reader.BaseVersion), std::u16string(49, u'b'));
}

Bytes NavParamsPayload() {
  Bytes p = FromHex(
      "13"              // id 19
      "01 02 03 04"     // reserved
      "01 02"           // altitude hold mode, source
      "FF 38"           // altitude source input -200
      "03 0A 0F 01 00 01"
      "A1 A2 A3 A4"     // reserved
      "04"              // DOP mask mode
      "00 4B"           // elevation mask 75
      "1C"              // power mask 28
      "B1 B2 B3 B4"     // reserved
      "01 02 1E"        // DGPS source, mode, time-out
      "C1 C2 C3 C4"     // reserved
      "01"              // push-to-fix
      "00 00 00 C8"     // on-time 200
      "00 00 03 E8"     // interval 1000
      "01"
      "00 01 86 A0"     // user task interval 100000
      "00"
      "00 00 75 30"     // max acquisition search time 30000
      "00 00 EA 60"     // max off time 60000
      "D1 D2 D3 D4"
      "E1 E2 E3 E4");
  return p;
}

TEST_F(SirfDecode, NavigationParametersEveryField) {
  ASSERT_EQ(NavParamsPayload().size(), 65u);
  Receive(SirfFrame(NavParamsPayload()));
  ASSERT_TRUE(reader.HasNavParams);
  const NavParamsRecord& r = reader.NavParams;
  EXPECT_EQ(r.messageId, 19);
  EXPECT_EQ(r.reserved1, 0x01020304u);
  EXPECT_EQ(r.altHoldMode, 1);
  EXPECT_EQ(r.altHoldSource, 2);
  EXPECT_EQ(r.altSourceInput, -200);
  EXPECT_EQ(r.degradedMode, 3);
  EXPECT_EQ(r.degradedTimeout, 10);
  EXPECT_EQ(r.deadReckoningTimeout, 15);
  EXPECT_EQ(r.trackSmoothingMode, 1);
  EXPECT_EQ(r.staticNavigation, 0);
  EXPECT_EQ(r.threeSvLeastSquares, 1);
  EXPECT_EQ(r.reserved2, 0xA1A2A3A4u);
  EXPECT_EQ(r.dopMaskMode, 4);
  EXPECT_EQ(r.navElevationMask, 75);
  EXPECT_EQ(r.navPowerMask, 28);
  EXPECT_EQ(r.reserved3, 0xB1B2B3B4u);
  EXPECT_EQ(r.dgpsSource, 1);
  EXPECT_EQ(r.dgpsMode, 2);
  EXPECT_EQ(r.dgpsTimeout, 30);
  EXPECT_EQ(r.reserved4, 0xC1C2C3C4u);
  EXPECT_EQ(r.lowPowerPushToFix, 1);
  EXPECT_EQ(r.lowPowerOnTime, 200u);
  EXPECT_EQ(r.lowPowerInterval, 1000u);
  EXPECT_EQ(r.lowPowerUserTasksEnabled, 1);
  EXPECT_EQ(r.lowPowerUserTaskInterval, 100000u);
  EXPECT_EQ(r.lowPowerPowerCyclingEnabled, 0);
  EXPECT_EQ(r.lowPowerMaxAcqSearchTime, 30000u);
  EXPECT_EQ(r.lowPowerMaxOffTime, 60000u);
  EXPECT_EQ(r.reserved5, 0xD1D2D3D4u);
  EXPECT_EQ(r.reserved6, 0xE1E2E3E4u);

  // Polling clears the flag until the next message 19; a shorter message
  // 19 does not set it.
  reader.PollNavParams();
  EXPECT_FALSE(reader.HasNavParams);
  Bytes shortPayload = NavParamsPayload();
  shortPayload.resize(40);
  Receive(SirfFrame(shortPayload));
  EXPECT_FALSE(reader.HasNavParams);
}

TEST_F(SirfDecode, CommandParametersByParameterId) {
  Bytes init = FromHex(
      "2B 80"
      "00 43 A1 5C FF FD 2B 10 00 48 3E 3F"  // x 4432220, y -185584, z 4734527
      "00 01 5F 90"                          // clock drift 90000
      "00 97 A9 F4"                          // time of week 9939444
      "05 B4 0C 04");                        // week 1460, 12 channels, reset 4
  Receive(SirfFrame(init));
  EXPECT_TRUE(reader.HasCommandParams);
  const InitParamsRecord& i = reader.InitParams;
  EXPECT_EQ(i.messageId, 0x80);
  EXPECT_EQ(i.x, 4432220);
  EXPECT_EQ(i.y, -185584);
  EXPECT_EQ(i.z, 4734527);
  EXPECT_EQ(i.clockDrift, 90000u);
  EXPECT_EQ(i.timeOfWeek, 9939444u);
  EXPECT_EQ(i.week, 1460);
  EXPECT_EQ(i.channelCount, 12);
  EXPECT_EQ(i.resetConfiguration, 4);

  Bytes mode = FromHex("2B 88 01 02 03 04 05 FF 9C 06 07 08 09 0A 0B");
  Receive(SirfFrame(mode));
  const ModeControlRecord& m = reader.ModeControl;
  EXPECT_EQ(m.reserved1, 1);
  EXPECT_EQ(m.reserved2, 2);
  EXPECT_EQ(m.degradedMode, 3);
  EXPECT_EQ(m.positionCalcMode, 4);
  EXPECT_EQ(m.reserved3, 5);
  EXPECT_EQ(m.altitude, -100);
  EXPECT_EQ(m.altHoldMode, 6);
  EXPECT_EQ(m.altHoldSource, 7);
  EXPECT_EQ(m.coastTimeout, 8);
  EXPECT_EQ(m.degradedTimeout, 9);
  EXPECT_EQ(m.deadReckoningTimeout, 10);
  EXPECT_EQ(m.trackSmoothing, 11);
  EXPECT_EQ(i.x, 4432220);  // the other form is untouched

  // Polling either form empties its record whole before the answer comes.
  reader.PollInitParams();
  const InitParamsRecord zeroInit{};
  EXPECT_EQ(std::memcmp(&reader.InitParams, &zeroInit, sizeof zeroInit), 0);
  EXPECT_EQ(m.altitude, -100);
  reader.PollModeControl();
  const ModeControlRecord zeroMode{};
  EXPECT_EQ(std::memcmp(&reader.ModeControl, &zeroMode, sizeof zeroMode), 0);
}

TEST_F(SirfDecode, CommandParametersOfOtherOrShortFormsChangeNothing) {
  reader.PollInitParams();   // zeroes the records
  reader.PollModeControl();
  Receive(SirfFrame(FromHex("2B 85 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D")));
  Receive(SirfFrame(FromHex("2B 88 01 02 03 04 05 FF 9C 06 07 08 09 0A")));  // one byte short
  Receive(SirfFrame(FromHex("2B 80 00 00 00 01")));
  Receive(SirfFrame(FromHex("2B")));
  EXPECT_FALSE(reader.HasCommandParams);
  EXPECT_EQ(reader.InitParams.x, 0);
  EXPECT_EQ(reader.InitParams.messageId, 0);
  EXPECT_EQ(reader.ModeControl.reserved1, 0);
  EXPECT_EQ(reader.ModeControl.altitude, 0);
}

TEST_F(SirfDecode, OtherMessagesAreIgnored) {
  Receive(SirfFrame(NavPayload()));
  Bytes other = NavPayload();
  other[0] = 41;
  other[1] = 0;
  Receive(SirfFrame(other));
  Receive(SirfFrame(FromHex("0B 84")));
  EXPECT_EQ(reader.NavData.x, -100);
  EXPECT_FALSE(reader.HasBaseVersion);
  EXPECT_FALSE(reader.HasMakerVersion);
  EXPECT_FALSE(reader.HasCommandParams);
  EXPECT_FALSE(reader.HasNavParams);
}

TEST(SirfGeodetic, DegreesPerRadian) { EXPECT_DOUBLE_EQ(DegreesPerRadian, 57.29577951308232); }

TEST(SirfGeodetic, AxesOfTheEllipsoid) {
  double lat = 1, lon = 1, h = 1;
  BinaryReader::EcefToGeodetic(6378137, 0, 0, lat, lon, h);
  EXPECT_NEAR(lat, 0.0, 1e-12);
  EXPECT_NEAR(lon, 0.0, 1e-12);
  EXPECT_NEAR(h, 0.0, 1e-6);
  BinaryReader::EcefToGeodetic(0, 6378137, 0, lat, lon, h);
  EXPECT_NEAR(lat, 0.0, 1e-12);
  EXPECT_NEAR(lon, 90.0, 1e-12);
  EXPECT_NEAR(h, 0.0, 1e-6);
  BinaryReader::EcefToGeodetic(-6378237, 0, 0, lat, lon, h);
  EXPECT_NEAR(std::fabs(lon), 180.0, 1e-12);
  EXPECT_NEAR(h, 100.0, 1e-6);
}

TEST(SirfGeodetic, RoundTripsPointsOnFourContinents) {
  // Forward conversion computed here, then back through the code under test.
  const double a = 6378137.0;
  const double b = 6356752.3142;
  const double e2 = (a * a - b * b) / (a * a);
  const double rad = M_PI / 180.0;
  struct Point {
    double lat, lon, h;
  } points[] = {{46.498, 7.567, 1200}, {-37.8, 175.3, 30}, {44.069, -121.314, 1100},
                {-33.9, -70.6, 600}, {78.2, 15.6, 10}, {0.5, 100.0, -20}};
  for (const Point& p : points) {
    double n = a / std::sqrt(1 - e2 * std::sin(p.lat * rad) * std::sin(p.lat * rad));
    double x = (n + p.h) * std::cos(p.lat * rad) * std::cos(p.lon * rad);
    double y = (n + p.h) * std::cos(p.lat * rad) * std::sin(p.lon * rad);
    double z = (n * (1 - e2) + p.h) * std::sin(p.lat * rad);
    double lat, lon, h;
    BinaryReader::EcefToGeodetic(static_cast<LONG>(std::lround(x)), static_cast<LONG>(std::lround(y)),
                                 static_cast<LONG>(std::lround(z)), lat, lon, h);
    // Rounding to whole metres moves the point by under a metre.
    EXPECT_NEAR(lat, p.lat, 1e-5) << p.lat << "," << p.lon;
    EXPECT_NEAR(lon, p.lon, 1e-5) << p.lat << "," << p.lon;
    EXPECT_NEAR(h, p.h, 1.0) << p.lat << "," << p.lon;
  }
}

}  // namespace
