// The OEM layer's sleeve model, the identity publisher and the sleeve
// notification, on a real hive in a temporary device folder.
#include <gtest/gtest.h>

#include <ostream>

#include "handheld.h"
#include "testing/TempDevice.h"
#include "windows.h"

namespace {

constexpr char16_t kIdentityKey[] = u"SYSTEM\\CurrentControlSet\\AdvancedCPL\\DM";

class OemLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    handheld::RemoveSleeve();
    handheld::ClearOemRequests();
  }
  void TearDown() override { handheld::RemoveSleeve(); }
  handheld::testing::TempDevice device_;
};

// The published identity: the value, or 0 when "IDs" is absent.
DWORD PublishedId(DWORD* type = nullptr) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kIdentityKey, 0, 0, &key) != ERROR_SUCCESS) return 0;
  DWORD id = 0;
  DWORD bytes = sizeof(id);
  DWORD storedType = 0;
  if (RegQueryValueExW(key, u"IDs", nullptr, &storedType, reinterpret_cast<BYTE*>(&id), &bytes) !=
      ERROR_SUCCESS)
    id = 0;
  RegCloseKey(key);
  if (type) *type = storedType;
  return id;
}

struct Request {
  const char* name;
  DWORD code;
  DWORD inBytes;
  bool withOutput;
  DWORD word;
  BOOL result;
  DWORD error;  // the last error after a failure
};
void PrintTo(const Request& r, std::ostream* os) { *os << r.name; }

const Request kRequests[] = {
    {"PresenceWithoutSleeve", 0x010103E8, 0, true, 0, 1, 0},
    {"UnknownCode", 0x01010101, 4, true, 0x60000, FALSE, ERROR_NOT_SUPPORTED},
    {"ShortControlWord", 0x0101010D, 2, true, 0x60000, FALSE, ERROR_INVALID_PARAMETER},
    {"ControlWithoutOutput", 0x0101010D, 4, false, 0x60000, FALSE, ERROR_INVALID_PARAMETER},
    {"UnknownSelector", 0x0101010D, 4, true, 0x90001, FALSE, ERROR_INVALID_PARAMETER},
    {"PowerState", 0x0101010D, 4, true, 0x60000, TRUE, 0},
};

class OemRequests : public OemLayer, public ::testing::WithParamInterface<Request> {};

TEST_P(OemRequests, AnsweredAndRecorded) {
  const Request& r = GetParam();
  DWORD word = r.word;
  DWORD out = 0xFFFF;
  SetLastError(0);
  DWORD before = GetTickCount();
  EXPECT_EQ(KernelIoControl(r.code, r.inBytes ? &word : nullptr, r.inBytes,
                            r.withOutput ? &out : nullptr, r.withOutput ? 4 : 0, nullptr),
            r.result);
  if (!r.result) {
    EXPECT_EQ(GetLastError(), r.error);
  }
  auto log = handheld::OemRequests();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].code, r.code);
  EXPECT_EQ(log[0].result, r.result);
  EXPECT_LE(log[0].tick - before, 50u);
}

INSTANTIATE_TEST_SUITE_P(Codes, OemRequests, ::testing::ValuesIn(kRequests),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OemLayer, InsertionPublishesLateRemovalWithdrawsAtOnceAndBothSignal) {
  HANDLE plug = CreateEventW(nullptr, FALSE, FALSE, u"EventTessivPlug2Applet");
  ASSERT_NE(plug, nullptr);
  handheld::SetIdentityPublishDelay(400);

  DWORD start = GetTickCount();
  handheld::InsertSleeve(0x01000010);
  EXPECT_EQ(WaitForSingleObject(plug, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(plug, 0), WAIT_TIMEOUT);  // auto reset
  EXPECT_EQ(PublishedId(), 0u);
  while (PublishedId() == 0 && GetTickCount() - start < 2000) Sleep(20);
  EXPECT_GE(GetTickCount() - start, 400u);
  DWORD type = 0;
  EXPECT_EQ(PublishedId(&type), 0x01000010u);
  EXPECT_EQ(type, REG_DWORD);

  handheld::RemoveSleeve();
  EXPECT_EQ(WaitForSingleObject(plug, 0), WAIT_OBJECT_0);
  EXPECT_EQ(PublishedId(), 0u);
  auto state = handheld::GetSleeveState();
  EXPECT_FALSE(state.attached || state.powered || state.interruptEnabled || state.resetAsserted);

  // A sleeve taken off before its identity is due never has it published.
  handheld::InsertSleeve(0x01000001);
  Sleep(100);
  handheld::RemoveSleeve();
  Sleep(600);
  EXPECT_EQ(PublishedId(), 0u);
  CloseHandle(plug);
}

}  // namespace
