#include "Event.h"

#include <map>

#include "ProcessLifetime.h"

namespace handheld::detail {
namespace {

struct Names {
  std::mutex mutex;
  std::map<std::u16string, std::weak_ptr<Event>> events;
};

Names& TheNames() { return ProcessLifetime<Names>::Get(); }

}  // namespace

Event::Event(bool manualReset, bool initialState, std::u16string name)
    : manualReset_(manualReset), name_(std::move(name)), signalled_(initialState) {}

Event::~Event() = default;

HANDLE Event::Open(bool manualReset, bool initialState, const std::u16string& name, bool* existed) {
  *existed = false;
  if (name.empty()) return HandleTable::Add(std::make_shared<Event>(manualReset, initialState, name));

  // The name lock is held across the handle table's, never the other way:
  // OnClose runs outside the table's lock.
  Names& names = TheNames();
  std::lock_guard<std::mutex> lock(names.mutex);
  auto it = names.events.find(name);
  if (it != names.events.end()) {
    if (auto event = it->second.lock()) {
      // Fails only when the last handle is being closed this moment; then
      // the name is free for a new event.
      if (HANDLE h = HandleTable::Duplicate(event)) {
        *existed = true;
        return h;
      }
    }
  }
  auto event = std::make_shared<Event>(manualReset, initialState, name);
  HANDLE h = HandleTable::Add(event);
  if (h) names.events[name] = event;
  return h;
}

void Event::OnClose() {
  if (name_.empty()) return;
  Names& names = TheNames();
  std::lock_guard<std::mutex> lock(names.mutex);
  auto it = names.events.find(name_);
  if (it != names.events.end() && it->second.lock().get() == this) names.events.erase(it);
}

void Event::Set() {
  std::lock_guard<std::mutex> lock(StateLock());
  signalled_ = true;
  WakeWaiters();
}

void Event::Reset() {
  std::lock_guard<std::mutex> lock(StateLock());
  signalled_ = false;
}

void Event::Pulse() {
  std::lock_guard<std::mutex> lock(StateLock());
  signalled_ = true;
  WakeWaiters();
  signalled_ = false;
}

bool Event::IsSignalled() const { return signalled_; }

void Event::Acquire() {
  if (!manualReset_) signalled_ = false;
}

}  // namespace handheld::detail
