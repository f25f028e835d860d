// Message boxes: default buttons, the headless presenter and presenters
// installed by tools and tests.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "handheld.h"

namespace {

using handheld::DefaultMessageBoxButton;
using handheld::MessageBoxPresenter;
using handheld::MessageBoxRequest;
using handheld::SetMessageBoxPresenter;

// Restores the default presenter when a test ends.
struct PresenterGuard {
  ~PresenterGuard() { SetMessageBoxPresenter(nullptr); }
};

TEST(CoreMessageBoxes, DefaultButtons) {
  EXPECT_EQ(DefaultMessageBoxButton(MB_OK), IDOK);
  EXPECT_EQ(DefaultMessageBoxButton(MB_OKCANCEL), IDOK);
  EXPECT_EQ(DefaultMessageBoxButton(MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);
  EXPECT_EQ(DefaultMessageBoxButton(MB_YESNO | MB_ICONQUESTION), IDYES);
  EXPECT_EQ(DefaultMessageBoxButton(MB_YESNO | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(DefaultMessageBoxButton(MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
  EXPECT_EQ(DefaultMessageBoxButton(MB_ABORTRETRYIGNORE | MB_DEFBUTTON2), IDRETRY);
  EXPECT_EQ(DefaultMessageBoxButton(MB_RETRYCANCEL), IDRETRY);
  // A default button beyond the box's buttons falls back to the first.
  EXPECT_EQ(DefaultMessageBoxButton(MB_OK | MB_DEFBUTTON3), IDOK);
  EXPECT_EQ(DefaultMessageBoxButton(MB_YESNO | MB_DEFBUTTON3), IDYES);
}

TEST(CoreMessageBoxes, HeadlessBoxIsPrintedAndAnsweredWithItsDefault) {
  testing::internal::CaptureStderr();
  int answer = MessageBoxW(nullptr, u"  Unable to open the port COM9:, Last Error 55", u"Error", MB_OK);
  std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_EQ(answer, IDOK);
  EXPECT_NE(printed.find("Error"), std::string::npos);
  EXPECT_NE(printed.find("  Unable to open the port COM9:, Last Error 55"), std::string::npos);
  EXPECT_NE(printed.find("[OK]"), std::string::npos);

  testing::internal::CaptureStderr();
  answer = MessageBoxW(nullptr, u"Stop the driver?\nZ\u00fcrich \u2013 ok", u"Setup",
                       MB_YESNO | MB_DEFBUTTON2);
  printed = testing::internal::GetCapturedStderr();
  EXPECT_EQ(answer, IDNO);
  EXPECT_NE(printed.find("Setup"), std::string::npos);
  EXPECT_NE(printed.find("Z\xc3\xbcrich \xe2\x80\x93 ok"), std::string::npos);  // UTF-8
  EXPECT_NE(printed.find("[Yes] [No]"), std::string::npos);
}

TEST(CoreMessageBoxes, PresenterSeesTheBoxAndChoosesTheAnswer) {
  PresenterGuard guard;
  MessageBoxRequest seen{};
  SetMessageBoxPresenter([&](const MessageBoxRequest& box) {
    seen = box;
    return IDCANCEL;
  });
  HWND owner = reinterpret_cast<HWND>(uintptr_t{0x1234});
  EXPECT_EQ(MessageBoxW(owner, u"Log File Open Failed", u"", MB_OKCANCEL | MB_ICONERROR), IDCANCEL);
  EXPECT_EQ(seen.owner, owner);
  EXPECT_EQ(seen.text, u"Log File Open Failed");
  EXPECT_EQ(seen.caption, u"");  // an empty caption stays empty
  EXPECT_EQ(seen.type, MB_OKCANCEL | MB_ICONERROR);

  // A missing caption reads "Error", a missing text is empty.
  MessageBoxW(nullptr, nullptr, nullptr, MB_OK);
  EXPECT_EQ(seen.caption, u"Error");
  EXPECT_EQ(seen.text, u"");

  // An unknown button set is refused before any presenter sees it.
  seen.text = u"untouched";
  SetLastError(0);
  EXPECT_EQ(MessageBoxW(nullptr, u"x", u"y", 0x0000000Fu), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(seen.text, u"untouched");
}

TEST(CoreMessageBoxes, SwappingReturnsThePreviousPresenterAndEmptyRestoresTheDefault) {
  PresenterGuard guard;
  MessageBoxPresenter previous = SetMessageBoxPresenter([](const MessageBoxRequest&) { return IDYES; });
  EXPECT_FALSE(previous);  // the default is no presenter of the caller's
  previous = SetMessageBoxPresenter([](const MessageBoxRequest&) { return IDNO; });
  ASSERT_TRUE(previous);
  EXPECT_EQ(previous(MessageBoxRequest{}), IDYES);
  EXPECT_EQ(MessageBoxW(nullptr, u"q", u"c", MB_YESNO), IDNO);
  SetMessageBoxPresenter(nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxW(nullptr, u"q", u"c", MB_YESNO), IDYES);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("[Yes]"), std::string::npos);
}

TEST(CoreMessageBoxes, PresentersMaySwapAndShowBoxesFromAnyThread) {
  PresenterGuard guard;
  // A presenter that swaps the presenter and shows a nested box must not
  // deadlock, and boxes on other threads meanwhile get a valid answer.
  SetMessageBoxPresenter([](const MessageBoxRequest& box) {
    if (box.text == u"nested") return IDRETRY;
    MessageBoxPresenter mine = SetMessageBoxPresenter([](const MessageBoxRequest&) { return IDRETRY; });
    int inner = MessageBoxW(nullptr, u"nested", u"c", MB_RETRYCANCEL);
    SetMessageBoxPresenter(mine);
    return inner;
  });
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 300; ++i)
        if (MessageBoxW(nullptr, u"outer", u"c", MB_RETRYCANCEL) != IDRETRY) ++bad;
    });
  }
  std::thread swapper([] {
    for (int i = 0; i < 300; ++i) {
      MessageBoxPresenter p = SetMessageBoxPresenter([](const MessageBoxRequest&) { return IDRETRY; });
      SetMessageBoxPresenter(p);
    }
  });
  for (auto& t : threads) t.join();
  swapper.join();
  EXPECT_EQ(bad, 0);
}

namespace ticks {
std::atomic<int> count{0};
void CALLBACK Count(HWND, UINT, UINT_PTR, DWORD) { ++count; }
}  // namespace ticks

TEST(CoreMessageBoxes, ATimersTicksAreDispatchedWhileTheAnswererHoldsTheBox) {
  PresenterGuard guard;
  ticks::count = 0;
  UINT_PTR timer = SetTimer(nullptr, 0, 10, ticks::Count);
  int asked = 0;
  handheld::SetMessageBoxAnswerer([&](const MessageBoxRequest&) {
    ++asked;
    return ticks::count >= 3 ? IDNO : handheld::kNoAnswerYet;
  });
  EXPECT_EQ(MessageBoxW(nullptr, u"Wait", u"c", MB_YESNO), IDNO);
  EXPECT_GE(ticks::count, 3);
  EXPECT_EQ(asked, ticks::count + 1);  // once when shown, again after each tick
  KillTimer(nullptr, timer);
}

}  // namespace
