#pragma once

#include <windows.h>

#include <atomic>

#include "ByteSink.h"

// The viewer's one serial port: its name and line settings, the reader
// thread that hands every received byte to the attached sink, and one-byte
// writes.
//
// Threads: every operation is called from one thread (the UI thread); the
// reader thread calls only the sink, and when the device behind the port is
// removed it marks the session no longer open and ends. Once Close or the destructor has
// returned, the reader thread has ended and touches the session no more.
// Close may be called from inside a sink (it then does not wait for its own
// thread); the session must not be destroyed from inside a sink.
class SerialSession {
 public:
  SerialSession(LPCWSTR portName, DWORD baudRate);
  virtual ~SerialSession();

  SerialSession(const SerialSession&) = delete;
  SerialSession& operator=(const SerialSession&) = delete;

  BOOL Reopen();
  BOOL Open(LPCWSTR portName, BOOL reportFailures);
  BOOL Close();
  BOOL IsOpen() const;

  void WriteByte(BYTE value);

  void SetByteSink(ByteSink sink, void* context);
  void ClearByteSink();
  // Hands one received byte to the attached sink under the sink lock (the
  // reader thread does this for every byte it reads); dropped when no sink
  // is attached.
  void DeliverByte(BYTE value);

  void SetPortName(LPCWSTR portName);
  LPCWSTR PortName() const { return portName; }
  DWORD BaudRate() const { return lineSettings.BaudRate; }
  void SetBaudRate(DWORD rate);

  // What the session holds right now, for whoever looks at the live line
  // (the port's state through GetCommState and the like) or at which sink
  // is attached: the port handle (INVALID_HANDLE_VALUE when none), the sink
  // function and its context (null when none). Read them on the UI thread,
  // the one that changes them.
  HANDLE PortHandle() const { return port.load(); }
  ByteSink Sink() const { return sinkFunction; }
  void* SinkContext() const { return sinkContext; }

  static const int kPortNameChars = 19;

 private:

  static DWORD ReaderThread(LPVOID param);
  void StoreName(LPCWSTR name);
  BOOL Fail(BOOL report, LPCWSTR text);
  BOOL FailName(LPCWSTR name, BOOL report);
  void ReleasePort();
  void ImposeLineSettings(DCB& dcb) const;
  static void ReadPortState(HANDLE port, DCB& dcb);
  void JoinReaderThread();
  bool OnReaderThread() const;

  DCB lineSettings;
  WCHAR portName[kPortNameChars + 1];
  bool portNameFits;  // false when the name given did not fit portName
  CRITICAL_SECTION sinkLock;
  std::atomic<HANDLE> port;
  std::atomic<bool> open;
  ByteSink sinkFunction;
  void* sinkContext;
  HANDLE readerThread;  // kept so that Close can wait for the thread to end
};
