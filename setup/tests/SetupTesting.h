// What the setup tests share: a handheld in a temporary device folder with
// the GPS sleeve's receiver on a pty, whose message boxes the test sees and
// answers (OK unless `answer_` says otherwise), and which stops every
// driver and takes the sleeve off at the end.
#pragma once

#include <functional>
#include <vector>

#include "BusDriverTesting.h"

namespace bustest {

// Deactivates every device the device manager lists.
inline void StopAllDrivers() {
  for (const ActiveRecord& record : ActiveRecords())
    DeactivateDevice(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(record.hnd)));
}

inline bool Listed(const char16_t* key) {
  for (const ActiveRecord& record : ActiveRecords())
    if (record.key == key) return true;
  return false;
}

class SetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    handheld::RemoveSleeve();
    handheld::SetIdentityPublishDelay(50);
    ASSERT_TRUE(peer_.ok());
    handheld::SetMessageBoxAnswerer([this](const handheld::MessageBoxRequest& box) {
      boxes_.push_back(box);
      return answer_ ? answer_(box) : IDOK;
    });
  }

  void TearDown() override {
    handheld::SetMessageBoxAnswerer({});
    handheld::SetModuleFolders({MODULE_FOLDER});
    StopAllDrivers();
    handheld::RemoveSleeve();
  }

  handheld::testing::TempDevice device_;
  handheld::testing::PtyPeer peer_;
  std::vector<handheld::MessageBoxRequest> boxes_;
  std::function<int(const handheld::MessageBoxRequest&)> answer_;
};

}  // namespace bustest
