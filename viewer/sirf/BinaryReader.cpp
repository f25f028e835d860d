#include "BinaryReader.h"

#include <cmath>
#include <cstring>
#include <new>

#include "CriticalSectionLock.h"

const double DegreesPerRadian = 180.0 / (4.0 * std::atan(1.0));

namespace {

const BYTE kStart1 = 0xA0;
const BYTE kStart2 = 0xA2;
const BYTE kEnd1 = 0xB0;
const BYTE kEnd2 = 0xB3;

// Big-endian fields of a payload, read in order.
BYTE Take8(const BYTE*& p) { return *p++; }

WORD Take16(const BYTE*& p) {
  WORD value = static_cast<WORD>((p[0] << 8) | p[1]);
  p += 2;
  return value;
}

DWORD Take32(const BYTE*& p) {
  DWORD value = (static_cast<DWORD>(p[0]) << 24) | (static_cast<DWORD>(p[1]) << 16) |
                (static_cast<DWORD>(p[2]) << 8) | static_cast<DWORD>(p[3]);
  p += 4;
  return value;
}

int16_t TakeSigned16(const BYTE*& p) { return static_cast<int16_t>(Take16(p)); }
LONG TakeSigned32(const BYTE*& p) { return static_cast<LONG>(Take32(p)); }

void Put16(BYTE*& p, DWORD value) {
  *p++ = static_cast<BYTE>(value >> 8);
  *p++ = static_cast<BYTE>(value);
}

void Put32(BYTE*& p, DWORD value) {
  *p++ = static_cast<BYTE>(value >> 24);
  *p++ = static_cast<BYTE>(value >> 16);
  *p++ = static_cast<BYTE>(value >> 8);
  *p++ = static_cast<BYTE>(value);
}

WORD PayloadLength(const BYTE* frame) { return static_cast<WORD>((frame[2] << 8) | frame[3]); }

}  // namespace

// ---------------------------------------------------------------- lifetime

BinaryReader::BinaryReader(SerialSession* session)
    : NavData{},
      TrackerData{},
      MakerVersion{},
      HasMakerVersion(false),
      BaseVersion{},
      HasBaseVersion(false),
      InitParams{},
      ModeControl{},
      NavParams{},
      HasCommandParams(false),
      HasNavParams(false),
      session(session),
      transmitLength(0),
      writeIndex(0),
      readIndex(0),
      state(FrameState::Hunt),
      dropping(false),
      droppedBytes(0),
      transmit{},
      slots{},
      pending(0) {
  InitializeCriticalSection(&lock);
  // A slot that cannot be created stays null and never takes a frame.
  for (WORD i = 0; i < kSlotCount; ++i) slots[i] = new (std::nothrow) ByteRing(kSlotBytes);
  if (session != nullptr) session->SetByteSink(&BinaryReader::OnByte, this);
}

BinaryReader::~BinaryReader() {
  // Detach before anything else, holding no lock of ours: once this returns
  // the reader thread is not inside OnByte and will not enter it again.
  if (session != nullptr) session->ClearByteSink();
  for (WORD i = 0; i < kSlotCount; ++i) {
    delete slots[i];
    slots[i] = nullptr;
  }
  DeleteCriticalSection(&lock);
}

// ---------------------------------------------------------------- receiving

void BinaryReader::OnByte(BYTE value, void* context) {
  static_cast<BinaryReader*>(context)->TakeByte(value);
}

// The slot being filled, or null while every slot holds a waiting frame:
// the slot at the write index is then the oldest waiting frame's and must
// not be touched, neither by a frame being dropped nor by bytes between
// frames.
ByteRing* BinaryReader::FillSlot() const {
  return dropping || pending.load() >= kSlotCount ? nullptr : slots[writeIndex];
}

void BinaryReader::BeginFrame() {
  // A frame that starts while every slot waits to be read is dropped whole,
  // even if a slot frees up before its end.
  dropping = pending.load() >= kSlotCount;
  droppedBytes = 0;
  if (ByteRing* ring = FillSlot()) ring->Clear();
}

// One framing step with the lock held: sets the next state and answers
// whether the byte belongs to a frame. The length field plays no part: a
// frame ends at the first B0 B3 after its start.
bool BinaryReader::StepFraming(BYTE value) {
  switch (state) {
    case FrameState::GotStart1:
      if (value == kStart2) {
        state = FrameState::InPayload;
        return true;
      }
      if (value == kStart1) {  // A0 A0: the second one starts the frame
        BeginFrame();
        return true;
      }
      state = FrameState::Hunt;
      return false;
    case FrameState::InPayload:
      if (value == kEnd1) state = FrameState::GotEnd1;
      return true;
    case FrameState::GotEnd1:
      if (value == kEnd2) {
        state = FrameState::Complete;
      } else if (value != kEnd1) {
        state = FrameState::InPayload;
      }
      return true;
    case FrameState::Hunt:
    case FrameState::Complete:
    default:
      if (value == kStart1) {
        state = FrameState::GotStart1;
        BeginFrame();
        return true;
      }
      state = FrameState::Hunt;
      return false;
  }
}

void BinaryReader::TakeByte(BYTE value) {
  CriticalSectionLock hold(&lock);
  StepByte(value);
}

// Two kinds of run are taken whole: payload bytes up to the next B0 while a
// slot is being filled (each stored, framing unchanged), and, once a byte
// outside a frame has emptied the slot, the bytes before the next A0 (each
// would only empty it again). Every other byte goes through StepByte.
DWORD BinaryReader::OnBytes(const BYTE* data, DWORD size) {
  CriticalSectionLock hold(&lock);
  DWORD i = 0;
  while (i < size) {
    ByteRing* ring = slots[writeIndex];
    if (state == FrameState::InPayload && !dropping && ring != nullptr && data[i] != kEnd1) {
      const void* end1 = std::memchr(data + i, kEnd1, size - i);
      const DWORD end = end1 ? static_cast<DWORD>(static_cast<const BYTE*>(end1) - data) : size;
      const DWORD stored = ring->PutRun(data + i, end - i);
      i += stored;
      if (i < end) {  // the byte that does not fit: longer than a slot, lost
        ring->Clear();
        state = FrameState::Hunt;
        ++i;
      }
      continue;
    }
    const bool outside = (state == FrameState::Hunt || state == FrameState::Complete) && data[i] != kStart1;
    const WORD current = writeIndex;
    StepByte(data[i++]);
    if (writeIndex != current) return i;
    if (outside) {
      const void* start1 = std::memchr(data + i, kStart1, size - i);
      i = start1 ? static_cast<DWORD>(static_cast<const BYTE*>(start1) - data) : size;
    }
  }
  return size;
}

void BinaryReader::StepByte(BYTE value) {
  if (!StepFraming(value)) {
    if (ByteRing* ring = FillSlot()) ring->Clear();
    dropping = false;
    state = FrameState::Hunt;
    return;
  }
  if (dropping) {
    // Counted as if stored, so that a frame dropped this way ends where a
    // stored one would: one longer than a slot sends framing back to hunting.
    if (++droppedBytes > kSlotBytes) {
      dropping = false;
      state = FrameState::Hunt;
      return;
    }
  } else {
    ByteRing* ring = slots[writeIndex];
    if (ring == nullptr || !ring->Put(value)) {  // longer than a slot: lost
      if (ring != nullptr) ring->Clear();
      state = FrameState::Hunt;
      return;
    }
  }
  if (state == FrameState::Complete) {
    if (dropping || pending.load() >= kSlotCount) {
      if (ByteRing* ring = FillSlot()) ring->Clear();
    } else {
      writeIndex = static_cast<WORD>((writeIndex + 1) % kSlotCount);
      pending.fetch_add(1);
    }
    dropping = false;
    state = FrameState::Hunt;
  }
}

bool BinaryReader::HasFrame() const { return pending.load() > 0; }

bool BinaryReader::ReadFrame(BYTE* buffer, WORD& count) {
  if (pending.load() == 0) return false;
  CriticalSectionLock hold(&lock);
  if (pending.load() == 0) return false;
  count = 0;
  ByteRing* ring = slots[readIndex];
  if (ring != nullptr) count = static_cast<WORD>(ring->GetRun(buffer, kSlotBytes));
  if (ring != nullptr) ring->Clear();
  readIndex = static_cast<WORD>((readIndex + 1) % kSlotCount);
  pending.fetch_sub(1);
  return FrameChecksumValid(buffer, count);
}

void BinaryReader::ResetFrames() {
  CriticalSectionLock hold(&lock);
  writeIndex = 0;
  readIndex = 0;
  pending.store(0);
  for (WORD i = 0; i < kSlotCount; ++i) {
    if (slots[i] != nullptr) slots[i]->Clear();
  }
  dropping = false;
  state = FrameState::Hunt;
}

bool BinaryReader::FrameChecksumValid(const BYTE* frame, DWORD count) {
  if (frame == nullptr || count < 8) return false;
  const DWORD length = PayloadLength(frame);
  if (length + 8 > count) return false;  // the length field claims more than arrived
  const WORD expected = static_cast<WORD>((frame[4 + length] << 8) | frame[5 + length]);
  return FrameChecksum(frame, static_cast<WORD>(length)) == expected;
}

// ---------------------------------------------------------------- decoding

BinaryReader::DecodedRecord BinaryReader::DispatchFrame(const BYTE* frame, WORD count) {
  if (frame == nullptr || count <= 4) return DecodedNone;
  const WORD length = PayloadLength(frame);
  // Nothing is read beyond the bytes received, whatever the length claims.
  if (length == 0 || 4 + static_cast<DWORD>(length) > count) return DecodedNone;
  const BYTE* payload = frame + 4;
  switch (payload[0]) {
    case kMsgNavData:
      if (length != NavDataRecord::kPayloadLength) break;
      DecodeNavData(payload);
      return DecodedNavData;
    case kMsgTrackerData:
      if (length != TrackerDataRecord::kPayloadLength) break;
      DecodeTrackerData(payload);
      return DecodedTrackerData;
    case kMsgSoftwareVersion:
      return DecodeVersion(payload, length);
    case kMsgNavParams:
      if (length < NavParamsRecord::kPayloadLength) break;
      DecodeNavParams(payload);
      HasNavParams = true;
      return DecodedNavParams;
    case kMsgCommandParams:
      if (length < 2) break;
      if (payload[1] == kInitDataSource && length >= 1 + InitParamsRecord::kWireLength) {
        DecodeInitParams(payload + 1);
        HasCommandParams = true;
        return DecodedInitParams;
      }
      if (payload[1] == kSetModeControl && length >= 2 + ModeControlRecord::kWireLength) {
        DecodeModeControl(payload + 2);
        HasCommandParams = true;
        return DecodedModeControl;
      }
      break;
    default:
      break;
  }
  return DecodedNone;
}

void BinaryReader::DecodeNavData(const BYTE* p) {
  NavDataRecord& r = NavData;
  r.messageId = Take8(p);
  r.x = TakeSigned32(p);
  r.y = TakeSigned32(p);
  r.z = TakeSigned32(p);
  r.vx = TakeSigned16(p);
  r.vy = TakeSigned16(p);
  r.vz = TakeSigned16(p);
  r.mode1 = Take8(p);
  r.hdop = Take8(p);
  r.mode2 = Take8(p);
  r.week = Take16(p);
  r.timeOfWeek = Take32(p);
  r.satellitesInFix = Take8(p);
  for (BYTE& sv : r.channelSatellites) sv = Take8(p);
}

void BinaryReader::DecodeTrackerData(const BYTE* p) {
  TrackerDataRecord& r = TrackerData;
  r.messageId = Take8(p);
  r.week = Take16(p);
  r.timeOfWeek = Take32(p);
  r.channelCount = Take8(p);
  for (TrackerChannel& channel : r.channels) {
    channel.satelliteId = Take8(p);
    channel.azimuth = Take8(p);
    channel.elevation = Take8(p);
    channel.state = Take16(p);
    for (BYTE& cn0 : channel.carrierToNoise) cn0 = Take8(p);
  }
}

BinaryReader::DecodedRecord BinaryReader::DecodeVersion(const BYTE* payload, WORD length) {
  // The text is the bytes after the id, up to the first NUL if there is one.
  const BYTE* text = payload + 1;
  DWORD textLength = 0;
  while (textLength < static_cast<DWORD>(length) - 1 && text[textLength] != 0) ++textLength;

  static const char kMaker[] = "Dovrin";
  const DWORD makerLength = sizeof(kMaker) - 1;
  bool maker = false;
  for (DWORD at = 0; !maker && at + makerLength <= textLength; ++at) {
    maker = std::memcmp(text + at, kMaker, makerLength) == 0;
  }

  // A longer text is cut to what a version text holds.
  WCHAR* target = maker ? MakerVersion : BaseVersion;
  const DWORD kept = textLength < kVersionChars - 1 ? textLength : kVersionChars - 1;
  for (DWORD i = 0; i < kept; ++i) target[i] = static_cast<WCHAR>(text[i]);
  target[kept] = 0;
  if (maker) {
    HasMakerVersion = true;
    return DecodedMakerVersion;
  }
  HasBaseVersion = true;
  return DecodedBaseVersion;
}

void BinaryReader::DecodeNavParams(const BYTE* p) {
  NavParamsRecord& r = NavParams;
  r.messageId = Take8(p);
  r.reserved1 = Take32(p);
  r.altHoldMode = Take8(p);
  r.altHoldSource = Take8(p);
  r.altSourceInput = TakeSigned16(p);
  r.degradedMode = Take8(p);
  r.degradedTimeout = Take8(p);
  r.deadReckoningTimeout = Take8(p);
  r.trackSmoothingMode = Take8(p);
  r.staticNavigation = Take8(p);
  r.threeSvLeastSquares = Take8(p);
  r.reserved2 = Take32(p);
  r.dopMaskMode = Take8(p);
  r.navElevationMask = TakeSigned16(p);
  r.navPowerMask = Take8(p);
  r.reserved3 = Take32(p);
  r.dgpsSource = Take8(p);
  r.dgpsMode = Take8(p);
  r.dgpsTimeout = Take8(p);
  r.reserved4 = Take32(p);
  r.lowPowerPushToFix = Take8(p);
  r.lowPowerOnTime = Take32(p);
  r.lowPowerInterval = Take32(p);
  r.lowPowerUserTasksEnabled = Take8(p);
  r.lowPowerUserTaskInterval = Take32(p);
  r.lowPowerPowerCyclingEnabled = Take8(p);
  r.lowPowerMaxAcqSearchTime = Take32(p);
  r.lowPowerMaxOffTime = Take32(p);
  r.reserved5 = Take32(p);
  r.reserved6 = Take32(p);
}

void BinaryReader::DecodeInitParams(const BYTE* p) {
  InitParamsRecord& r = InitParams;
  r.messageId = Take8(p);
  r.x = TakeSigned32(p);
  r.y = TakeSigned32(p);
  r.z = TakeSigned32(p);
  r.clockDrift = Take32(p);
  r.timeOfWeek = Take32(p);
  r.week = Take16(p);
  r.channelCount = Take8(p);
  r.resetConfiguration = Take8(p);
}

void BinaryReader::DecodeModeControl(const BYTE* p) {
  ModeControlRecord& r = ModeControl;
  r.reserved1 = Take8(p);
  r.reserved2 = Take8(p);
  r.degradedMode = Take8(p);
  r.positionCalcMode = Take8(p);
  r.reserved3 = Take8(p);
  r.altitude = TakeSigned16(p);
  r.altHoldMode = Take8(p);
  r.altHoldSource = Take8(p);
  r.coastTimeout = Take8(p);
  r.degradedTimeout = Take8(p);
  r.deadReckoningTimeout = Take8(p);
  r.trackSmoothing = Take8(p);
}

// One pass of Bowring's method on the WGS-84 ellipsoid.
void BinaryReader::EcefToGeodetic(LONG x, LONG y, LONG z, double& latitude, double& longitude,
                                  double& height) {
  const double a = 6378137.0;
  const double b = 6356752.3142;
  const double dx = x;
  const double dy = y;
  const double dz = z;
  const double p = std::sqrt(dx * dx + dy * dy);
  const double theta = std::atan2(dz * a, p * b);
  const double e2 = (a * a - b * b) / (a * a);
  const double ep2 = (a * a - b * b) / (b * b);
  const double sinTheta = std::sin(theta);
  const double cosTheta = std::cos(theta);
  const double phi = std::atan2(dz + ep2 * b * sinTheta * sinTheta * sinTheta,
                                p - e2 * a * cosTheta * cosTheta * cosTheta);
  const double lambda = std::atan2(dy, dx);
  const double sinPhi = std::sin(phi);
  const double cosPhi = std::cos(phi);
  const double h = p / cosPhi - (a * a) / std::sqrt(a * a * cosPhi * cosPhi + b * b * sinPhi * sinPhi);
  latitude = phi * DegreesPerRadian;
  longitude = lambda * DegreesPerRadian;
  height = h;
}

// ---------------------------------------------------------------- sending

bool BinaryReader::SendFrame(const BYTE* payload, WORD length) {
  // A payload that does not fit the transmit buffer is refused whole.
  if (length > kMaxPayload || (payload == nullptr && length > 0)) return false;
  transmitLength = length;
  transmit[0] = kStart1;
  transmit[1] = kStart2;
  transmit[2] = static_cast<BYTE>(length >> 8);
  transmit[3] = static_cast<BYTE>(length);
  if (length > 0) std::memcpy(transmit + 4, payload, length);
  const WORD checksum = FrameChecksum(transmit, length);
  transmit[4 + length] = static_cast<BYTE>(checksum >> 8);
  transmit[5 + length] = static_cast<BYTE>(checksum);
  transmit[6 + length] = kEnd1;
  transmit[7 + length] = kEnd2;
  const WORD total = static_cast<WORD>(length + 8);
  if (session != nullptr) {
    for (WORD i = 0; i < total; ++i) session->WriteByte(transmit[i]);
  }
  return true;
}

WORD BinaryReader::FrameChecksum(const BYTE* frame, WORD length) {
  DWORD sum = 0;
  for (DWORD i = 0; i < length; ++i) sum += frame[4 + i];
  return static_cast<WORD>(sum & 0x7FFF);
}

void BinaryReader::FormatHex(const BYTE* bytes, DWORD count, LPWSTR text) {
  text[0] = 0;
  for (DWORD i = 0; i < count; ++i) wsprintf(text + 2 * i, TEXT("%02X"), static_cast<int>(bytes[i]));
}

bool BinaryReader::WaitFor(BYTE messageId, bool forAck, BYTE* buffer, WORD& count, DWORD timeout) {
  // Elapsed time by unsigned difference, so a wrap of the tick count during
  // the wait does not end or stretch it.
  const DWORD start = GetTickCount();
  const uint64_t limit = static_cast<uint64_t>(timeout) * 100;
  while (static_cast<uint64_t>(static_cast<DWORD>(GetTickCount() - start)) < limit) {
    while (HasFrame()) {
      WORD length = 0;
      if (!ReadFrame(buffer, length)) continue;  // bad checksum: dropped
      count = length;
      const WORD payloadLength = PayloadLength(buffer);
      const BYTE* payload = buffer + 4;
      if (!forAck) {
        if (payloadLength >= 1 && payload[0] == messageId) return true;
      } else if (payloadLength >= 2 && payload[1] == messageId) {
        if (payload[0] == kMsgAck) return true;
        if (payload[0] == kMsgNack) return false;
      }
    }
    Sleep(100);
  }
  return false;
}

bool BinaryReader::WaitForMessage(BYTE messageId, BYTE* buffer, WORD& count, DWORD timeout) {
  return WaitFor(messageId, false, buffer, count, timeout);
}

bool BinaryReader::WaitForAck(BYTE messageId, DWORD timeout) {
  BYTE frame[kSlotBytes];
  WORD count = 0;
  return WaitFor(messageId, true, frame, count, timeout);
}

bool BinaryReader::SendAndAck(const BYTE* payload, WORD length) {
  if (!SendFrame(payload, length)) return false;
  return WaitForAck(payload[0], kAckTimeout);
}

bool BinaryReader::PollSoftwareVersion() {
  const BYTE payload[] = {kPollSoftwareVersion, 0x00};
  return SendFrame(payload, sizeof payload);
}

bool BinaryReader::PollInitParams() {
  std::memset(&InitParams, 0, sizeof InitParams);
  const BYTE payload[] = {kPollCommandParams, kInitDataSource};
  return SendFrame(payload, sizeof payload);
}

bool BinaryReader::PollModeControl() {
  std::memset(&ModeControl, 0, sizeof ModeControl);
  const BYTE payload[] = {kPollCommandParams, kSetModeControl};
  return SendFrame(payload, sizeof payload);
}

bool BinaryReader::PollNavParams() {
  HasNavParams = false;
  const BYTE payload[] = {kPollNavParams, 0x00};
  return SendFrame(payload, sizeof payload);
}

bool BinaryReader::PollEphemeris() {
  const BYTE payload[] = {kPollEphemeris, 0x00, 0x00};  // all satellites
  return SendFrame(payload, sizeof payload);
}

bool BinaryReader::PollAlmanac() {
  const BYTE payload[] = {kPollAlmanac, 0x00};
  return SendFrame(payload, sizeof payload);
}

bool BinaryReader::SwitchToNmea(DWORD baud) {
  // Mode 2, then rate and checksum flag for GGA, GLL, GSA, GSV, RMC, VTG,
  // MSS, a reserved slot, ZDA and another reserved slot, then the rate.
  BYTE payload[24] = {kSwitchToNmea, 0x02, 2, 1, 0, 1, 4, 1, 4, 1, 2, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1};
  BYTE* p = payload + 22;
  Put16(p, baud & 0xFFFF);
  return SendFrame(payload, sizeof payload);
}

bool BinaryReader::SetAlmanac(const BYTE* data) {
  BYTE payload[897];
  payload[0] = kSetAlmanac;
  std::memcpy(payload + 1, data, sizeof payload - 1);
  return SendFrame(payload, sizeof payload);
}

bool BinaryReader::SetEphemeris(const BYTE* data) {
  BYTE payload[91];
  payload[0] = kSetEphemeris;
  std::memcpy(payload + 1, data, sizeof payload - 1);
  return SendFrame(payload, sizeof payload);
}

bool BinaryReader::SendMessage181(BYTE value) {
  const BYTE payload[] = {kMessage181, value};
  return SendFrame(payload, sizeof payload);
}

bool BinaryReader::TricklePresetA() {
  const BYTE payload[] = {kSetTricklePower, 0x00, 0x03, 0xE8, 0x00, 0x00, 0x03, 0xC8};
  return SendFrame(payload, sizeof payload);
}

bool BinaryReader::TricklePresetB() {
  const BYTE payload[] = {kSetTricklePower, 0x00, 0x00, 0x96, 0x00, 0x00, 0x01, 0x2C};
  return SendFrame(payload, sizeof payload);
}

bool BinaryReader::SetDgpsSourceOne() {
  const BYTE payload[] = {kSetDgpsSource, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
  return SendFrame(payload, sizeof payload);
}

bool BinaryReader::SetDgpsSourceNone() {
  const BYTE payload[] = {kSetDgpsSource, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  return SendFrame(payload, sizeof payload);
}

bool BinaryReader::ResetReceiver(ResetForm form) {
  static const BYTE kConfiguration[] = {0x04, 0x08, 0x02, 0x01};
  if (form >= sizeof kConfiguration) return false;
  BYTE payload[InitParamsRecord::kWireLength] = {kInitDataSource};
  payload[InitParamsRecord::kWireLength - 1] = kConfiguration[form];
  return SendAndAck(payload, sizeof payload);
}

bool BinaryReader::InitDataSource(const InitParamsRecord& record) {
  BYTE payload[InitParamsRecord::kWireLength];
  BYTE* p = payload;
  *p++ = kInitDataSource;
  Put32(p, static_cast<DWORD>(record.x));
  Put32(p, static_cast<DWORD>(record.y));
  Put32(p, static_cast<DWORD>(record.z));
  Put32(p, record.clockDrift);
  Put32(p, record.timeOfWeek);
  Put16(p, record.week);
  *p++ = record.channelCount;
  *p++ = record.resetConfiguration;
  return SendAndAck(payload, sizeof payload);
}

bool BinaryReader::SetTricklePower(DWORD dutyCycle, DWORD onTime) {
  BYTE payload[9];
  BYTE* p = payload;
  *p++ = kSetTricklePower;
  Put16(p, 0);  // push-to-fix mode off
  Put16(p, dutyCycle & 0xFFFF);
  Put32(p, onTime);
  return SendAndAck(payload, sizeof payload);
}

bool BinaryReader::SetMessageRate(BYTE messageId, BYTE rate) {
  const BYTE payload[] = {kSetMessageRate, 0x00, messageId, rate, 0x00, 0x00, 0x00, 0x00};
  return SendAndAck(payload, sizeof payload);
}

bool BinaryReader::SetStaticNavigation(BYTE flag) {
  const BYTE payload[] = {kSetStaticNavigation, flag};
  return SendAndAck(payload, sizeof payload);
}

bool BinaryReader::SetModeControl(const ModeControlRecord& record) {
  BYTE payload[14];
  BYTE* p = payload;
  *p++ = kSetModeControl;
  *p++ = record.reserved1;
  *p++ = record.reserved2;
  *p++ = record.degradedMode;
  *p++ = record.positionCalcMode;
  *p++ = record.reserved3;
  Put16(p, static_cast<WORD>(record.altitude));
  *p++ = record.altHoldMode;
  *p++ = record.altHoldSource;
  *p++ = record.coastTimeout;
  *p++ = record.degradedTimeout;
  *p++ = record.deadReckoningTimeout;
  *p++ = record.trackSmoothing;
  return SendAndAck(payload, sizeof payload);
}

bool BinaryReader::FlashUpdate() {
  const BYTE payload[] = {kFlashUpdate};
  return SendFrame(payload, sizeof payload);
}
