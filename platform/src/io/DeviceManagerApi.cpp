// ActivateDevice, ActivateDeviceEx and DeactivateDevice; the list of the
// drivers they loaded.
#include <vector>

#include "ActiveList.h"
#include "DeviceManager.h"
#include "handheld.h"
#include "win/core.h"
#include "win/devices.h"

using handheld::detail::ActiveList;
using handheld::detail::DeviceManager;
using handheld::detail::ReportStatus;

HANDLE ActivateDeviceEx(LPCWSTR devKey, const REGINI* regEnts, DWORD count, LPVOID param) {
  if (!devKey || (count > 0 && !regEnts)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::vector<ActiveList::Value> values;
  for (DWORD i = 0; i < count; ++i) {
    const REGINI& entry = regEnts[i];
    if (!entry.lpszVal || (entry.dwLen > 0 && !entry.pData)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    values.push_back({entry.lpszVal, entry.dwType,
                      std::vector<BYTE>(entry.pData, entry.pData + entry.dwLen)});
  }
  HANDLE device = nullptr;
  if (!ReportStatus(DeviceManager::Activate(devKey, std::move(values), param, &device)))
    return nullptr;
  return device;
}

HANDLE ActivateDevice(LPCWSTR devKey, DWORD clientInfo) {
  REGINI info = {u"ClientInfo", reinterpret_cast<LPBYTE>(&clientInfo), sizeof clientInfo,
                 REG_DWORD};
  return ActivateDeviceEx(devKey, &info, 1, nullptr);
}

BOOL DeactivateDevice(HANDLE device) { return ReportStatus(DeviceManager::Deactivate(device)); }

std::vector<handheld::ActiveDriver> handheld::ActiveDrivers() { return ActiveList::Records(); }
