#pragma once

#include <windows.h>

// Starts the receiver link as the viewer does: finds the receiver's port
// under Drivers\Active, makes the session at 57600 baud with a sentence
// reader in ViewerState, opens the port and reads the receiver's software
// version into `version` (kReceiverVersionChars characters). `port`
// receives the port's name. False when no port is listed or it does not
// open (said on standard error, after `tool`); nothing is left in
// ViewerState then. Otherwise the caller ends with ViewerState::DeleteSession.
bool StartReceiverLink(const char* tool, WCHAR (&port)[25], LPWSTR version);
