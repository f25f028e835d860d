#pragma once

#include <windows.h>

#include "ReceiverReaders.h"

// Reading the receiver's software version, on the UI thread. The query
// works on the program's readers (ViewerState's in the viewer): it asks in
// NMEA first and, when no version sentence comes, swaps the sentence reader
// for a binary reader, polls the version in SiRF binary and switches the
// receiver back to NMEA. It blocks for up to about 25 seconds and reports
// failures in message boxes (caption "Error").

// Size of the callers' version buffers, terminator included.
inline constexpr DWORD kReceiverVersionChars = 100;

// Fills `text` (room for `textChars` characters, terminator included) with
// the receiver's version, or leaves it empty when none could be read. Never
// writes past `textChars`: a longer version is cut to fit.
void ReadReceiverVersion(ReceiverReaders& readers, LPWSTR text,
                         DWORD textChars = kReceiverVersionChars);

// The binary leg: waits for the receiver's first frame, polls the version,
// composes the text and always tells the receiver to go back to NMEA at
// 57600 baud. Runs only while the binary reader of `readers` is attached.
void ReadVersionOverBinary(ReceiverReaders& readers, LPWSTR text,
                           DWORD textChars = kReceiverVersionChars);
