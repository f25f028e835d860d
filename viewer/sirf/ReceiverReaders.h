#pragma once

#include <windows.h>

class SerialSession;
class NmeaReader;
class BinaryReader;

// Where a program keeps its serial session and the reader attached to it,
// as the version query works on them: references to the program's own
// three pointers (ViewerState's in the viewer), and the one way of
// replacing a reader. UI thread only.
//
// At most one of the two readers exists at a time, and it is the session's
// byte sink (each reader attaches itself when constructed and detaches when
// destroyed). A pointer is set to none before the object it held is
// deleted, and a new object is stored the moment its constructor returns,
// so a timer tick or a paint that runs inside a message box never meets a
// dead reader.
class ReceiverReaders {
 public:
  constexpr ReceiverReaders(SerialSession*& session, NmeaReader*& currentReader,
                            BinaryReader*& binaryReader)
      : session(session), currentReader(currentReader), binaryReader(binaryReader) {}

  // Deletes whichever reader exists, then attaches a new sentence reader to
  // the session and makes it the current reader. False, with no reader at
  // all, when there is no session or the reader could not be made.
  BOOL CreateCurrentReader();
  // Same for the binary reader.
  BOOL CreateBinaryReader();

  // Delete the reader, if there is one; the pointer is none first.
  void DeleteCurrentReader();
  void DeleteBinaryReader();

  // Deletes both readers, then the session (which closes the port).
  void DeleteSession();

  SerialSession*& session;
  NmeaReader*& currentReader;
  BinaryReader*& binaryReader;
};
