#pragma once

#include <windows.h>

#include <atomic>

#include "ByteSink.h"

// The viewer's one serial port: its name and line settings, the reader
// thread that hands every received byte to the attached sink, and one-byte
// writes.
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

  void SetPortName(LPCWSTR portName);
  LPCWSTR PortName() const { return portName; }
  DWORD BaudRate() const { return lineSettings.BaudRate; }
  void SetBaudRate(DWORD rate);

  static const int kPortNameChars = 19;

 private:
  static DWORD ReaderThread(LPVOID param);

  DCB lineSettings;
  WCHAR portName[kPortNameChars + 1];
  CRITICAL_SECTION sinkLock;
  std::atomic<HANDLE> port;
  bool open;
  ByteSink sinkFunction;
  void* sinkContext;
  HANDLE readerThread;  // kept so that Close can wait for the thread to end
};
