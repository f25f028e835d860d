#include "SerialSession.h"

#include "CriticalSectionLock.h"

namespace {

// The session whose reader thread runs on the calling thread, if any.
thread_local const SerialSession* servedSession = nullptr;

// A message line holds the longest text the formatter produces.
const int kMessageChars = 1024;
// Longest part of a rejected name shown in the open failure message.
const int kShownNameChars = 256;
// Pause before a failed wait for characters is tried again.
const DWORD kWaitRetryMs = 500;

}  // namespace

SerialSession::SerialSession(LPCWSTR name, DWORD baudRate)
    : lineSettings(),
      portName(),
      portNameFits(true),
      port(INVALID_HANDLE_VALUE),
      open(false),
      sinkFunction(nullptr),
      sinkContext(nullptr),
      readerThread(nullptr) {
  StoreName(name);

  lineSettings.DCBlength = sizeof(DCB);
  lineSettings.BaudRate = baudRate;
  lineSettings.fBinary = 1;
  lineSettings.fParity = 1;
  lineSettings.fOutxCtsFlow = 0;
  lineSettings.fOutxDsrFlow = 0;
  lineSettings.fDtrControl = DTR_CONTROL_ENABLE;
  lineSettings.fDsrSensitivity = 0;
  lineSettings.fTXContinueOnXoff = 1;
  lineSettings.fOutX = 0;
  lineSettings.fInX = 0;
  lineSettings.fErrorChar = 0;
  lineSettings.fNull = 0;
  lineSettings.fRtsControl = RTS_CONTROL_ENABLE;
  lineSettings.fAbortOnError = 0;
  lineSettings.ByteSize = 8;
  lineSettings.Parity = NOPARITY;
  lineSettings.StopBits = ONESTOPBIT;

  InitializeCriticalSection(&sinkLock);
}

SerialSession::~SerialSession() {
  Close();
  DeleteCriticalSection(&sinkLock);
}

// Keeps at most kPortNameChars characters. A longer name is remembered as
// not fitting, so that Reopen refuses it instead of opening the truncated
// name, which may be another port.
void SerialSession::StoreName(LPCWSTR name) {
  if (name == nullptr) {
    portName[0] = 0;
    portNameFits = false;
    return;
  }
  lstrcpyn(portName, name, kPortNameChars + 1);
  portNameFits = lstrlen(name) <= kPortNameChars;
}

void SerialSession::SetPortName(LPCWSTR name) { StoreName(name); }

BOOL SerialSession::Reopen() {
  if (!portNameFits) {
    open = false;
    ReleasePort();
    return FailName(portName, TRUE);
  }
  return Open(portName, TRUE);
}

BOOL SerialSession::IsOpen() const { return open ? TRUE : FALSE; }

bool SerialSession::OnReaderThread() const { return servedSession == this; }

BOOL SerialSession::Fail(BOOL report, LPCWSTR text) {
  if (report) MessageBox(NULL, text, TEXT("Error"), MB_OK);
  return FALSE;
}

// A name longer than the port name field is never opened, neither whole nor
// cut short. It fails like a port that cannot be opened, with the
// platform's code for a malformed name, ERROR_INVALID_NAME (123).
BOOL SerialSession::FailName(LPCWSTR name, BOOL report) {
  SetLastError(ERROR_INVALID_NAME);
  if (!report) return FALSE;
  WCHAR shown[kShownNameChars + 1];
  lstrcpyn(shown, name != nullptr ? name : TEXT(""), kShownNameChars + 1);
  WCHAR text[kMessageChars];
  wsprintf(text, TEXT("  Unable to open the port %s, Last Error %d"), shown,
           static_cast<int>(ERROR_INVALID_NAME));
  return Fail(report, text);
}

// Closes whatever port is still recorded (a half-open one, or an open one
// when Open is called out of turn) and waits for its reader thread.
void SerialSession::ReleasePort() {
  HANDLE held = port.exchange(INVALID_HANDLE_VALUE);
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  JoinReaderThread();
}

// The port must already be closed: that ends the thread's pending wait or
// read at once, and the thread then finds the handle invalid and returns.
// On the reader thread itself (Close called from a sink) there is nothing
// to wait for; the handle stays recorded for the next Close or Open on
// another thread.
void SerialSession::JoinReaderThread() {
  if (OnReaderThread() || readerThread == nullptr) return;
  WaitForSingleObject(readerThread, INFINITE);
  CloseHandle(readerThread);
  readerThread = nullptr;
}

// The port's current record (whatever GetCommState answers; zeros if it
// cannot), its length field set.
void SerialSession::ReadPortState(HANDLE live, DCB& dcb) {
  dcb = DCB{};
  dcb.DCBlength = sizeof(DCB);
  GetCommState(live, &dcb);
  dcb.DCBlength = sizeof(DCB);
}

// Copies the session's own settings into a port's record, one field at a
// time; everything else (the XON/XOFF limits and characters, flag bits 15
// to 31) stays as the port has it.
void SerialSession::ImposeLineSettings(DCB& dcb) const {
  dcb.BaudRate = lineSettings.BaudRate;
  dcb.fBinary = lineSettings.fBinary;
  dcb.fParity = lineSettings.fParity;
  dcb.fOutxCtsFlow = lineSettings.fOutxCtsFlow;
  dcb.fOutxDsrFlow = lineSettings.fOutxDsrFlow;
  dcb.fDtrControl = lineSettings.fDtrControl;
  dcb.fDsrSensitivity = lineSettings.fDsrSensitivity;
  dcb.fTXContinueOnXoff = lineSettings.fTXContinueOnXoff;
  dcb.fOutX = lineSettings.fOutX;
  dcb.fInX = lineSettings.fInX;
  dcb.fErrorChar = lineSettings.fErrorChar;
  dcb.fNull = lineSettings.fNull;
  dcb.fRtsControl = lineSettings.fRtsControl;
  dcb.fAbortOnError = lineSettings.fAbortOnError;
  dcb.ByteSize = lineSettings.ByteSize;
  dcb.Parity = lineSettings.Parity;
  dcb.StopBits = lineSettings.StopBits;
}

BOOL SerialSession::Open(LPCWSTR name, BOOL report) {
  open = false;
  ReleasePort();

  if (name == nullptr || lstrlen(name) > kPortNameChars) return FailName(name, report);

  HANDLE opened = CreateFile(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  port = opened;
  if (opened == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (!report) return FALSE;
    WCHAR text[kMessageChars];
    wsprintf(text, TEXT("  Unable to open the port %s, Last Error %d"), name,
             static_cast<int>(error));
    return Fail(report, text);
  }

  DCB dcb;
  ReadPortState(opened, dcb);
  ImposeLineSettings(dcb);
  if (!SetCommState(opened, &dcb)) return Fail(report, TEXT("Unable to configure serial port"));

  COMMTIMEOUTS timeouts = {};
  GetCommTimeouts(opened, &timeouts);
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 100;
  timeouts.ReadTotalTimeoutConstant = 3000;
  timeouts.WriteTotalTimeoutMultiplier = 10;
  timeouts.WriteTotalTimeoutConstant = 1000;
  if (!SetCommTimeouts(opened, &timeouts)) return Fail(report, TEXT("Unable to set time-out params"));

  // Reopened from a sink, the running reader thread carries on with the new
  // port: there is never more than one reader thread.
  if (!OnReaderThread()) {
    HANDLE thread = CreateThread(NULL, 0, ReaderThread, this, 0, NULL);
    if (thread == NULL) return Fail(report, TEXT("Unable to create read thread"));
    readerThread = thread;
  }

  open = true;
  return TRUE;
}

BOOL SerialSession::Close() {
  ClearByteSink();
  open = false;
  HANDLE held = port.exchange(INVALID_HANDLE_VALUE);
  BOOL closed = FALSE;
  if (held != INVALID_HANDLE_VALUE) closed = CloseHandle(held) ? TRUE : FALSE;
  JoinReaderThread();
  return closed;
}

void SerialSession::WriteByte(BYTE value) {
  DWORD written = 0;
  WriteFile(port.load(), &value, 1, &written, NULL);
}

void SerialSession::SetByteSink(ByteSink sink, void* context) {
  CriticalSectionLock hold(&sinkLock);
  sinkFunction = sink;
  sinkContext = context;
}

void SerialSession::ClearByteSink() {
  CriticalSectionLock hold(&sinkLock);
  sinkFunction = nullptr;
  sinkContext = nullptr;
}

void SerialSession::DeliverByte(BYTE value) {
  CriticalSectionLock hold(&sinkLock);
  if (sinkFunction != nullptr) sinkFunction(value, sinkContext);
}

void SerialSession::SetBaudRate(DWORD rate) {
  HANDLE live = port.load();
  if (live == INVALID_HANDLE_VALUE) return;
  DCB dcb;
  ReadPortState(live, dcb);
  dcb.BaudRate = rate;
  if (!SetCommState(live, &dcb)) MessageBox(NULL, TEXT("Unable to set baud rate"), TEXT("Error"), MB_OK);
}

// Waits for received characters and hands them to the sink one byte at a
// time. Each pass works on the handle it found; a closed handle makes the
// wait or read fail at once, and the next test of the port ends the thread.
DWORD SerialSession::ReaderThread(LPVOID param) {
  SerialSession* session = static_cast<SerialSession*>(param);
  servedSession = session;
  for (;;) {
    HANDLE live = session->port.load();
    if (live == INVALID_HANDLE_VALUE) break;
    SetCommMask(live, EV_RXCHAR);
    DWORD events = 0;
    if (!WaitCommEvent(live, &events, NULL)) {
      // A closed or replaced port is looked at again at once.
      if (session->port.load() != live) continue;
      // A removed device (the receiver unplugged or gone) fails every call
      // on this handle for good: the session is no longer open, so that
      // Reconnect opens the port again, and the thread ends instead of
      // asking again. Any other failure is retried, without spinning.
      if (GetLastError() == ERROR_DEVICE_REMOVED) {
        session->open = false;
        break;
      }
      Sleep(kWaitRetryMs);
      continue;
    }
    if ((events & EV_RXCHAR) == 0) continue;
    for (;;) {
      BYTE value = 0;
      DWORD got = 0;
      if (!ReadFile(live, &value, 1, &got, NULL) || got != 1) break;
      session->DeliverByte(value);
    }
  }
  servedSession = nullptr;
  return 0;
}
