// Events and the waits on events and threads.
#include <vector>

#include "Event.h"
#include "win/core.h"

using handheld::detail::Event;
using handheld::detail::HandleTable;
using handheld::detail::Status;
using handheld::detail::Waitable;

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
  bool existed = false;
  HANDLE h = Event::Open(manualReset != FALSE, initialState != FALSE, name ? name : u"", &existed);
  if (h) SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

namespace {

std::shared_ptr<Event> EventFromHandle(HANDLE h) {
  auto event = HandleTable::LookupAs<Event>(h);
  if (!event) SetLastError(ERROR_INVALID_HANDLE);
  return event;
}

}  // namespace

BOOL SetEvent(HANDLE h) {
  auto event = EventFromHandle(h);
  if (!event) return FALSE;
  event->Set();
  return TRUE;
}

BOOL ResetEvent(HANDLE h) {
  auto event = EventFromHandle(h);
  if (!event) return FALSE;
  event->Reset();
  return TRUE;
}

BOOL PulseEvent(HANDLE h) {
  auto event = EventFromHandle(h);
  if (!event) return FALSE;
  event->Pulse();
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE h, DWORD ms) { return WaitForMultipleObjects(1, &h, FALSE, ms); }

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms) {
  std::vector<std::shared_ptr<Waitable>> objects;
  if (Status status = Waitable::Collect(count, handles, waitAll != FALSE, &objects); !status.ok()) {
    SetLastError(status.code());
    return WAIT_FAILED;
  }
  return Waitable::Wait(objects, waitAll != FALSE, ms);
}
