// The outcome of an operation inside the stand-in: success or one of the
// platform's error codes (ERROR_*). Internal code returns a Status and never
// touches the thread's last error; the API function that called it alone
// turns a failure into the last error (ReportStatus) or, for the Reg* calls,
// into its LONG result.
#pragma once

#include <concepts>

#include "win/types.h"

namespace handheld::detail {

class [[nodiscard]] Status {
 public:
  constexpr Status() = default;  // success
  // Error codes convert, so `return ERROR_ACCESS_DENIED;` reads naturally.
  constexpr Status(DWORD code) : code_(code) {}  // NOLINT(google-explicit-constructor)
  // A bool is no status: `return true;` must not mean error 1.
  template <class T>
    requires std::same_as<T, bool>
  Status(T) = delete;

  static constexpr Status Ok() { return Status(); }
  constexpr bool ok() const { return code_ == static_cast<DWORD>(ERROR_SUCCESS); }
  constexpr DWORD code() const { return code_; }
  friend constexpr bool operator==(Status, Status) = default;

 private:
  DWORD code_ = static_cast<DWORD>(ERROR_SUCCESS);
};

// For API functions only: a failed status becomes the thread's last error
// (a success leaves it alone). Returns TRUE on success, FALSE on failure.
BOOL ReportStatus(Status status);
// The same for the Reg* calls, which return the code instead.
inline LONG RegistryResult(Status status) { return static_cast<LONG>(status.code()); }

}  // namespace handheld::detail
