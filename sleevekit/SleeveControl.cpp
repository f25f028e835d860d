// Sleeve presence, identity, power, interrupt and reset through the OEM
// layer's requests; the identity from the registry value the platform
// publishes after insertion.
#include "Ferrix.h"

namespace {

constexpr DWORD kPresenceQuery = 0x010103E8;
constexpr DWORD kSleeveControl = 0x0101010D;

constexpr DWORD kInterruptSelector = 4;
constexpr DWORD kPowerSelector = 5;
constexpr DWORD kPowerStateSelector = 6;
constexpr DWORD kResetSelector = 7;

constexpr DWORD kIdentityDeadlineMs = 5000;
constexpr DWORD kIdentityRetryMs = 250;

DWORD ControlWord(DWORD selector, DWORD value) { return (selector << 16) + value; }

BOOL SendControl(DWORD selector, DWORD value, DWORD* output, LPDWORD returned) {
  DWORD word = ControlWord(selector, value);
  return KernelIoControl(kSleeveControl, &word, sizeof(word), output, sizeof(*output), returned);
}

}  // namespace

extern "C" {

DWORD IsSleevePresent() {
  DWORD unused = 0;
  BOOL result = KernelIoControl(kPresenceQuery, nullptr, 0, &unused, sizeof(unused), nullptr);
  return (static_cast<DWORD>(result) & 0xFFFF) == 0 ? 1 : 0;
}

DWORD GetSleeveID() {
  DWORD id = 0;
  const DWORD deadline = GetTickCount() + kIdentityDeadlineMs;
  while (id == 0) {
    if (!IsSleevePresent()) break;
    // Unsigned: at or past the deadline, also across the tick count's wrap.
    if (static_cast<LONG>(GetTickCount() - deadline) >= 0) break;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("SYSTEM\\CurrentControlSet\\AdvancedCPL\\DM"), 0, 0,
                      &key) != ERROR_SUCCESS)
      continue;
    DWORD type = 0;
    DWORD bytes = sizeof(id);
    if (RegQueryValueExW(key, TEXT("IDs"), nullptr, &type, reinterpret_cast<LPBYTE>(&id), &bytes) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || bytes != sizeof(id))
      id = 0;
    RegCloseKey(key);
    if (id == 0) Sleep(kIdentityRetryMs);
  }
  return id;
}

DWORD SleevePower() {
  DWORD state = 0;
  SendControl(kPowerStateSelector, 0, &state, nullptr);
  if (state == 1) return 0;
  DWORD unused = 0;
  SendControl(kPowerSelector, 1, &unused, nullptr);
  return 1;
}

DWORD OPTIntEnable(DWORD enable) {
  DWORD unused = 0;
  return static_cast<DWORD>(SendControl(kInterruptSelector, enable == 1 ? 1 : 0, &unused, nullptr));
}

DWORD OPTReset(DWORD ms) {
  DWORD unused = 0;
  DWORD returned = 0;
  SendControl(kResetSelector, 1, &unused, &returned);
  Sleep(ms);
  return static_cast<DWORD>(SendControl(kResetSelector, 0, &unused, &returned));
}

}  // extern "C"
