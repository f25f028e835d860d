#include "SirfCapture.h"

#include <string>

namespace {

// Version texts hold widened bytes; narrow them back for the writer.
template <size_t N>
std::string Narrow(const WCHAR (&text)[N]) {
  std::string out;
  for (size_t i = 0; i < N && text[i] != 0; ++i) out += static_cast<char>(text[i] & 0xFF);
  return out;
}

template <size_t N>
void Bytes(JsonWriter& json, const char* key, const BYTE (&values)[N]) {
  json.Key(key).BeginArray();
  for (BYTE value : values) json.Int(value);
  json.EndArray();
}

void WriteNavData(JsonWriter& json, const NavDataRecord& r) {
  json.Key("messageId").Int(r.messageId);
  json.Key("x").Int(r.x);
  json.Key("y").Int(r.y);
  json.Key("z").Int(r.z);
  json.Key("vx").Int(r.vx);
  json.Key("vy").Int(r.vy);
  json.Key("vz").Int(r.vz);
  json.Key("mode1").Int(r.mode1);
  json.Key("hdop").Int(r.hdop);
  json.Key("mode2").Int(r.mode2);
  json.Key("week").Int(r.week);
  json.Key("timeOfWeek").Int(r.timeOfWeek);
  json.Key("satellitesInFix").Int(r.satellitesInFix);
  Bytes(json, "channelSatellites", r.channelSatellites);
}

void WriteTrackerData(JsonWriter& json, const TrackerDataRecord& r) {
  json.Key("messageId").Int(r.messageId);
  json.Key("week").Int(r.week);
  json.Key("timeOfWeek").Int(r.timeOfWeek);
  json.Key("channelCount").Int(r.channelCount);
  json.Key("channels").BeginArray();
  for (const TrackerChannel& c : r.channels) {
    json.BeginObject();
    json.Key("satelliteId").Int(c.satelliteId);
    json.Key("azimuth").Int(c.azimuth);
    json.Key("elevation").Int(c.elevation);
    json.Key("state").Int(c.state);
    Bytes(json, "carrierToNoise", c.carrierToNoise);
    json.EndObject();
  }
  json.EndArray();
}

void WriteNavParams(JsonWriter& json, const NavParamsRecord& r) {
  json.Key("messageId").Int(r.messageId);
  json.Key("reserved1").Int(r.reserved1);
  json.Key("altHoldMode").Int(r.altHoldMode);
  json.Key("altHoldSource").Int(r.altHoldSource);
  json.Key("altSourceInput").Int(r.altSourceInput);
  json.Key("degradedMode").Int(r.degradedMode);
  json.Key("degradedTimeout").Int(r.degradedTimeout);
  json.Key("deadReckoningTimeout").Int(r.deadReckoningTimeout);
  json.Key("trackSmoothingMode").Int(r.trackSmoothingMode);
  json.Key("staticNavigation").Int(r.staticNavigation);
  json.Key("threeSvLeastSquares").Int(r.threeSvLeastSquares);
  json.Key("reserved2").Int(r.reserved2);
  json.Key("dopMaskMode").Int(r.dopMaskMode);
  json.Key("navElevationMask").Int(r.navElevationMask);
  json.Key("navPowerMask").Int(r.navPowerMask);
  json.Key("reserved3").Int(r.reserved3);
  json.Key("dgpsSource").Int(r.dgpsSource);
  json.Key("dgpsMode").Int(r.dgpsMode);
  json.Key("dgpsTimeout").Int(r.dgpsTimeout);
  json.Key("reserved4").Int(r.reserved4);
  json.Key("lowPowerPushToFix").Int(r.lowPowerPushToFix);
  json.Key("lowPowerOnTime").Int(r.lowPowerOnTime);
  json.Key("lowPowerInterval").Int(r.lowPowerInterval);
  json.Key("lowPowerUserTasksEnabled").Int(r.lowPowerUserTasksEnabled);
  json.Key("lowPowerUserTaskInterval").Int(r.lowPowerUserTaskInterval);
  json.Key("lowPowerPowerCyclingEnabled").Int(r.lowPowerPowerCyclingEnabled);
  json.Key("lowPowerMaxAcqSearchTime").Int(r.lowPowerMaxAcqSearchTime);
  json.Key("lowPowerMaxOffTime").Int(r.lowPowerMaxOffTime);
  json.Key("reserved5").Int(r.reserved5);
  json.Key("reserved6").Int(r.reserved6);
}

void WriteInitParams(JsonWriter& json, const InitParamsRecord& r) {
  json.Key("messageId").Int(r.messageId);
  json.Key("x").Int(r.x);
  json.Key("y").Int(r.y);
  json.Key("z").Int(r.z);
  json.Key("clockDrift").Int(r.clockDrift);
  json.Key("timeOfWeek").Int(r.timeOfWeek);
  json.Key("week").Int(r.week);
  json.Key("channelCount").Int(r.channelCount);
  json.Key("resetConfiguration").Int(r.resetConfiguration);
}

void WriteModeControl(JsonWriter& json, const ModeControlRecord& r) {
  json.Key("reserved1").Int(r.reserved1);
  json.Key("reserved2").Int(r.reserved2);
  json.Key("degradedMode").Int(r.degradedMode);
  json.Key("positionCalcMode").Int(r.positionCalcMode);
  json.Key("reserved3").Int(r.reserved3);
  json.Key("altitude").Int(r.altitude);
  json.Key("altHoldMode").Int(r.altHoldMode);
  json.Key("altHoldSource").Int(r.altHoldSource);
  json.Key("coastTimeout").Int(r.coastTimeout);
  json.Key("degradedTimeout").Int(r.degradedTimeout);
  json.Key("deadReckoningTimeout").Int(r.deadReckoningTimeout);
  json.Key("trackSmoothing").Int(r.trackSmoothing);
}

}  // namespace

SirfCapture::SirfCapture(std::ostream& out) : out_(out), reader_(nullptr) {}

void SirfCapture::OnByte(uint8_t value) {
  BinaryReader::OnByte(value, &reader_);
  while (reader_.HasFrame()) {
    TakeFrame();
    WriteLine();
  }
}

size_t SirfCapture::FeedUntilLine(const uint8_t* data, size_t size) {
  // The reader takes at most a DWORD's worth at a time.
  const DWORD piece = size < 0x40000000 ? static_cast<DWORD>(size) : 0x40000000;
  const size_t fed = reader_.OnBytes(data, piece);
  if (reader_.HasFrame()) TakeFrame();
  return fed;
}

void SirfCapture::WriteLine() {
  out_.write(line_.Line().data(), static_cast<std::streamsize>(line_.Size()));
  lineReady_ = false;
}

namespace {

// The record a valid frame decoded into, with its fields; or, for a message
// no decoder keeps, its payload as received.
void WriteRecord(JsonWriter& json, BinaryReader& r, BinaryReader::DecodedRecord decoded,
                 const BYTE* frame, WORD count, DWORD length) {
  json.Key("record");
  if (decoded == BinaryReader::DecodedNavData) {
    json.String("NavDataRecord").Key("fields").BeginObject();
    WriteNavData(json, r.NavData);
    json.EndObject();
    double latitude = 0, longitude = 0, height = 0;
    BinaryReader::EcefToGeodetic(r.NavData.x, r.NavData.y, r.NavData.z, latitude, longitude, height);
    json.Key("geodetic").BeginObject();
    json.Key("latitude").Double(latitude);
    json.Key("longitude").Double(longitude);
    json.Key("height").Double(height);
    json.EndObject();
  } else if (decoded == BinaryReader::DecodedTrackerData) {
    json.String("TrackerDataRecord").Key("fields").BeginObject();
    WriteTrackerData(json, r.TrackerData);
    json.EndObject();
  } else if (decoded == BinaryReader::DecodedMakerVersion) {
    json.String("MakerVersion").Key("fields").BeginObject();
    json.Key("MakerVersion").String(Narrow(r.MakerVersion));
    json.Key("HasMakerVersion").Bool(true);
    json.EndObject();
  } else if (decoded == BinaryReader::DecodedBaseVersion) {
    json.String("BaseVersion").Key("fields").BeginObject();
    json.Key("BaseVersion").String(Narrow(r.BaseVersion));
    json.Key("HasBaseVersion").Bool(true);
    json.EndObject();
  } else if (decoded == BinaryReader::DecodedNavParams) {
    json.String("NavParamsRecord").Key("fields").BeginObject();
    WriteNavParams(json, r.NavParams);
    json.EndObject();
  } else if (decoded == BinaryReader::DecodedInitParams) {
    json.String("InitParamsRecord").Key("fields").BeginObject();
    WriteInitParams(json, r.InitParams);
    json.EndObject();
  } else if (decoded == BinaryReader::DecodedModeControl) {
    json.String("ModeControlRecord").Key("fields").BeginObject();
    WriteModeControl(json, r.ModeControl);
    json.EndObject();
  } else {
    // No decoder keeps this message: its payload as received.
    json.Null();
    const DWORD payload = length <= static_cast<DWORD>(count) - 8 ? length : 0;
    // In upper-case hexadecimal, as the viewer's BinaryReader::FormatHex
    // writes it; most of a binary capture's frames are ones no decoder keeps.
    json.Key("payload").Hex(frame + 4, payload);
  }
}

}  // namespace

void SirfCapture::TakeFrame() {
  BYTE frame[BinaryReader::kSlotBytes];
  WORD count = 0;
  const bool valid = reader_.ReadFrame(frame, count);
  ++frames_;
  if (!valid) ++badFrames_;

  // Every frame read out starts A0 A2; its length field and id are shown
  // only where the bytes are there.
  const DWORD length = count >= 4 ? static_cast<DWORD>((frame[2] << 8) | frame[3]) : 0;
  JsonWriter& json = line_;
  json.Clear();
  json.BeginObject();
  json.Key("type").String("sirf");
  json.Key("mid");
  if (count > 4) {
    json.Int(frame[4]);
  } else {
    json.Null();
  }
  json.Key("length").Int(length);
  json.Key("bytes").Int(count);
  json.Key("checksum").Bool(valid);
  if (valid) {
    BinaryReader& r = reader_;
    WriteRecord(json, r, r.DispatchFrame(frame, count), frame, count, length);
  }
  json.EndObject();
  json.EndLine();
  lineReady_ = true;
}

void SirfCapture::AddSummary(JsonWriter& json) const {
  json.Key("frames").Int(static_cast<int64_t>(frames_));
  json.Key("badFrames").Int(static_cast<int64_t>(badFrames_));
}
