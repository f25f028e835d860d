#include "ReceiverReaders.h"

#include <new>

#include "BinaryReader.h"
#include "NmeaReader.h"
#include "SerialSession.h"

BOOL ReceiverReaders::CreateCurrentReader() {
  // A reader's destructor clears the session's sink whoever set it, so the
  // old reader goes before the new one attaches.
  DeleteCurrentReader();
  DeleteBinaryReader();
  if (session == nullptr) return FALSE;
  currentReader = new (std::nothrow) NmeaReader(session);
  return currentReader != nullptr;
}

BOOL ReceiverReaders::CreateBinaryReader() {
  DeleteCurrentReader();
  DeleteBinaryReader();
  if (session == nullptr) return FALSE;
  binaryReader = new (std::nothrow) BinaryReader(session);
  return binaryReader != nullptr;
}

void ReceiverReaders::DeleteCurrentReader() {
  NmeaReader* reader = currentReader;
  currentReader = nullptr;
  delete reader;
}

void ReceiverReaders::DeleteBinaryReader() {
  BinaryReader* reader = binaryReader;
  binaryReader = nullptr;
  delete reader;
}

void ReceiverReaders::DeleteSession() {
  DeleteCurrentReader();
  DeleteBinaryReader();
  SerialSession* old = session;
  session = nullptr;
  delete old;
}
