#pragma once

#include <windows.h>

#include "ReceiverReaders.h"

// The viewer's program-wide objects: the one serial session, the sentence
// reader attached to it and, only while the version query talks SiRF
// binary, the binary reader in its place. UI thread only.
//
// The members are replaced by the rules of ReceiverReaders (at most one
// reader, the session's sink; a member is none before its object is
// deleted, and set the moment a new one is made), through which the
// version query works on them too.
class ViewerState {
 public:
  static SerialSession* session;
  static NmeaReader* currentReader;
  static BinaryReader* binaryReader;

  // The three members, as the version query takes them.
  static ReceiverReaders& Readers();

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
