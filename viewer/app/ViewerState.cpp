#include "ViewerState.h"

#include <new>

#include "BinaryReader.h"
#include "NmeaReader.h"
#include "SerialSession.h"

SerialSession* ViewerState::session = nullptr;
NmeaReader* ViewerState::currentReader = nullptr;
BinaryReader* ViewerState::binaryReader = nullptr;

BOOL ViewerState::CreateCurrentReader() {
  // A reader's destructor clears the session's sink whoever set it, so the
  // old reader goes before the new one attaches.
  DeleteCurrentReader();
  DeleteBinaryReader();
  if (session == nullptr) return FALSE;
  currentReader = new (std::nothrow) NmeaReader(session);
  return currentReader != nullptr;
}

BOOL ViewerState::CreateBinaryReader() {
  DeleteCurrentReader();
  DeleteBinaryReader();
  if (session == nullptr) return FALSE;
  binaryReader = new (std::nothrow) BinaryReader(session);
  return binaryReader != nullptr;
}

void ViewerState::DeleteCurrentReader() {
  NmeaReader* reader = currentReader;
  currentReader = nullptr;
  delete reader;
}

void ViewerState::DeleteBinaryReader() {
  BinaryReader* reader = binaryReader;
  binaryReader = nullptr;
  delete reader;
}

void ViewerState::DeleteSession() {
  DeleteCurrentReader();
  DeleteBinaryReader();
  SerialSession* old = session;
  session = nullptr;
  delete old;
}
