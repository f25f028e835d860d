#include "ReceiverLink.h"

#include <cstdio>

#include "FindReceiverPort.h"
#include "ReceiverVersionQuery.h"
#include "SerialSession.h"
#include "ViewerState.h"

bool StartReceiverLink(const char* tool, WCHAR (&port)[25], LPWSTR version) {
  const DWORD kBaudRate = 57600;
  FindReceiverPort(port, sizeof port);
  if (lstrcmp(port, TEXT("COM1:")) == 0) {
    std::fprintf(stderr, "%s: no receiver port listed\n", tool);
    return false;
  }
  ViewerState::session = new SerialSession(port, kBaudRate);
  ViewerState::CreateCurrentReader();
  if (!ViewerState::session->Reopen()) {
    // The session has said why in a message box.
    ViewerState::DeleteSession();
    return false;
  }
  ReadReceiverVersion(version);
  return true;
}
