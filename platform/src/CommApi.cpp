// The serial communications calls on ports that CreateFile opened.
#include <memory>

#include "SerialPort.h"
#include "handheld.h"

using handheld::detail::HandleTable;
using handheld::detail::ReportStatus;
using handheld::detail::SerialPort;

namespace {

std::shared_ptr<SerialPort> LookupPort(HANDLE h) {
  std::shared_ptr<SerialPort> port = HandleTable::LookupAs<SerialPort>(h);
  if (!port) SetLastError(ERROR_INVALID_HANDLE);
  return port;
}

BOOL InvalidParameter() {
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

}  // namespace

BOOL GetCommState(HANDLE h, LPDCB dcb) {
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  if (!dcb) return InvalidParameter();
  return ReportStatus(port->GetState(dcb));
}

BOOL SetCommState(HANDLE h, LPDCB dcb) {
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  if (!dcb) return InvalidParameter();
  return ReportStatus(port->SetState(*dcb));
}

BOOL GetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts) {
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  if (!timeouts) return InvalidParameter();
  return ReportStatus(port->GetTimeouts(timeouts));
}

BOOL SetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts) {
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  if (!timeouts) return InvalidParameter();
  return ReportStatus(port->SetTimeouts(*timeouts));
}

BOOL SetCommMask(HANDLE h, DWORD mask) {
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  return ReportStatus(port->SetMask(mask));
}

BOOL GetCommMask(HANDLE h, LPDWORD mask) {
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  if (!mask) return InvalidParameter();
  return ReportStatus(port->GetMask(mask));
}

BOOL WaitCommEvent(HANDLE h, LPDWORD mask, LPOVERLAPPED) {
  if (mask) *mask = 0;
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  if (!mask) return InvalidParameter();
  return ReportStatus(port->WaitEvent(mask));
}

BOOL PurgeComm(HANDLE h, DWORD flags) {
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  return ReportStatus(port->Purge(flags));
}

BOOL EscapeCommFunction(HANDLE h, DWORD function) {
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  return ReportStatus(port->Escape(function));
}

BOOL GetCommModemStatus(HANDLE h, LPDWORD status) {
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

}  // namespace handheld
