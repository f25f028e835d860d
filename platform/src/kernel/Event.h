// An event: manual or auto reset, with or without a name. Named events are
// shared within the process for as long as a handle to them is open.
#pragma once

#include <memory>
#include <string>

#include "Waitable.h"

namespace handheld::detail {

class Event : public Waitable {
 public:
  Event(bool manualReset, bool initialState, std::u16string name);
  ~Event() override;
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // A new handle to a new event or, for a name already in use, to that
  // event (*existed set; the reset mode and state given are then ignored).
  // Null when no handle could be made.
  static HANDLE Open(bool manualReset, bool initialState, const std::u16string& name, bool* existed);

  void Set();
  void Reset();
  // Releases the threads waiting now (one for auto reset), then leaves the
  // event reset.
  void Pulse();

  void OnClose() override;  // the name becomes free

 protected:
  bool IsSignalled() const override;
  void Acquire() override;

 private:
  const bool manualReset_;
  const std::u16string name_;
  bool signalled_;  // under StateLock
};

}  // namespace handheld::detail
