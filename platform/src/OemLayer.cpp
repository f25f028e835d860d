#include "OemLayer.h"

#include <cstring>

#include "Event.h"
#include "HandleTable.h"
#include "IdentityPublisher.h"
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
  HandleTable::Remove(h);
}

}  // namespace

OemLayer& OemLayer::Instance() {
  static OemLayer* layer = new OemLayer;  // never destroyed: used until exit
  return *layer;
}

BOOL OemLayer::IoControl(DWORD code, const void* in, DWORD inBytes, void* out, DWORD outBytes,
                         DWORD* returned, DWORD* error) {
  Request request{GetTickCount(), code, false, 0, FALSE};
  *error = ERROR_SUCCESS;
  if (code == kSleevePresence) {
    request.result = connector_.Presence();
  } else if (code == kSleeveControl) {
    if (!in || inBytes != sizeof(DWORD) || !out || outBytes != sizeof(DWORD)) {
      *error = ERROR_INVALID_PARAMETER;
    } else {
      std::memcpy(&request.word, in, sizeof(DWORD));
      request.hasWord = true;
      DWORD output = 0;
      std::memcpy(&output, out, sizeof(DWORD));
      *error = connector_.Control(request.word, &output);
      if (*error == ERROR_SUCCESS) {
        std::memcpy(out, &output, sizeof(DWORD));
        if (returned) *returned = sizeof(DWORD);
        request.result = TRUE;
      }
    }
  } else {
    *error = ERROR_NOT_SUPPORTED;
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
