#pragma once

#include <windows.h>

// Looks through the drivers listed under HKEY_LOCAL_MACHINE\Drivers\Active
// for the GPS receiver's serial port: the first driver loaded by the sleeve
// bus driver for a sleeve of family 0100, or a card whose plug-and-play
// identity names the receiver maker. Writes its device name ("COM3:") into
// `portText` (at most `bufferBytes` bytes, terminator included) and returns
// TRUE; otherwise leaves "COM1:" there, which means no receiver, and
// returns FALSE.
BOOL FindReceiverPort(LPWSTR portText, DWORD bufferBytes);

// Room the viewer gives the port's name at start-up and on Reconnect, in
// wide characters (terminator included).
inline constexpr DWORD kReceiverPortChars = 25;
