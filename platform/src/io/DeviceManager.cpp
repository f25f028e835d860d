#include "DeviceManager.h"

#include <mutex>
#include <set>

#include "DeviceTable.h"
#include "HandleTable.h"
#include "ModuleLoader.h"
#include "NameFold.h"
#include "ProcessLifetime.h"
#include "StreamDevice.h"
#include "Trace.h"
#include "handheld.h"

namespace handheld::detail {
namespace {

// Device names chosen by activations still under way, so two of them never
// choose the same one.
struct Reservations {
  std::mutex mutex;
  std::set<std::u16string> names;  // folded
};

// What a driver key says about loading its driver.
struct DriverKey {
  std::u16string dll;
  std::u16string prefix;
  bool hasIndex = false;
  DWORD index = 0;
};

bool IsPrefix(const std::u16string& prefix) {
  return prefix.size() == 3 && DeviceTable::IsDeviceName(prefix + u"0:");
}

Status ReadDriverKey(const std::u16string& path, DriverKey* key) {
  HKEY driver = nullptr;
  LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, 0, &driver);
  if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
  Status status = Status::Ok();
  if (!ActiveList::ReadText(driver, u"Dll", &key->dll) || key->dll.empty()) {
    status = ERROR_INVALID_PARAMETER;
  } else if (ActiveList::ReadText(driver, u"Prefix", &key->prefix) && !key->prefix.empty() &&
             !IsPrefix(key->prefix)) {
    status = ERROR_INVALID_PARAMETER;
  } else {
    DWORD type = REG_NONE;
    DWORD bytes = sizeof key->index;
    key->hasIndex = RegQueryValueExW(driver, u"Index", nullptr, &type,
                                     reinterpret_cast<LPBYTE>(&key->index),
                                     &bytes) == ERROR_SUCCESS &&
                    type == REG_DWORD && bytes == sizeof key->index;
    if (key->hasIndex && key->index > 9) status = ERROR_INVALID_PARAMETER;
  }
  RegCloseKey(driver);
  return status;
}

// Whether a device of this process or a record of any process uses the name.
bool NameInUse(const std::u16string& name) {
  std::u16string driverKey;
  return DeviceTable::Has(name) || ActiveList::FindByName(name, &driverKey);
}

// Reserves the device name: "Index" when given, else the first free one of
// 1 to 9, then 0.
Status ReserveName(const DriverKey& key, std::u16string* name) {
  Reservations& reservations = ProcessLifetime<Reservations>::Get();
  std::lock_guard<std::mutex> lock(reservations.mutex);
  for (DWORD index : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 0u}) {
    if (key.hasIndex && index != key.index) continue;
    std::u16string candidate = key.prefix + static_cast<char16_t>(u'0' + index) + u":";
    if (reservations.names.count(NameFold::Fold(candidate)) || NameInUse(candidate)) continue;
    reservations.names.insert(NameFold::Fold(candidate));
    *name = candidate;
    return Status::Ok();
  }
  return ERROR_DEVICE_IN_USE;
}

void ReleaseName(const std::u16string& name) {
  Reservations& reservations = ProcessLifetime<Reservations>::Get();
  std::lock_guard<std::mutex> lock(reservations.mutex);
  reservations.names.erase(NameFold::Fold(name));
}

}  // namespace

Status DeviceManager::Activate(const std::u16string& driverKey,
                               std::vector<ActiveList::Value> values, LPCVOID busContext,
                               HANDLE* device) {
  *device = nullptr;
  DriverKey key;
  Status status = ReadDriverKey(driverKey, &key);
  if (!status.ok()) return status;
  std::u16string name;
  if (!key.prefix.empty()) {
    status = ReserveName(key, &name);
    if (!status.ok()) return status;
  }
  void* module = nullptr;
  status = ModuleLoader::Instance().Load(key.dll, &module);
  std::shared_ptr<StreamDevice> driver;
  if (status.ok()) driver = StreamDevice::Load(module, key.prefix, &status);
  if (!status.ok()) {
    if (module && !driver) static_cast<void>(ModuleLoader::Instance().Free(module));
    if (!name.empty()) ReleaseName(name);
    return status;
  }
  driver->name = name;
  driver->handle = HandleTable::Add(HandleKind::kDevice, driver);

  // "Key" comes last: readers find a record by it, and then find it whole.
  if (!name.empty()) values.insert(values.begin(), ActiveList::Value::Text(u"Name", name));
  values.push_back(ActiveList::Value::Number(
      u"Hnd", static_cast<DWORD>(reinterpret_cast<uintptr_t>(driver->handle))));
  values.push_back(ActiveList::Value::Text(u"Key", driverKey));
  status = ActiveList::Add(values, &driver->record);
  bool initialized = false;
  if (status.ok()) {
    status = driver->Init(u"Drivers\\Active\\" + driver->record, busContext);
    initialized = status.ok();
  }
  if (status.ok() && !name.empty()) status = DeviceTable::Activate(name, driver);
  if (!name.empty()) ReleaseName(name);
  if (!status.ok()) {
    driver->Abandon(initialized);
    ActiveList::Remove(driver->record);
    static_cast<void>(HandleTable::Remove(HandleKind::kDevice, driver->handle));
    Trace::Write(TraceChannel::kDevice, "activation of %s failed: error %u",
                 ToUtf8(driverKey).c_str(), static_cast<unsigned>(status.code()));
    return status;
  }
  driver->Activated();
  Trace::Write(TraceChannel::kDevice, "%s activated from %s as Drivers\\Active\\%s",
               ToUtf8(name).c_str(), ToUtf8(driverKey).c_str(), ToUtf8(driver->record).c_str());
  *device = driver->handle;
  return Status::Ok();
}

Status DeviceManager::Deactivate(HANDLE device) {
  auto driver = HandleTable::LookupAs<StreamDevice>(HandleKind::kDevice, device);
  if (!driver) return ERROR_INVALID_HANDLE;
  Status status = driver->Remove();
  if (!status.ok()) return status;
  if (!driver->name.empty()) static_cast<void>(DeviceTable::Deactivate(driver->name));
  ActiveList::Remove(driver->record);
  static_cast<void>(HandleTable::Remove(HandleKind::kDevice, device));
  Trace::Write(TraceChannel::kDevice, "%s deactivated", ToUtf8(driver->name).c_str());
  return Status::Ok();
}

}  // namespace handheld::detail
