#pragma once

#include <windows.h>

#include <string>

#include "FindReceiverPort.h"

// Says on standard error, after `tool`, why the handheld's registry hive
// cannot be used (its path and the reason) and answers false; true when it
// can be used.
bool CheckHive(const char* tool);

// Says on standard error, after `tool`, that `hostDevice` exists but is not
// a terminal, and answers false; true otherwise (a device that does not
// exist is left to the port's own open, which reports it).
bool CheckHostDevice(const char* tool, const std::string& hostDevice);

// Starts the receiver link as the viewer does: finds the receiver's port
// under Drivers\Active, makes the session at 57600 baud with a sentence
// reader in ViewerState, opens the port and reads the receiver's software
// version into `version` (kReceiverVersionChars characters). `port`
// receives the port's name. False when the hive cannot be used, no port is
// listed or it does not open (said on standard error, after `tool`);
// nothing is left in ViewerState then. Otherwise the caller ends with
// ViewerState::DeleteSession.
bool StartReceiverLink(const char* tool, WCHAR (&port)[kReceiverPortChars], LPWSTR version);
