#include "ViewerState.h"

SerialSession* ViewerState::session = nullptr;
NmeaReader* ViewerState::currentReader = nullptr;
BinaryReader* ViewerState::binaryReader = nullptr;

namespace {

constinit ReceiverReaders readers(ViewerState::session, ViewerState::currentReader,
                                  ViewerState::binaryReader);

}  // namespace

ReceiverReaders& ViewerState::Readers() { return readers; }

BOOL ViewerState::CreateCurrentReader() { return readers.CreateCurrentReader(); }

BOOL ViewerState::CreateBinaryReader() { return readers.CreateBinaryReader(); }

void ViewerState::DeleteCurrentReader() { readers.DeleteCurrentReader(); }

void ViewerState::DeleteBinaryReader() { readers.DeleteBinaryReader(); }

void ViewerState::DeleteSession() { readers.DeleteSession(); }
