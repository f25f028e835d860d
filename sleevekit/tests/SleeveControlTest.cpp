// Sleeve detection and control against the handheld's OEM model and a real
// hive in a temporary device folder.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "Ferrix.h"
#include "handheld.h"
#include "testing/TempDevice.h"

namespace {

constexpr DWORD kGpsSleeve = 0x01000001;
constexpr char16_t kIdentityKey[] = u"SYSTEM\\CurrentControlSet\\AdvancedCPL\\DM";

class SleeveControl : public ::testing::Test {
 protected:
  void SetUp() override {
    handheld::RemoveSleeve();
    handheld::SetIdentityPublishDelay(300);
    handheld::ClearOemRequests();
  }
  // No publication may outlive the device folder.
  void TearDown() override { handheld::RemoveSleeve(); }

  // The control words sent since the log was cleared.
  static std::vector<DWORD> Words() {
    std::vector<DWORD> words;
    for (const auto& r : handheld::OemRequests())
      if (r.hasWord) words.push_back(r.word);
    return words;
  }

  static size_t PresenceQueries() {
    size_t count = 0;
    for (const auto& r : handheld::OemRequests()) count += r.code == handheld::kOemSleevePresence;
    return count;
  }

  static void Send(DWORD word) {
    DWORD out = 0;
    ASSERT_TRUE(KernelIoControl(handheld::kOemSleeveControl, &word, 4, &out, 4, nullptr));
  }

  handheld::testing::TempDevice device_;
};

TEST_F(SleeveControl, NoSleeveAnswersAtOnceWithoutRegistry) {
  EXPECT_EQ(IsSleevePresent(), 0u);
  DWORD start = GetTickCount();
  EXPECT_EQ(GetSleeveID(), 0u);
  EXPECT_LT(GetTickCount() - start, 100u);
  EXPECT_EQ(PresenceQueries(), 2u);  // one each, nothing else
  EXPECT_EQ(handheld::OemRequestCount(), 2u);
}

TEST_F(SleeveControl, IdentityIsReturnedSoonAfterThePlatformPublishesIt) {
  handheld::SetIdentityPublishDelay(1000);
  DWORD start = GetTickCount();
  handheld::InsertSleeve(kGpsSleeve);
  EXPECT_EQ(IsSleevePresent(), 1u);
  EXPECT_EQ(GetSleeveID(), kGpsSleeve);
  DWORD elapsed = GetTickCount() - start;
  EXPECT_GE(elapsed, 1000u);
  EXPECT_LE(elapsed, 1000u + 250u + 250u);  // read on the next retry
}

TEST_F(SleeveControl, RemovalEndsTheWait) {
  handheld::SetIdentityPublishDelay(INFINITE);
  handheld::InsertSleeve(kGpsSleeve);
  DWORD start = GetTickCount();
  std::thread remover([] {
    Sleep(600);
    handheld::RemoveSleeve();
  });
  DWORD id = GetSleeveID();
  DWORD elapsed = GetTickCount() - start;
  remover.join();
  EXPECT_EQ(id, 0u);
  EXPECT_GE(elapsed, 600u);
  EXPECT_LE(elapsed, 600u + 250u + 250u);
}

// Identities that never become usable: 0 at the 5-second deadline. One test
// each, so they wait side by side.
struct Unpublished {
  const char* name;
  bool keyExists;
  DWORD type;
  std::vector<BYTE> bytes;  // empty with keyExists: "IDs" never written
  bool pauses;              // reads about every 250 ms, or back to back
};
void PrintTo(const Unpublished& c, std::ostream* os) { *os << c.name; }

const Unpublished kUnpublished[] = {
    {"NeverWritten", true, REG_DWORD, {}, true},
    {"AsString", true, REG_SZ, {'1', 0, 0, 0}, true},
    {"AsBinary", true, REG_BINARY, {1, 0, 0, 1}, true},
    {"TwoBytes", true, REG_DWORD, {1, 0}, true},
    {"EightBytes", true, REG_DWORD, {1, 0, 0, 1, 0, 0, 0, 0}, true},
    {"Zero", true, REG_DWORD, {0, 0, 0, 0}, true},
    {"KeyAbsent", false, REG_DWORD, {}, false},
};

class IdentityWait : public SleeveControl, public ::testing::WithParamInterface<Unpublished> {};

TEST_P(IdentityWait, GivesUpAtTheDeadline) {
  const Unpublished& c = GetParam();
  handheld::SetIdentityPublishDelay(INFINITE);
  handheld::InsertSleeve(kGpsSleeve);
  if (c.keyExists) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kIdentityKey, 0, nullptr, 0, 0, nullptr, &key,
                              &disposition),
              ERROR_SUCCESS);
    if (!c.bytes.empty()) {
      ASSERT_EQ(RegSetValueExW(key, u"IDs", 0, c.type, c.bytes.data(),
                               static_cast<DWORD>(c.bytes.size())),
                ERROR_SUCCESS);
    }
    RegCloseKey(key);
  }
  handheld::ClearOemRequests();
  DWORD start = GetTickCount();
  EXPECT_EQ(GetSleeveID(), 0u);
  DWORD elapsed = GetTickCount() - start;
  EXPECT_GE(elapsed, 5000u);
  EXPECT_LE(elapsed, 5000u + 250u + 300u);
  // Each pass of the loop asks for presence once.
  size_t passes = PresenceQueries();
  if (c.pauses) {
    EXPECT_GE(passes, 12u);  // 20 at most, fewer when the machine is busy
    EXPECT_LE(passes, 22u);
  } else {
    EXPECT_GT(passes, 100u);
  }
}

INSTANTIATE_TEST_SUITE_P(Unpublished, IdentityWait, ::testing::ValuesIn(kUnpublished),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SleeveControl, PowerIsSwitchedOnOnlyWhenOff) {
  handheld::InsertSleeve(kGpsSleeve);
  EXPECT_EQ(SleevePower(), 1u);
  EXPECT_EQ(Words(), (std::vector<DWORD>{0x60000, 0x50001}));
  EXPECT_TRUE(handheld::GetSleeveState().powered);

  handheld::ClearOemRequests();
  EXPECT_EQ(SleevePower(), 0u);
  EXPECT_EQ(Words(), (std::vector<DWORD>{0x60000}));  // only the state query
}

TEST_F(SleeveControl, OnlyOneEnablesTheInterrupt) {
  handheld::InsertSleeve(kGpsSleeve);
  struct Case {
    DWORD argument;
    DWORD word;
    bool enabled;
  };
  for (const Case& c : {Case{1, 0x40001, true}, Case{2, 0x40000, false}, Case{1, 0x40001, true},
                        Case{0, 0x40000, false}}) {
    handheld::ClearOemRequests();
    EXPECT_NE(OPTIntEnable(c.argument), 0u) << c.argument;
    EXPECT_EQ(Words(), (std::vector<DWORD>{c.word})) << c.argument;
    EXPECT_EQ(handheld::GetSleeveState().interruptEnabled, c.enabled) << c.argument;
  }
}

TEST_F(SleeveControl, ResetIsAssertedForTheTimeGivenThenReleased) {
  handheld::InsertSleeve(kGpsSleeve);
  for (DWORD ms : {0u, 120u}) {
    handheld::ClearOemRequests();
    EXPECT_NE(OPTReset(ms), 0u);
    auto requests = handheld::OemRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].word, 0x70001u);
    EXPECT_EQ(requests[1].word, 0x70000u);
    DWORD held = requests[1].tick - requests[0].tick;
    EXPECT_GE(held, ms);
    EXPECT_LE(held, ms + 50) << "released late";
    EXPECT_FALSE(handheld::GetSleeveState().resetAsserted);
  }
}

}  // namespace
