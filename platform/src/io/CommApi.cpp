// The serial communications calls on ports that CreateFile opened.
#include <memory>

#include "SerialPort.h"
#include "StreamDeviceFile.h"
#include "handheld.h"

using handheld::detail::HandleTable;
using handheld::detail::ReportStatus;
using handheld::detail::SerialPort;
using handheld::detail::StreamDeviceFile;

namespace {

std::shared_ptr<SerialPort> LookupPort(HANDLE h) {
  std::shared_ptr<SerialPort> port = HandleTable::LookupAs<SerialPort>(h);
  if (!port) SetLastError(ERROR_INVALID_HANDLE);
  return port;
}

// A port served by a stream driver (the sleeve's client serial driver): each
// call reaches the driver as its serial I/O control.
std::shared_ptr<StreamDeviceFile> LookupStreamPort(HANDLE h) {
  return HandleTable::LookupAs<StreamDeviceFile>(h);
}

BOOL Control(const std::shared_ptr<StreamDeviceFile>& port, DWORD code, const void* in,
             DWORD inBytes, void* out, DWORD outBytes) {
  DWORD returned = 0;
  return ReportStatus(port->IoControl(code, const_cast<void*>(in), inBytes, out, outBytes,
                                      &returned));
}

BOOL InvalidParameter() {
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

}  // namespace

BOOL GetCommState(HANDLE h, LPDCB dcb) {
  if (auto stream = LookupStreamPort(h))
    return dcb ? Control(stream, IOCTL_SERIAL_GET_DCB, nullptr, 0, dcb, sizeof *dcb)
               : InvalidParameter();
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  if (!dcb) return InvalidParameter();
  return ReportStatus(port->GetState(dcb));
}

BOOL SetCommState(HANDLE h, LPDCB dcb) {
  if (auto stream = LookupStreamPort(h))
    return dcb ? Control(stream, IOCTL_SERIAL_SET_DCB, dcb, sizeof *dcb, nullptr, 0)
               : InvalidParameter();
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  if (!dcb) return InvalidParameter();
  return ReportStatus(port->SetState(*dcb));
}

BOOL GetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts) {
  if (auto stream = LookupStreamPort(h))
    return timeouts ? Control(stream, IOCTL_SERIAL_GET_TIMEOUTS, nullptr, 0, timeouts,
                              sizeof *timeouts)
                    : InvalidParameter();
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  if (!timeouts) return InvalidParameter();
  return ReportStatus(port->GetTimeouts(timeouts));
}

BOOL SetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts) {
  if (auto stream = LookupStreamPort(h))
    return timeouts ? Control(stream, IOCTL_SERIAL_SET_TIMEOUTS, timeouts, sizeof *timeouts,
                              nullptr, 0)
                    : InvalidParameter();
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  if (!timeouts) return InvalidParameter();
  return ReportStatus(port->SetTimeouts(*timeouts));
}

BOOL SetCommMask(HANDLE h, DWORD mask) {
  if (auto stream = LookupStreamPort(h))
    return Control(stream, IOCTL_SERIAL_SET_WAIT_MASK, &mask, sizeof mask, nullptr, 0);
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  return ReportStatus(port->SetMask(mask));
}

BOOL GetCommMask(HANDLE h, LPDWORD mask) {
  if (auto stream = LookupStreamPort(h))
    return mask ? Control(stream, IOCTL_SERIAL_GET_WAIT_MASK, nullptr, 0, mask, sizeof *mask)
                : InvalidParameter();
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  if (!mask) return InvalidParameter();
  return ReportStatus(port->GetMask(mask));
}

BOOL WaitCommEvent(HANDLE h, LPDWORD mask, LPOVERLAPPED) {
  if (mask) *mask = 0;
  if (auto stream = LookupStreamPort(h))
    return mask ? Control(stream, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, mask, sizeof *mask)
                : InvalidParameter();
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  if (!mask) return InvalidParameter();
  return ReportStatus(port->WaitEvent(mask));
}

BOOL PurgeComm(HANDLE h, DWORD flags) {
  if (auto stream = LookupStreamPort(h))
    return Control(stream, IOCTL_SERIAL_PURGE, &flags, sizeof flags, nullptr, 0);
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  return ReportStatus(port->Purge(flags));
}

BOOL EscapeCommFunction(HANDLE h, DWORD function) {
  if (auto stream = LookupStreamPort(h)) {
    DWORD code = 0;
    switch (function) {
      case SETXOFF: code = IOCTL_SERIAL_SET_XOFF; break;
      case SETXON: code = IOCTL_SERIAL_SET_XON; break;
      case SETRTS: code = IOCTL_SERIAL_SET_RTS; break;
      case CLRRTS: code = IOCTL_SERIAL_CLR_RTS; break;
      case SETDTR: code = IOCTL_SERIAL_SET_DTR; break;
      case CLRDTR: code = IOCTL_SERIAL_CLR_DTR; break;
      case SETBREAK: code = IOCTL_SERIAL_SET_BREAK_ON; break;
      case CLRBREAK: code = IOCTL_SERIAL_SET_BREAK_OFF; break;
      default: return InvalidParameter();
    }
    return Control(stream, code, nullptr, 0, nullptr, 0);
  }
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  return ReportStatus(port->Escape(function));
}

BOOL GetCommModemStatus(HANDLE h, LPDWORD status) {
  if (auto stream = LookupStreamPort(h))
    return status ? Control(stream, IOCTL_SERIAL_GET_MODEMSTATUS, nullptr, 0, status,
                            sizeof *status)
                  : InvalidParameter();
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  if (!status) return InvalidParameter();
  return ReportStatus(port->ModemStatus(status));
}

namespace handheld {

bool GetSerialLines(HANDLE h, SerialLines* lines) {
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port || !lines) return false;
  *lines = port->Lines();
  return true;
}

bool SetFarEndLines(HANDLE h, const FarEndLines& lines) {
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return false;
  port->SetFarEnd(lines);
  return true;
}

}  // namespace handheld
