#pragma once

#include <windows.h>

class SerialSession;
class NmeaReader;
class BinaryReader;

// The viewer's program-wide objects: the one serial session, the sentence
// reader attached to it and, only while the version query talks SiRF
// binary, the binary reader in its place. UI thread only.
//
// At most one of the two readers exists at a time, and it is the session's
// byte sink (each reader attaches itself when constructed and detaches when
// destroyed). A member is set to none before the object it held is deleted,
// and a new object is stored the moment its constructor returns, so a timer
// tick or a paint that runs inside a message box never meets a dead reader.
class ViewerState {
 public:
  static SerialSession* session;
  static NmeaReader* currentReader;
  static BinaryReader* binaryReader;

  // Deletes whichever reader exists, then attaches a new sentence reader to
  // the session and makes it the current reader. False, with no reader at
  // all, when there is no session or the reader could not be made.
  static BOOL CreateCurrentReader();
  // Same for the binary reader.
  static BOOL CreateBinaryReader();

  // Delete the reader, if there is one; the member is none first.
  static void DeleteCurrentReader();
  static void DeleteBinaryReader();

  // Deletes both readers, then the session (which closes the port).
  static void DeleteSession();

 private:
  ViewerState() = delete;
};
