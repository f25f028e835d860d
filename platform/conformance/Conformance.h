// What the conformance cases share. They use the platform's calls as the
// programs do and nothing else, so that the same cases build against the
// handheld's headers and against desktop Windows' and run on both.
#pragma once

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace conformance {

using WString = std::basic_string<WCHAR>;

// A thread made with CreateThread that runs a callable; join() waits for
// its end. Destroying a thread that was not joined waits for it too.
class Thread {
 public:
  Thread() = default;
  template <typename Body>
  explicit Thread(Body body) : body_(new std::function<void()>(std::move(body))) {
    handle_ = CreateThread(nullptr, 0, Run, body_, 0, nullptr);
  }
  Thread(Thread&& other) noexcept
      : handle_(std::exchange(other.handle_, nullptr)),
        body_(std::exchange(other.body_, nullptr)) {}
  Thread& operator=(Thread&& other) noexcept {
    join();
    handle_ = std::exchange(other.handle_, nullptr);
    body_ = std::exchange(other.body_, nullptr);
    return *this;
  }
  ~Thread() { join(); }
  bool started() const { return handle_ != nullptr; }
  void join() {
    if (handle_ != nullptr) {
      WaitForSingleObject(handle_, INFINITE);
      CloseHandle(handle_);
      handle_ = nullptr;
    }
    delete body_;
    body_ = nullptr;
  }
  // Lets the thread run on alone; its callable stays for it.
  void detach() {
    if (handle_ != nullptr) CloseHandle(handle_);
    handle_ = nullptr;
    body_ = nullptr;
  }

 private:
  static DWORD WINAPI Run(LPVOID body) {
    (*static_cast<std::function<void()>*>(body))();
    return 0;
  }
  HANDLE handle_ = nullptr;
  std::function<void()>* body_ = nullptr;
};

// Where the handheld and desktop Windows really differ, the checks of the
// handheld's behaviour go in a block marked
//   HANDHELD_BEHAVIOUR("what differs; the handheld's documented behaviour") { ... }
// On the handheld's platform they are checks like any other. Built for
// desktop Windows they are expected to fail: their failures are reported as
// the known difference, and a block none of whose checks fails is a
// failure, as the difference is gone and the marker must go with it.
//   WINE_DIFFERS("what Wine does instead of what desktop Windows documents") { ... }
// marks in the same way checks that hold on the handheld and on desktop
// Windows but not under Wine (on a pseudo-terminal, say): expected to fail
// only when the program runs under Wine.
class KnownDifference {
 public:
  enum Kind { kHandheld, kWine };
  KnownDifference(Kind kind, const char* difference, const char* file, int line)
      : kind_(kind), difference_(difference), file_(file), line_(line) {
#ifdef _WIN32
    if (kind == kHandheld || UnderWine())
      reporter_.emplace(::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD,
                        &failures_);
#endif
  }
  ~KnownDifference();
  bool Once() { return !done_++; }

 private:
#ifdef _WIN32
  static bool UnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }
  ::testing::TestPartResultArray failures_;
  std::optional<::testing::ScopedFakeTestPartResultReporter> reporter_;
#endif
  Kind kind_;
  const char* difference_;
  const char* file_;
  int line_;
  int done_ = 0;
};

inline KnownDifference::~KnownDifference() {
#ifdef _WIN32
  if (!reporter_) return;
  int differing = 0;
  for (int i = 0; i < failures_.size(); ++i) differing += failures_.GetTestPartResult(i).failed();
  reporter_.reset();
  const char* whose = kind_ == kHandheld ? "the handheld's own behaviour" : "where Wine differs";
  if (differing == 0)
    ADD_FAILURE_AT(file_, line_) << "no longer differs (" << whose << "): " << difference_;
  else
    std::printf("%s:%d: %s (%d checks differ here): %s\n", file_, line_, whose, differing,
                difference_);
#else
  (void)kind_;
  (void)difference_;
  (void)file_;
  (void)line_;
#endif
}

}  // namespace conformance

#define CONFORMANCE_KNOWN_DIFFERENCE(kind, difference)                                         \
  for (::conformance::KnownDifference known_difference_(kind, difference, __FILE__, __LINE__); \
       known_difference_.Once();)
#define HANDHELD_BEHAVIOUR(difference) \
  CONFORMANCE_KNOWN_DIFFERENCE(::conformance::KnownDifference::kHandheld, difference)
#define WINE_DIFFERS(difference) \
  CONFORMANCE_KNOWN_DIFFERENCE(::conformance::KnownDifference::kWine, difference)
