#include "ReceiverVersionQuery.h"

#include "BinaryReader.h"
#include "NmeaReader.h"
#include "SerialSession.h"
#include "WidenAscii.h"

namespace {

// Every wait of the query gives up after this long.
const DWORD kWaitLimitMs = 5000;
// Sleep between two tests for waiting sentences or frames.
const DWORD kPresencePollMs = 100;
// Sleep while waiting for a version sentence and none is queued.
const DWORD kSentencePollMs = 50;
// Sleep while waiting for the version frames and none is queued.
const DWORD kFramePollMs = 100;
// The session runs at this rate; both switches keep it.
const DWORD kLinkBaud = 57600;

const WORD kVersionRequestFirst = 2;
const WORD kVersionRequestSecond = 1;

const UINT kErrorBoxStyle = MB_OK | MB_TOPMOST | MB_SETFOREGROUND;

void ShowError(LPCWSTR message) { MessageBox(nullptr, message, TEXT("Error"), kErrorBoxStyle); }

// Appends at most `sourceChars` characters of `source` (less if it ends
// sooner) behind the text already in `text`, as far as `textChars` allows.
void AppendText(LPWSTR text, DWORD textChars, LPCWSTR source, DWORD sourceChars) {
  DWORD used = 0;
  while (used + 1 < textChars && text[used] != 0) ++used;
  for (DWORD i = 0; i < sourceChars && source[i] != 0 && used + 1 < textChars; ++i)
    text[used++] = source[i];
  text[used] = 0;
}

template <DWORD N>
void AppendText(LPWSTR text, DWORD textChars, const WCHAR (&source)[N]) {
  AppendText(text, textChars, source, N);
}

void SetText(LPWSTR text, DWORD textChars, LPCWSTR source, DWORD sourceChars) {
  text[0] = 0;
  AppendText(text, textChars, source, sourceChars);
}

template <DWORD N>
void SetText(LPWSTR text, DWORD textChars, const WCHAR (&source)[N]) {
  SetText(text, textChars, source, N);
}

// Appends the version text of the reader's last version sentence.
void AppendSentenceVersion(LPWSTR text, DWORD textChars, const SwvRecord& record) {
  char narrow[sizeof record.version + 1];
  for (DWORD i = 0; i < sizeof record.version; ++i) narrow[i] = record.version[i];
  narrow[sizeof record.version] = 0;
  WCHAR wide[sizeof narrow];
  WidenAscii(wide, narrow);
  AppendText(text, textChars, wide);
}

// Waits until the current sentence reader has a sentence queued.
bool WaitForSentence(const ReceiverReaders& readers) {
  const DWORD start = GetTickCount();
  for (;;) {
    NmeaReader* reader = readers.currentReader;
    if (reader != nullptr && reader->HasSentence()) return true;
    if (GetTickCount() - start >= kWaitLimitMs) return false;
    Sleep(kPresencePollMs);
  }
}

// Waits until the binary reader has a frame queued.
bool WaitForFrame(const ReceiverReaders& readers) {
  const DWORD start = GetTickCount();
  for (;;) {
    BinaryReader* reader = readers.binaryReader;
    if (reader != nullptr && reader->HasFrame()) return true;
    if (GetTickCount() - start >= kWaitLimitMs) return false;
    Sleep(kPresencePollMs);
  }
}

// Reads and decodes sentences until the version record's count differs from
// `previous`. Every sentence read is decoded, whatever its kind.
bool WaitForVersionSentence(NmeaReader& reader, WORD previous) {
  char sentence[NmeaReader::kSentenceBufferSize];
  WORD length = 0;
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < kWaitLimitMs) {
    if (reader.ReadSentence(sentence, length)) {
      reader.DecodeSentence(sentence);
      if (reader.Swv().count != previous) return true;
    } else if (!reader.HasSentence()) {
      Sleep(kSentencePollMs);
    }
  }
  return false;
}

}  // namespace

void ReadVersionOverBinary(ReceiverReaders& readers, LPWSTR text, DWORD textChars) {
  if (readers.binaryReader == nullptr) return;
  // Whatever happens here, the receiver is told to go back to NMEA.
  if (text == nullptr || textChars == 0) {
    readers.binaryReader->SwitchToNmea(kLinkBaud);
    return;
  }

  if (!WaitForFrame(readers)) {
    ShowError(TEXT("Failed to go into Sirf Binary"));
    if (readers.binaryReader != nullptr) readers.binaryReader->SwitchToNmea(kLinkBaud);
    return;
  }

  BinaryReader& reader = *readers.binaryReader;
  reader.HasMakerVersion = false;
  reader.HasBaseVersion = false;
  reader.PollSoftwareVersion();

  BYTE frame[BinaryReader::kSlotBytes];
  WORD count = 0;
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < kWaitLimitMs && !(reader.HasMakerVersion && reader.HasBaseVersion)) {
    if (reader.HasFrame()) {
      if (reader.ReadFrame(frame, count)) reader.DispatchFrame(frame, count);
    } else {
      Sleep(kFramePollMs);
    }
  }

  if (reader.HasBaseVersion) {
    SetText(text, textChars, reader.BaseVersion);
    if (reader.HasMakerVersion) {
      AppendText(text, textChars, TEXT(", "), 2);
      AppendText(text, textChars, reader.MakerVersion);
    }
  } else if (reader.HasMakerVersion) {
    AppendText(text, textChars, reader.MakerVersion);
  } else {
    const WCHAR failed[] = TEXT("Failed to get SW Version");
    SetText(text, textChars, failed);
  }

  reader.SwitchToNmea(kLinkBaud);
}

void ReadReceiverVersion(ReceiverReaders& readers, LPWSTR text, DWORD textChars) {
  if (text == nullptr || textChars == 0) return;
  text[0] = 0;
  // Without a session or a sentence reader (after Disconnect) there is no
  // receiver to ask, and the viewer is to stay without a reader.
  if (readers.session == nullptr || readers.currentReader == nullptr) return;

  if (WaitForSentence(readers)) {
    NmeaReader& reader = *readers.currentReader;
    reader.SendVersionRequest(kVersionRequestFirst);
    if (WaitForVersionSentence(reader, 0)) {
      const WORD first = reader.Swv().count;
      AppendSentenceVersion(text, textChars, reader.Swv());
      reader.SendVersionRequest(kVersionRequestSecond);
      if (WaitForVersionSentence(reader, first)) {
        AppendText(text, textChars, TEXT(", "), 2);
        AppendSentenceVersion(text, textChars, reader.Swv());
      }
      return;
    }

    // The receiver speaks NMEA but does not answer the version request:
    // ask it in SiRF binary. The sentence reader goes at once, so that the
    // first frames already reach the binary reader.
    reader.SendSwitchToBinary(kLinkBaud);
    readers.CreateBinaryReader();
    ReadVersionOverBinary(readers, text, textChars);
    readers.CreateCurrentReader();
    if (!WaitForSentence(readers)) ShowError(TEXT("Failed to restore NMEA, Run this program again"));
    return;
  }

  // No NMEA at all: the receiver may already be in binary.
  readers.CreateBinaryReader();
  if (WaitForFrame(readers))
    ReadVersionOverBinary(readers, text, textChars);
  else
    ShowError(TEXT("Failed to get NMEA data\r\nSleeve Comms Error\r\nContact Dovrin Support."));
  readers.CreateCurrentReader();
}
