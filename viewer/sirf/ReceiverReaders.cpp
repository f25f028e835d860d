#include "ReceiverReaders.h"

#include <new>

#include "BinaryReader.h"
#include "NmeaReader.h"
#include "SerialSession.h"

namespace {

// Puts a new reader of the session in `slot`, whichever reader there was
// gone first: a reader's destructor clears the session's sink whoever set
// it, so the old reader goes before the new one attaches.
template <typename Reader>
BOOL Replace(ReceiverReaders& readers, Reader*& slot) {
  readers.DeleteCurrentReader();
  readers.DeleteBinaryReader();
  if (readers.session == nullptr) return FALSE;
  slot = new (std::nothrow) Reader(readers.session);
  return slot != nullptr;
}

}  // namespace

BOOL ReceiverReaders::CreateCurrentReader() { return Replace(*this, currentReader); }

BOOL ReceiverReaders::CreateBinaryReader() { return Replace(*this, binaryReader); }

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
