// The handheld's sleeve connector as the OEM layer sees it: whether a sleeve
// is attached and which, and the lines the platform drives for it (power,
// interrupt enable, reset).
#pragma once

#include <mutex>

#include "Status.h"
#include "win/types.h"

namespace handheld::detail {

class SleeveConnector {
 public:
  struct Lines {
    bool attached = false;
    DWORD sleeveId = 0;
    bool powered = false;
    bool interruptEnabled = false;
    bool resetAsserted = false;
  };

  // A sleeve slides on; one that was on already is replaced.
  void Attach(DWORD sleeveId);
  // The sleeve comes off and takes its power, interrupt and reset with it.
  void Detach();
  Lines State() const;

  // The presence query's answer: 0 while a sleeve is attached, else 1.
  BOOL Presence() const;
  // Carries out one control word (selector in the upper half, value in the
  // lower). Selector 6 stores the power state (1 on) in *output. An
  // unknown selector is ERROR_INVALID_PARAMETER.
  Status Control(DWORD word, DWORD* output);

 private:
  mutable std::mutex mutex_;
  Lines lines_;
};

}  // namespace handheld::detail
