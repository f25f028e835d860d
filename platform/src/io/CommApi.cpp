// The serial communications calls on ports that CreateFile opened. Each call
// becomes one serial I/O control that the port serves: a port of a stream
// driver (the sleeve's client serial driver) hands it to the driver's
// IOControl, a host port serves it itself.
#include <memory>

#include "SerialPort.h"
#include "StreamDeviceFile.h"
#include "handheld.h"

using handheld::detail::FileObject;
using handheld::detail::HandleTable;
using handheld::detail::ReportStatus;
using handheld::detail::SerialPort;
using handheld::detail::StreamDeviceFile;

namespace {

// One serial I/O control and its buffers. A code of 0 stands for a call
// that names no request (an unknown escape function).
struct CommRequest {
  DWORD code;
  const void* in;
  DWORD inBytes;
  void* out;
  DWORD outBytes;
};

CommRequest Command(DWORD code) { return {code, nullptr, 0, nullptr, 0}; }

template <class T>
CommRequest In(DWORD code, const T* value) {
  return {code, value, sizeof(T), nullptr, 0};
}

template <class T>
CommRequest Out(DWORD code, T* value) {
  return {code, nullptr, 0, value, sizeof(T)};
}

// The port behind `h`: a host port or an open of a stream driver; no other
// file is a port.
std::shared_ptr<FileObject> LookupPort(HANDLE h) {
  auto object = HandleTable::Lookup(h);
  if (auto port = std::dynamic_pointer_cast<SerialPort>(object)) return port;
  if (auto stream = std::dynamic_pointer_cast<StreamDeviceFile>(object)) return stream;
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

// ERROR_INVALID_HANDLE before ERROR_INVALID_PARAMETER (a missing buffer),
// whatever kind of port it is.
BOOL Send(HANDLE h, const CommRequest& request) {
  std::shared_ptr<FileObject> port = LookupPort(h);
  if (!port) return FALSE;
  if (!request.code || (request.inBytes && !request.in) || (request.outBytes && !request.out)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD returned = 0;
  return ReportStatus(port->IoControl(request.code, const_cast<void*>(request.in),
                                      request.inBytes, request.out, request.outBytes,
                                      &returned));
}

DWORD EscapeCode(DWORD function) {
  switch (function) {
    case SETXOFF: return IOCTL_SERIAL_SET_XOFF;
    case SETXON: return IOCTL_SERIAL_SET_XON;
    case SETRTS: return IOCTL_SERIAL_SET_RTS;
    case CLRRTS: return IOCTL_SERIAL_CLR_RTS;
    case SETDTR: return IOCTL_SERIAL_SET_DTR;
    case CLRDTR: return IOCTL_SERIAL_CLR_DTR;
    case SETBREAK: return IOCTL_SERIAL_SET_BREAK_ON;
    case CLRBREAK: return IOCTL_SERIAL_SET_BREAK_OFF;
    default: return 0;
  }
}

std::shared_ptr<SerialPort> LookupHostPort(HANDLE h) {
  std::shared_ptr<SerialPort> port = HandleTable::LookupAs<SerialPort>(h);
  if (!port) SetLastError(ERROR_INVALID_HANDLE);
  return port;
}

}  // namespace

BOOL GetCommState(HANDLE h, LPDCB dcb) { return Send(h, Out(IOCTL_SERIAL_GET_DCB, dcb)); }

BOOL SetCommState(HANDLE h, LPDCB dcb) { return Send(h, In(IOCTL_SERIAL_SET_DCB, dcb)); }

BOOL GetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts) {
  return Send(h, Out(IOCTL_SERIAL_GET_TIMEOUTS, timeouts));
}

BOOL SetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts) {
  return Send(h, In(IOCTL_SERIAL_SET_TIMEOUTS, timeouts));
}

BOOL SetCommMask(HANDLE h, DWORD mask) { return Send(h, In(IOCTL_SERIAL_SET_WAIT_MASK, &mask)); }

BOOL GetCommMask(HANDLE h, LPDWORD mask) { return Send(h, Out(IOCTL_SERIAL_GET_WAIT_MASK, mask)); }

BOOL WaitCommEvent(HANDLE h, LPDWORD mask, LPOVERLAPPED) {
  if (mask) *mask = 0;
  return Send(h, Out(IOCTL_SERIAL_WAIT_ON_MASK, mask));
}

BOOL PurgeComm(HANDLE h, DWORD flags) { return Send(h, In(IOCTL_SERIAL_PURGE, &flags)); }

BOOL EscapeCommFunction(HANDLE h, DWORD function) {
  return Send(h, Command(EscapeCode(function)));
}

BOOL GetCommModemStatus(HANDLE h, LPDWORD status) {
  return Send(h, Out(IOCTL_SERIAL_GET_MODEMSTATUS, status));
}

namespace handheld {

bool GetSerialLines(HANDLE h, SerialLines* lines) {
  std::shared_ptr<SerialPort> port = LookupHostPort(h);
  if (!port || !lines) return false;
  *lines = port->Lines();
  return true;
}

bool SetFarEndLines(HANDLE h, const FarEndLines& lines) {
  std::shared_ptr<SerialPort> port = LookupHostPort(h);
  if (!port) return false;
  port->SetFarEnd(lines);
  return true;
}

}  // namespace handheld
