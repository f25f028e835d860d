#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>

#include "ByteRing.h"
#include "CofRecord.h"
#include "GgaRecord.h"
#include "GsaRecord.h"
#include "GsvRecord.h"
#include "NavInitTexts.h"
#include "RmcRecord.h"
#include "SerialSession.h"
#include "SwvRecord.h"

// The NMEA side of the receiver link. The serial reader thread feeds bytes
// to OnByte, which frames sentences from "$" to CR LF into a queue of
// slots; the UI thread takes them out with ReadSentence (which checks length
// and checksum), decodes them into the six receiver records with
// DecodeSentence, and sends the receiver's command sentences.
//
// Threads: OnByte runs on the serial reader thread under the session's sink
// lock and takes the reader's own lock inside it. Everything else runs on the
// UI thread. HasSentence takes no lock.
class NmeaReader {
 public:
  static const WORD kSlotCount = 15;
  static const WORD kSlotCapacity = 100;
  // A sentence is accepted only when shorter than this (CR LF included).
  static const WORD kMaxSentence = 100;
  // Size the buffer given to ReadSentence must have at least.
  static const WORD kSentenceBufferSize = 101;
  // Room for one command sentence as SendSentence frames it.
  static const WORD kCommandBufferSize = 100;
  // Longest body SendSentence can frame: "$" body "*hh" CR LF NUL in the buffer.
  static const WORD kMaxCommandBody = kCommandBufferSize - 7;

  enum FrameState { Idle = 0, InSentence = 1, GotCr = 2, Complete = 3 };

  // Attaches itself as the session's byte sink; does not touch the port.
  // A null session gives a reader that is fed only through OnByte.
  explicit NmeaReader(SerialSession* session);
  virtual ~NmeaReader();

  NmeaReader(const NmeaReader&) = delete;
  NmeaReader& operator=(const NmeaReader&) = delete;

  // ---- sentence queue ----
  // The byte sink; `context` is the NmeaReader.
  static void OnByte(BYTE value, void* context);
  // Frames `data` as OnByte would frame each of its bytes in turn, under one
  // hold of the lock, and stops after the byte that queues a sentence:
  // answers how many bytes were taken (`size` when none queued one).
  DWORD OnBytes(const BYTE* data, DWORD size);
  bool HasSentence() const;
  // Takes the oldest complete sentence into `buffer` (at least
  // kSentenceBufferSize bytes), NUL-terminated and still ending in CR LF,
  // with its byte count in `length`. False when the queue is empty (length
  // untouched), or when the sentence taken is too long or fails its
  // checksum (it is gone all the same; length tells how many bytes came).
  bool ReadSentence(char* buffer, WORD& length);
  static bool ChecksumValid(const char* sentence);
  // Empties the queue and waits for "$" again; the records are kept.
  void Reset();
  // Makes this reader the session's byte sink again.
  void Reattach();

  // ---- decoding into the receiver records ----
  // `sentence` is an accepted sentence from ReadSentence; it is left as it was.
  void DecodeSentence(char* sentence);
  void DecodeGga(char* sentence);
  void DecodeGsa(char* sentence);
  void DecodeGsv(char* sentence);
  void DecodeRmc(char* sentence);
  void DecodeSwv(char* sentence);
  void DecodeCof(char* sentence);

  const GgaRecord& Gga() const { return gga; }
  const GsaRecord& Gsa() const { return gsa; }
  const GsvRecord& Gsv() const { return gsv; }
  const RmcRecord& Rmc() const { return rmc; }
  const SwvRecord& Swv() const { return swv; }
  const CofRecord& Cof() const { return cof; }

  // ---- field operations ----
  // True when the text after the first "$" begins with `id` (a prefix test).
  static bool SentenceIdIs(const char* id, const char* sentence);
  // Start of the field after the one at `position`; at the end of the
  // fields ("*", CR, LF or NUL) the position of that character.
  static char* NextField(char* position);
  static const char* NextField(const char* position);
  // Characters from `position` up to the field's delimiter.
  static int FieldLength(const char* position);
  // Decimal value of the field: leading white space, optional sign, digits.
  // Values beyond 32 bits wrap. The text is not changed.
  static LONG FieldInt(const char* position);
  // Copies the field into `destination` of `capacity` bytes, cut to fit,
  // always NUL-terminated (nothing is written when capacity is 0).
  static void FieldText(char* destination, size_t capacity, const char* position);
  template <size_t N>
  static void FieldText(char (&destination)[N], const char* position) {
    FieldText(destination, N, position);
  }

  // ---- receiver command sentences ----
  // Frames `body` as "$body*hh" CR LF and writes it byte by byte to the
  // session. A body longer than kMaxCommandBody (or a null body) is not
  // sent and gives false; otherwise true, whether or not the port is open.
  bool SendSentence(const char* body);
  static BYTE SentenceChecksum(const char* body);
  bool SendSwitchToBinary(int baudRate);            // "PSRF100,0,<baud>,8,1,0"
  bool SendVersionRequest(WORD selector);           // "PSRF200,<selector>"
  bool SendPsrf202();                               // "PSRF202"
  bool SendRateControl(BYTE message, BYTE rate);    // "PSRF103,<msg>,0,<rate>,1"
  bool SendNavInit4();                              // "PSRF104,0,0,0,0,0,0,12,4"
  bool SendNavInit2();                              // "PSRF104,0,0,0,0,0,0,12,2"
  bool SendNavInit8();                              // "PSRF104,0,0,0,0,0,0,12,8"
  bool SendNavInitPosition(const NavInitTexts& texts);  // "PSRF104,lat,lon,0,0,tow,wk,12,1"

 private:
  void Frame(BYTE value);
  void FrameOutsideSentence(BYTE value);  // Frame for a byte outside a sentence's body

  GgaRecord gga;
  GsaRecord gsa;
  GsvRecord gsv;
  RmcRecord rmc;
  SwvRecord swv;
  CofRecord cof;

  SerialSession* session;
  // Written under the lock; read without it by HasSentence and the first
  // test of ReadSentence.
  std::atomic<WORD> writeSlot;
  std::atomic<WORD> readSlot;
  FrameState frameState;
  ByteRing* slots[kSlotCount];
  char commandBuffer[kCommandBufferSize];
  CRITICAL_SECTION lock;
};
