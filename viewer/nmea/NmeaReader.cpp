#include "NmeaReader.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "CriticalSectionLock.h"

namespace {

bool EndsFields(char c) { return c == ',' || c == '*' || c == '\r' || c == '\n' || c == '\0'; }

BYTE HexValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<BYTE>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<BYTE>(c - 'A' + 10);
  return 0;
}

}  // namespace

NmeaReader::NmeaReader(SerialSession* attachTo)
    : session(attachTo), writeSlot(0), readSlot(0), frameState(Idle) {
  std::memset(&gga, 0, sizeof gga);
  std::memset(&gsa, 0, sizeof gsa);
  std::memset(&gsv, 0, sizeof gsv);
  std::memset(&rmc, 0, sizeof rmc);
  std::memset(&swv, 0, sizeof swv);
  std::memset(&cof, 0, sizeof cof);
  std::memset(commandBuffer, 0, sizeof commandBuffer);
  InitializeCriticalSection(&lock);
  // A slot that could not be allocated stays null and simply holds nothing.
  for (WORD i = 0; i < kSlotCount; ++i) slots[i] = new (std::nothrow) ByteRing(kSlotCapacity);
  if (session != nullptr) session->SetByteSink(&NmeaReader::OnByte, this);
}

NmeaReader::~NmeaReader() {
  // Without our own lock: the session's sink lock comes first.
  if (session != nullptr) session->ClearByteSink();
  for (WORD i = 0; i < kSlotCount; ++i) {
    delete slots[i];
    slots[i] = nullptr;
  }
  DeleteCriticalSection(&lock);
}

void NmeaReader::Reattach() {
  if (session != nullptr) session->SetByteSink(&NmeaReader::OnByte, this);
}

void NmeaReader::Reset() {
  CriticalSectionLock hold(&lock);
  writeSlot.store(0, std::memory_order_release);
  readSlot.store(0, std::memory_order_release);
  for (WORD i = 0; i < kSlotCount; ++i) {
    if (slots[i] != nullptr) slots[i]->Clear();
  }
  frameState = Idle;
}

bool NmeaReader::HasSentence() const {
  return writeSlot.load(std::memory_order_acquire) != readSlot.load(std::memory_order_acquire);
}

void NmeaReader::OnByte(BYTE value, void* context) {
  NmeaReader* reader = static_cast<NmeaReader*>(context);
  if (reader == nullptr) return;
  CriticalSectionLock hold(&reader->lock);
  reader->Frame(value);
}

// Two kinds of run are taken whole: the bytes of a sentence up to its CR
// (each stored, framing unchanged) and, once a byte outside a sentence has
// emptied the slot, the bytes before the next "$" (each would only empty
// it again). Every other byte goes through Frame.
DWORD NmeaReader::OnBytes(const BYTE* data, DWORD size) {
  CriticalSectionLock hold(&lock);
  DWORD i = 0;
  while (i < size) {
    const WORD current = writeSlot.load(std::memory_order_relaxed);
    if (frameState == InSentence) {
      const void* cr = std::memchr(data + i, '\r', size - i);
      const DWORD end = cr ? static_cast<DWORD>(static_cast<const BYTE*>(cr) - data) + 1 : size;
      if (ByteRing* ring = slots[current]) ring->PutRun(data + i, end - i);
      if (cr != nullptr) frameState = GotCr;
      i = end;
      continue;
    }
    const bool outside = (frameState == Idle || frameState == Complete) && data[i] != '$';
    Frame(data[i++]);
    if (writeSlot.load(std::memory_order_relaxed) != current) return i;
    if (outside) {
      const void* dollar = std::memchr(data + i, '$', size - i);
      i = dollar ? static_cast<DWORD>(static_cast<const BYTE*>(dollar) - data) : size;
    }
  }
  return size;
}

// Runs under the lock. Most bytes fall inside a sentence: stored, and only
// CR moves framing on. Small, so that OnByte's call of it goes inline.
void NmeaReader::Frame(BYTE value) {
  if (frameState == InSentence) {
    if (ByteRing* ring = slots[writeSlot.load(std::memory_order_relaxed)]) ring->Put(value);
    if (value == '\r') frameState = GotCr;
    return;
  }
  FrameOutsideSentence(value);
}

// The slot at writeSlot is never one that holds an unread sentence:
// writeSlot only advances when the slot after it is free.
void NmeaReader::FrameOutsideSentence(BYTE value) {
  bool stored = false;
  FrameState next = Idle;
  switch (frameState) {
    case Idle:
      stored = value == '$';
      next = stored ? InSentence : Idle;
      break;
    case InSentence:
      stored = true;
      next = value == '\r' ? GotCr : InSentence;
      break;
    case GotCr:
      stored = value == '\n';
      next = stored ? Complete : Idle;
      break;
    case Complete:  // never seen by a byte; treated as Idle
      stored = value == '$';
      next = stored ? InSentence : Idle;
      break;
  }

  const WORD current = writeSlot.load(std::memory_order_relaxed);
  ByteRing* ring = slots[current];
  if (!stored) {
    if (ring != nullptr) ring->Clear();
    frameState = Idle;
    return;
  }
  // A byte that does not fit into a full slot is dropped; the sentence is
  // then rejected by its length when it is read.
  if (ring != nullptr) ring->Put(value);
  if (next != Complete) {
    frameState = next;
    return;
  }
  frameState = Idle;
  const WORD following = static_cast<WORD>((current + 1) % kSlotCount);
  if (following == readSlot.load(std::memory_order_relaxed)) {
    // The queue is full: this sentence is dropped so that the waiting ones
    // stay intact and the queue does not read as empty.
    if (ring != nullptr) ring->Clear();
    return;
  }
  writeSlot.store(following, std::memory_order_release);
}

bool NmeaReader::ReadSentence(char* buffer, WORD& length) {
  if (buffer == nullptr || !HasSentence()) return false;
  CriticalSectionLock hold(&lock);
  const WORD current = readSlot.load(std::memory_order_relaxed);
  if (current == writeSlot.load(std::memory_order_relaxed)) return false;  // Reset in between

  ByteRing* ring = slots[current];
  length = 0;
  if (ring != nullptr) length = static_cast<WORD>(ring->GetRun(reinterpret_cast<BYTE*>(buffer), kMaxSentence));
  buffer[length] = '\0';
  if (ring != nullptr) ring->Clear();
  readSlot.store(static_cast<WORD>((current + 1) % kSlotCount), std::memory_order_release);

  if (length >= kMaxSentence) return false;
  // A NUL inside the sentence would hide its end from every later step.
  if (std::memchr(buffer, '\0', length) != nullptr) return false;
  return ChecksumValid(buffer);
}

bool NmeaReader::ChecksumValid(const char* sentence) {
  if (sentence == nullptr) return false;
  const char* p = std::strchr(sentence, '$');
  if (p == nullptr) return false;
  ++p;
  BYTE sum = 0;
  for (; *p != '*' && *p != '\n'; ++p) {
    if (*p == '\0') return false;  // text ended before the sentence did
    sum = static_cast<BYTE>(sum ^ static_cast<BYTE>(*p));
  }
  if (*p == '\n') return true;  // no checksum to test
  // Nothing after the "*" to read. A text that ends after one digit ends in
  // its NUL, which is worth 0 like every other non-digit.
  if (p[1] == '\0') return false;
  const BYTE given = static_cast<BYTE>(16 * HexValue(p[1]) + HexValue(p[2]));
  return given == sum;
}

// ---- field operations ----

bool NmeaReader::SentenceIdIs(const char* id, const char* sentence) {
  if (id == nullptr || sentence == nullptr) return false;
  const char* p = std::strchr(sentence, '$');
  if (p == nullptr) return false;
  return std::strncmp(p + 1, id, std::strlen(id)) == 0;
}

const char* NmeaReader::NextField(const char* position) {
  while (!EndsFields(*position)) ++position;
  return *position == ',' ? position + 1 : position;
}

char* NmeaReader::NextField(char* position) {
  return const_cast<char*>(NextField(static_cast<const char*>(position)));
}

int NmeaReader::FieldLength(const char* position) {
  int length = 0;
  while (!EndsFields(position[length])) ++length;
  return length;
}

LONG NmeaReader::FieldInt(const char* position) {
  const int length = FieldLength(position);
  int i = 0;
  while (i < length && (position[i] == ' ' || position[i] == '\t' || position[i] == '\v' ||
                        position[i] == '\f')) {
    ++i;
  }
  bool negative = false;
  if (i < length && (position[i] == '+' || position[i] == '-')) {
    negative = position[i] == '-';
    ++i;
  }
  DWORD value = 0;  // unsigned, so that long digit runs wrap instead of overflowing
  for (; i < length && position[i] >= '0' && position[i] <= '9'; ++i) {
    value = value * 10u + static_cast<DWORD>(position[i] - '0');
  }
  if (negative) value = 0u - value;
  return static_cast<LONG>(value);
}

void NmeaReader::FieldText(char* destination, size_t capacity, const char* position) {
  if (destination == nullptr || capacity == 0) return;
  size_t length = static_cast<size_t>(FieldLength(position));
  if (length > capacity - 1) length = capacity - 1;
  std::memcpy(destination, position, length);
  destination[length] = '\0';
}

// ---- decoders ----

void NmeaReader::DecodeSentence(char* sentence) {
  if (sentence == nullptr) return;
  if (SentenceIdIs("GPGGA", sentence)) {
    DecodeGga(sentence);
  } else if (SentenceIdIs("GPGSA", sentence)) {
    DecodeGsa(sentence);
  } else if (SentenceIdIs("GPGSV", sentence)) {
    DecodeGsv(sentence);
  } else if (SentenceIdIs("GPRMC", sentence)) {
    DecodeRmc(sentence);
  } else if (SentenceIdIs("PXVRSWV", sentence)) {
    DecodeSwv(sentence);
  } else if (SentenceIdIs("PXVRCOF", sentence)) {
    DecodeCof(sentence);
  }
}

void NmeaReader::DecodeGga(char* sentence) {
  gga.count = static_cast<WORD>(gga.count + 1);
  gga.tick = GetTickCount();
  const char* p = NextField(static_cast<const char*>(sentence));
  gga.utcTime = FieldInt(p);
}

void NmeaReader::DecodeGsa(char* sentence) {
  gsa.count = static_cast<WORD>(gsa.count + 1);
  gsa.tick = GetTickCount();
  const char* p = NextField(static_cast<const char*>(sentence));
  // Single characters are taken as they stand: an empty field gives its delimiter.
  gsa.selectionMode = *p;
  p = NextField(p);
  gsa.fixMode = *p;
  for (int i = 0; i < 12; ++i) {
    p = NextField(p);
    gsa.usedPrn[i] = static_cast<BYTE>(FieldInt(p));
  }
  p = NextField(p);
  FieldText(gsa.pdop, p);
  p = NextField(p);
  FieldText(gsa.hdop, p);
  p = NextField(p);
  FieldText(gsa.vdop, p);
}

void NmeaReader::DecodeGsv(char* sentence) {
  gsv.count = static_cast<WORD>(gsv.count + 1);
  gsv.tick = GetTickCount();
  const SatelliteRow empty = {-1, 0, 0, 0};

  const char* p = NextField(static_cast<const char*>(sentence));
  int clearFrom = 12;
  if (*p == '1') {
    clearFrom = 4;
  } else if (*p == '2') {
    clearFrom = 8;
  }
  for (int row = clearFrom; row < 12; ++row) gsv.channels[row] = empty;

  p = NextField(p);
  // Messages other than 2 and 3 (a fourth one too) fill the first four rows.
  int row = 0;
  if (*p == '2') {
    row = 4;
  } else if (*p == '3') {
    row = 8;
  }

  p = NextField(p);
  gsv.inView = static_cast<BYTE>(FieldInt(p));

  for (int n = 0; n < 4; ++n, ++row) {
    SatelliteRow& channel = gsv.channels[row];
    p = NextField(p);
    if (*p == '*') {
      channel = empty;
      continue;
    }
    channel.prn = static_cast<int8_t>(static_cast<BYTE>(FieldInt(p)));
    p = NextField(p);
    channel.elevation = static_cast<BYTE>(FieldInt(p));
    p = NextField(p);
    channel.azimuth = static_cast<WORD>(FieldInt(p));
    p = NextField(p);
    channel.snr = static_cast<BYTE>(FieldInt(p));
  }
}

void NmeaReader::DecodeRmc(char* sentence) {
  rmc.count = static_cast<WORD>(rmc.count + 1);
  rmc.tick = GetTickCount();
  const char* p = NextField(static_cast<const char*>(sentence));
  FieldText(rmc.utcTime, p);
  p = NextField(p);
  // Single characters are taken as they stand: an empty field gives its delimiter.
  rmc.status = *p;
  p = NextField(p);
  FieldText(rmc.latitude, p);
  p = NextField(p);
  rmc.latHemisphere = *p;
  p = NextField(p);
  FieldText(rmc.longitude, p);
  p = NextField(p);
  rmc.lonHemisphere = *p;
  p = NextField(p);
  FieldText(rmc.speed, p);
  p = NextField(p);
  FieldText(rmc.course, p);
  p = NextField(p);
  FieldText(rmc.date, p);
  p = NextField(p);
  FieldText(rmc.magVariation, p);
  p = NextField(p);
  rmc.magVariationDir = *p;
}

void NmeaReader::DecodeSwv(char* sentence) {
  swv.count = static_cast<WORD>(swv.count + 1);
  swv.tick = GetTickCount();
  const char* p = NextField(static_cast<const char*>(sentence));
  swv.number = static_cast<WORD>(FieldInt(p));
  p = NextField(p);
  FieldText(swv.version, p);
}

void NmeaReader::DecodeCof(char* sentence) {
  cof.count = static_cast<WORD>(cof.count + 1);
  cof.tick = GetTickCount();
  const char* p = NextField(static_cast<const char*>(sentence));
  cof.value = FieldInt(p);
}

// ---- command sentences ----

BYTE NmeaReader::SentenceChecksum(const char* body) {
  BYTE sum = 0;
  if (body == nullptr) return sum;
  for (; *body != '\0'; ++body) sum = static_cast<BYTE>(sum ^ static_cast<BYTE>(*body));
  return sum;
}

bool NmeaReader::SendSentence(const char* body) {
  if (body == nullptr || std::strlen(body) > kMaxCommandBody) return false;
  const int length = std::snprintf(commandBuffer, sizeof commandBuffer, "$%s*%02X\r\n", body,
                                   static_cast<unsigned>(SentenceChecksum(body)));
  if (session == nullptr || length <= 0) return true;
  for (int i = 0; i < length && i < static_cast<int>(sizeof commandBuffer) - 1; ++i) {
    session->WriteByte(static_cast<BYTE>(commandBuffer[i]));
  }
  return true;
}

bool NmeaReader::SendSwitchToBinary(int baudRate) {
  char body[40];
  std::snprintf(body, sizeof body, "PSRF100,0,%d,8,1,0", baudRate);
  return SendSentence(body);
}

bool NmeaReader::SendVersionRequest(WORD selector) {
  char body[20];
  std::snprintf(body, sizeof body, "PSRF200,%u", static_cast<unsigned>(selector));
  return SendSentence(body);
}

bool NmeaReader::SendPsrf202() { return SendSentence("PSRF202"); }

bool NmeaReader::SendRateControl(BYTE message, BYTE rate) {
  char body[30];
  std::snprintf(body, sizeof body, "PSRF103,%u,0,%u,1", static_cast<unsigned>(message),
                static_cast<unsigned>(rate));
  return SendSentence(body);
}

bool NmeaReader::SendNavInit4() { return SendSentence("PSRF104,0,0,0,0,0,0,12,4"); }

bool NmeaReader::SendNavInit2() { return SendSentence("PSRF104,0,0,0,0,0,0,12,2"); }

bool NmeaReader::SendNavInit8() { return SendSentence("PSRF104,0,0,0,0,0,0,12,8"); }

bool NmeaReader::SendNavInitPosition(const NavInitTexts& texts) {
  char body[kMaxCommandBody + 1];
  // Each text is used up to its 11 characters even when it lacks a NUL.
  std::snprintf(body, sizeof body, "PSRF104,%.11s,%.11s,0,0,%.11s,%.11s,12,1", texts.latitude,
                texts.longitude, texts.timeOfWeek, texts.weekNumber);
  return SendSentence(body);
}
