// The platform component that publishes an inserted sleeve's identity as
// "IDs" (REG_DWORD) under HKEY_LOCAL_MACHINE
// "SYSTEM\CurrentControlSet\AdvancedCPL\DM" a while after insertion, and
// deletes it on removal. One worker thread waits for the due time; it ends
// when the process ends.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "win/types.h"

namespace handheld::detail {

class IdentityPublisher {
 public:
  static IdentityPublisher& Instance();

  // INFINITE: never publish.
  void SetDelay(DWORD ms);
  // Publishes `sleeveId` after the delay unless a removal comes first.
  void Inserted(DWORD sleeveId);
  // Cancels a pending publication and deletes "IDs" at once.
  void Removed();

  ~IdentityPublisher();

 private:
  IdentityPublisher() = default;
  IdentityPublisher(const IdentityPublisher&) = delete;
  IdentityPublisher& operator=(const IdentityPublisher&) = delete;
  void Run();

  std::mutex mutex_;  // also held across each registry change
  std::condition_variable wake_;
  std::thread worker_;
  bool stopping_ = false;
  bool pending_ = false;
  DWORD sleeveId_ = 0;
  std::chrono::steady_clock::time_point due_;
  DWORD delay_ = 300;
};

}  // namespace handheld::detail
