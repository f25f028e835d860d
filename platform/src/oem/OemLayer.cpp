#include "OemLayer.h"

#include <cstring>

#include "Event.h"
#include "HandleTable.h"
#include "IdentityPublisher.h"
#include "ProcessLifetime.h"
#include "win/core.h"

namespace handheld::detail {

namespace {

// The sleeve notification: the bus driver waits on this event. Nobody
// holding it means nobody listens, and the signal is lost as on the device.
void SignalPlugEvent() {
  bool existed = false;
  HANDLE h = Event::Open(false, false, u"EventTessivPlug2Applet", &existed);
  if (!h) return;
  if (existed) {
    if (auto event = HandleTable::LookupAs<Event>(h)) event->Set();
  }
  static_cast<void>(HandleTable::Remove(h));
}

}  // namespace

OemLayer& OemLayer::Instance() {
  return ProcessLifetime<OemLayer>::Get();
}

BOOL OemLayer::IoControl(DWORD code, const void* in, DWORD inBytes, void* out, DWORD outBytes,
                         DWORD* returned, Status* status) {
  Request request{GetTickCount(), code, false, 0, FALSE};
  *status = Status::Ok();
  if (code == kSleevePresence) {
    request.result = connector_.Presence();
  } else if (code == kSleeveControl) {
    if (!in || inBytes != sizeof(DWORD) || !out || outBytes != sizeof(DWORD)) {
      *status = ERROR_INVALID_PARAMETER;
    } else {
      std::memcpy(&request.word, in, sizeof(DWORD));
      request.hasWord = true;
      DWORD output = 0;
      std::memcpy(&output, out, sizeof(DWORD));
      *status = connector_.Control(request.word, &output);
      if (status->ok()) {
        std::memcpy(out, &output, sizeof(DWORD));
        if (returned) *returned = sizeof(DWORD);
        request.result = TRUE;
      }
    }
  } else {
    *status = ERROR_NOT_SUPPORTED;
  }
  Record(request);
  return request.result;
}

void OemLayer::Insert(DWORD sleeveId) {
  if (connector_.State().attached) Remove();
  connector_.Attach(sleeveId);
  IdentityPublisher::Instance().Inserted(sleeveId);
  SignalPlugEvent();
}

void OemLayer::Remove() {
  connector_.Detach();
  IdentityPublisher::Instance().Removed();
  SignalPlugEvent();
}

void OemLayer::Record(const Request& request) {
  std::lock_guard<std::mutex> lock(logMutex_);
  if (log_.size() == kKeptRequests) log_.pop_front();
  log_.push_back(request);
  ++total_;
}

std::vector<OemLayer::Request> OemLayer::Requests() const {
  std::lock_guard<std::mutex> lock(logMutex_);
  return {log_.begin(), log_.end()};
}

size_t OemLayer::RequestCount() const {
  std::lock_guard<std::mutex> lock(logMutex_);
  return total_;
}

void OemLayer::ClearRequests() {
  std::lock_guard<std::mutex> lock(logMutex_);
  log_.clear();
  total_ = 0;
}

}  // namespace handheld::detail
