#include "SleeveConnector.h"

namespace handheld::detail {

namespace {
constexpr DWORD kSelectorInterrupt = 4;
constexpr DWORD kSelectorPower = 5;
constexpr DWORD kSelectorPowerState = 6;
constexpr DWORD kSelectorReset = 7;
}  // namespace

void SleeveConnector::Attach(DWORD sleeveId) {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_ = Lines{};
  lines_.attached = true;
  lines_.sleeveId = sleeveId;
}

void SleeveConnector::Detach() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_ = Lines{};
}

SleeveConnector::Lines SleeveConnector::State() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

BOOL SleeveConnector::Presence() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_.attached ? 0 : 1;
}

Status SleeveConnector::Control(DWORD word, DWORD* output) {
  const DWORD selector = word >> 16;
  const bool on = (word & 0xFFFF) != 0;
  std::lock_guard<std::mutex> lock(mutex_);
  switch (selector) {
    case kSelectorInterrupt:
      lines_.interruptEnabled = on;
      return Status::Ok();
    case kSelectorPower:
      lines_.powered = on;
      return Status::Ok();
    case kSelectorPowerState:
      *output = lines_.powered ? 1 : 0;
      return Status::Ok();
    case kSelectorReset:
      lines_.resetAsserted = on;
      return Status::Ok();
    default:
      return ERROR_INVALID_PARAMETER;
  }
}

}  // namespace handheld::detail
