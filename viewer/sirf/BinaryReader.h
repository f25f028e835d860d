#pragma once

#include <windows.h>

#include <atomic>

#include "ByteRing.h"
#include "InitParamsRecord.h"
#include "ModeControlRecord.h"
#include "NavDataRecord.h"
#include "NavParamsRecord.h"
#include "SerialSession.h"
#include "TrackerDataRecord.h"

// Degrees in one radian, 180 / pi, set once before the program's main entry.
extern const double DegreesPerRadian;

// Where the frame reader stands in the byte stream.
enum class FrameState : BYTE {
  Hunt = 0,       // waiting for 0xA0
  GotStart1 = 1,  // 0xA0 seen
  InPayload = 2,  // 0xA0 0xA2 seen
  GotEnd1 = 3,    // 0xB0 seen inside a frame
  Complete = 4,   // 0xB0 0xB3 seen
};

// The SiRF binary link: while it exists it is the session's byte sink. The
// serial reader thread hands it every byte (OnByte), which it cuts into
// frames (A0 A2, length, payload, checksum, B0 B3; a frame ends at the first
// B0 B3 pair) and queues in 50 slots; the UI thread reads them out, decodes
// them into the records below and sends frames of its own.
class BinaryReader {
 public:
  static const WORD kSlotCount = 50;
  static const WORD kSlotBytes = 1000;     // largest frame, markers included
  static const WORD kMaxPayload = 992;     // largest payload that fits a frame
  static const DWORD kVersionChars = 50;   // version texts, terminator included
  static const DWORD kAckTimeout = 50;     // tenths of a second

  // Message ids this link receives.
  static const BYTE kMsgNavData = 2;
  static const BYTE kMsgTrackerData = 4;
  static const BYTE kMsgSoftwareVersion = 6;
  static const BYTE kMsgAck = 11;
  static const BYTE kMsgNack = 12;
  static const BYTE kMsgNavParams = 19;
  static const BYTE kMsgCommandParams = 43;

  // Message ids this link sends.
  static const BYTE kInitDataSource = 0x80;
  static const BYTE kSwitchToNmea = 0x81;
  static const BYTE kSetAlmanac = 0x82;
  static const BYTE kPollSoftwareVersion = 0x84;
  static const BYTE kSetDgpsSource = 0x85;
  static const BYTE kSetModeControl = 0x88;
  static const BYTE kSetStaticNavigation = 0x8F;
  static const BYTE kPollAlmanac = 0x92;
  static const BYTE kPollEphemeris = 0x93;
  static const BYTE kFlashUpdate = 0x94;
  static const BYTE kSetEphemeris = 0x95;
  static const BYTE kSetTricklePower = 0x97;
  static const BYTE kPollNavParams = 0x98;
  static const BYTE kSetMessageRate = 0xA6;
  static const BYTE kPollCommandParams = 0xA8;  // for the message id that follows
  static const BYTE kMessage181 = 0xB5;

  // The record a frame was decoded into.
  enum DecodedRecord : BYTE {
    DecodedNone = 0,  // no decoder keeps the frame
    DecodedNavData,
    DecodedTrackerData,
    DecodedMakerVersion,
    DecodedBaseVersion,
    DecodedNavParams,
    DecodedInitParams,
    DecodedModeControl,
  };

  // The fixed forms of ResetReceiver, by the reset configuration they send.
  enum ResetForm : BYTE {
    ResetClearHistory = 0,   // 0x04, cold start
    ResetFactory = 1,        // 0x08
    ResetClearEphemeris = 2, // 0x02, warm start
    ResetDataValid = 3,      // 0x01, use the (zero) position and time
  };

  // Attaches itself to the session as its byte sink (replacing any other).
  // A null session gives a reader that is fed only through OnByte and
  // sends nothing.
  explicit BinaryReader(SerialSession* session);
  // Detaches from the session first: when it returns no byte delivery runs.
  virtual ~BinaryReader();

  BinaryReader(const BinaryReader&) = delete;
  BinaryReader& operator=(const BinaryReader&) = delete;

  // ---- receiving (serial reader thread: OnByte; UI thread: the rest) ----
  static void OnByte(BYTE value, void* context);
  // Frames `data` as OnByte would frame each of its bytes in turn, under one
  // hold of the lock, and stops after the byte that queues a frame: answers
  // how many bytes were taken (`size` when none queued one).
  DWORD OnBytes(const BYTE* data, DWORD size);
  bool HasFrame() const;
  // Takes the oldest frame into buffer (room for kSlotBytes); count gets its
  // length. True when it passed the checksum test; false when it failed or
  // when no frame was waiting (count is then left alone).
  bool ReadFrame(BYTE* buffer, WORD& count);
  void ResetFrames();
  // Checksum test of a frame of count bytes. A frame shorter than its length
  // field claims fails.
  static bool FrameChecksumValid(const BYTE* frame, DWORD count);

  // ---- decoding (UI thread) ----
  // Hands a frame as ReadFrame delivered it to the decoder of its message
  // and answers which record it filled.
  DecodedRecord DispatchFrame(const BYTE* frame, WORD count);
  static void EcefToGeodetic(LONG x, LONG y, LONG z, double& latitude, double& longitude,
                             double& height);

  // ---- sending (UI thread) ----
  // Frames the payload (1 to kMaxPayload bytes) and writes it to the session.
  // A longer payload is refused: nothing is written and the answer is false.
  bool SendFrame(const BYTE* payload, WORD length);
  // 15-bit sum of the length payload bytes of a frame.
  static WORD FrameChecksum(const BYTE* frame, WORD length);
  // "%02X" per byte, no separators; text needs 2 x count + 1 characters.
  static void FormatHex(const BYTE* bytes, DWORD count, LPWSTR text);
  // Timeouts in tenths of a second.
  bool WaitForMessage(BYTE messageId, BYTE* buffer, WORD& count, DWORD timeout);
  bool WaitForAck(BYTE messageId, DWORD timeout);

  bool PollSoftwareVersion();
  bool PollInitParams();
  bool PollModeControl();
  bool PollNavParams();
  bool PollEphemeris();
  bool PollAlmanac();
  bool SwitchToNmea(DWORD baud);
  bool SetAlmanac(const BYTE* data);     // 896 bytes
  bool SetEphemeris(const BYTE* data);   // 90 bytes
  bool SendMessage181(BYTE value);
  bool TricklePresetA();
  bool TricklePresetB();
  bool SetDgpsSourceOne();
  bool SetDgpsSourceNone();
  bool ResetReceiver(ResetForm form);
  bool InitDataSource(const InitParamsRecord& record);
  bool SetTricklePower(DWORD dutyCycle, DWORD onTime);
  bool SetMessageRate(BYTE messageId, BYTE rate);
  bool SetStaticNavigation(BYTE flag);
  bool SetModeControl(const ModeControlRecord& record);
  bool FlashUpdate();

  // ---- decoded receiver data (UI thread) ----
  NavDataRecord NavData;
  TrackerDataRecord TrackerData;
  WCHAR MakerVersion[kVersionChars];
  bool HasMakerVersion;
  WCHAR BaseVersion[kVersionChars];
  bool HasBaseVersion;
  InitParamsRecord InitParams;
  ModeControlRecord ModeControl;
  NavParamsRecord NavParams;
  bool HasCommandParams;
  bool HasNavParams;

 private:
  bool StepFraming(BYTE value);
  void BeginFrame();
  ByteRing* FillSlot() const;
  void TakeByte(BYTE value);
  void StepByte(BYTE value);  // TakeByte's work, with the lock held
  bool WaitFor(BYTE messageId, bool forAck, BYTE* buffer, WORD& count, DWORD timeout);
  bool SendAndAck(const BYTE* payload, WORD length);

  void DecodeNavData(const BYTE* payload);
  void DecodeTrackerData(const BYTE* payload);
  DecodedRecord DecodeVersion(const BYTE* payload, WORD length);
  void DecodeNavParams(const BYTE* payload);
  void DecodeInitParams(const BYTE* payload);
  void DecodeModeControl(const BYTE* payload);

  SerialSession* session;
  WORD transmitLength;
  CRITICAL_SECTION lock;
  WORD writeIndex;
  WORD readIndex;
  FrameState state;
  bool dropping;  // the frame being framed arrived while every slot was taken
  WORD droppedBytes;  // bytes of that frame so far, held to a slot's limit
  BYTE transmit[kSlotBytes];
  ByteRing* slots[kSlotCount];
  std::atomic<DWORD> pending;
};
