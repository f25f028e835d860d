// The serial communications calls on ports that CreateFile opened.
#include <memory>

#include "SerialPort.h"

using handheld::detail::HandleTable;
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
  return port->GetState(dcb) ? TRUE : FALSE;
}

BOOL SetCommState(HANDLE h, LPDCB dcb) {
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  if (!dcb) return InvalidParameter();
  return port->SetState(*dcb) ? TRUE : FALSE;
}

BOOL GetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts) {
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  if (!timeouts) return InvalidParameter();
  return port->GetTimeouts(timeouts) ? TRUE : FALSE;
}

BOOL SetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts) {
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  if (!timeouts) return InvalidParameter();
  return port->SetTimeouts(*timeouts) ? TRUE : FALSE;
}

BOOL SetCommMask(HANDLE h, DWORD mask) {
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  return port->SetMask(mask) ? TRUE : FALSE;
}

BOOL GetCommMask(HANDLE h, LPDWORD mask) {
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  if (!mask) return InvalidParameter();
  return port->GetMask(mask) ? TRUE : FALSE;
}

BOOL WaitCommEvent(HANDLE h, LPDWORD mask, LPOVERLAPPED) {
  if (mask) *mask = 0;
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  if (!mask) return InvalidParameter();
  return port->WaitEvent(mask) ? TRUE : FALSE;
}

BOOL PurgeComm(HANDLE h, DWORD flags) {
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  return port->Purge(flags) ? TRUE : FALSE;
}

BOOL EscapeCommFunction(HANDLE h, DWORD function) {
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  return port->Escape(function) ? TRUE : FALSE;
}

BOOL GetCommModemStatus(HANDLE h, LPDWORD status) {
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port) return FALSE;
  if (!status) return InvalidParameter();
  return port->ModemStatus(status) ? TRUE : FALSE;
}

namespace handheld {

bool GetSerialLines(HANDLE h, SerialLines* lines) {
  std::shared_ptr<SerialPort> port = LookupPort(h);
  if (!port || !lines) return false;
  *lines = port->Lines();
  return true;
}

}  // namespace handheld
