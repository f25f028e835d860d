#include "DeviceTable.h"

#include <map>
#include <mutex>

#include "DeviceFolder.h"
#include "HostSerialDriver.h"
#include "NameFold.h"
#include "ProcessLifetime.h"
#include "Trace.h"

namespace handheld::detail {
namespace {

// The devices activated in this process, by folded name.
struct Activated {
  std::mutex mutex;
  std::map<std::u16string, std::shared_ptr<DeviceDriver>> drivers;
};

bool IsAsciiLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

}  // namespace

bool DeviceTable::IsDeviceName(const std::u16string& name) {
  return name.size() == 5 && IsAsciiLetter(name[0]) && IsAsciiLetter(name[1]) &&
         IsAsciiLetter(name[2]) && name[3] >= u'0' && name[3] <= u'9' && name[4] == u':';
}

Status DeviceTable::Activate(const std::u16string& name, std::shared_ptr<DeviceDriver> driver) {
  if (!IsDeviceName(name) || !driver) return ERROR_INVALID_NAME;
  Activated& activated = ProcessLifetime<Activated>::Get();
  std::lock_guard<std::mutex> lock(activated.mutex);
  if (!activated.drivers.emplace(NameFold::Fold(name), std::move(driver)).second)
    return ERROR_ALREADY_EXISTS;
  return Status::Ok();
}

Status DeviceTable::Deactivate(const std::u16string& name) {
  std::shared_ptr<DeviceDriver> gone;  // released outside the lock
  Activated& activated = ProcessLifetime<Activated>::Get();
  std::lock_guard<std::mutex> lock(activated.mutex);
  auto it = activated.drivers.find(NameFold::Fold(name));
  if (it == activated.drivers.end()) return ERROR_FILE_NOT_FOUND;
  gone = std::move(it->second);
  activated.drivers.erase(it);
  return Status::Ok();
}

bool DeviceTable::Has(const std::u16string& name) {
  Activated& activated = ProcessLifetime<Activated>::Get();
  std::lock_guard<std::mutex> lock(activated.mutex);
  return activated.drivers.count(NameFold::Fold(name)) != 0;
}

std::shared_ptr<FileObject> DeviceTable::Open(const std::u16string& name, DWORD access,
                                              DWORD shareMode, Status* status) {
  std::shared_ptr<DeviceDriver> driver;
  {
    Activated& activated = ProcessLifetime<Activated>::Get();
    std::lock_guard<std::mutex> lock(activated.mutex);
    auto it = activated.drivers.find(NameFold::Fold(name));
    if (it != activated.drivers.end()) driver = it->second;
  }
  std::shared_ptr<FileObject> device;
  if (driver) {
    *status = Status::Ok();
    device = driver->Open(access, shareMode, status);
    if (!device && status->ok()) *status = ERROR_GEN_FAILURE;
  } else {
    bool listed = false;
    device = HostSerialDriver::OpenListed(name, access, &listed, status);
  }
  if (!device)
    Trace::Write(TraceChannel::kDevice, "open of %s refused: error %u", ToUtf8(name).c_str(),
                 static_cast<unsigned>(status->code()));
  return device;
}

}  // namespace handheld::detail
