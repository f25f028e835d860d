// A module that a test loads with dlopen. It makes an event, a thread and a
// registry key through the platform and signals an event the host made, so
// the host can check that both sides share one handle table.
#include "windows.h"

namespace {

DWORD SignalAndExit(LPVOID event) {
  SetEvent(static_cast<HANDLE>(event));
  return 7;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) BOOL ModuleMakeObjects(HANDLE hostEvent,
                                                                          HANDLE* event,
                                                                          HANDLE* thread,
                                                                          HKEY* key) {
  if (!SetEvent(hostEvent)) return FALSE;
  *event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!*event) return FALSE;
  *thread = CreateThread(nullptr, 0, SignalAndExit, *event, 0, nullptr);
  if (!*thread) return FALSE;
  DWORD disposition = 0;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Module", 0, nullptr, 0, 0, nullptr, key,
                      &disposition) != ERROR_SUCCESS)
    return FALSE;
  DWORD made = 1;
  return RegSetValueExW(*key, u"Made", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&made),
                        sizeof made) == ERROR_SUCCESS;
}
