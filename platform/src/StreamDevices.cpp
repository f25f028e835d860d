#include "StreamDevices.h"

#include <mutex>
#include <utility>

#include "ProcessLifetime.h"

namespace handheld::detail {
namespace {

struct OpenerSlot {
  std::mutex mutex;
  StreamDevices::Opener opener;
};

bool IsAsciiLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

}  // namespace

StreamDevices::Opener StreamDevices::SetOpener(Opener opener) {
  OpenerSlot& slot = ProcessLifetime<OpenerSlot>::Get();
  std::lock_guard<std::mutex> lock(slot.mutex);
  return std::exchange(slot.opener, std::move(opener));
}

bool StreamDevices::IsDeviceName(const std::u16string& name) {
  return name.size() == 5 && IsAsciiLetter(name[0]) && IsAsciiLetter(name[1]) &&
         IsAsciiLetter(name[2]) && name[3] >= u'0' && name[3] <= u'9' && name[4] == u':';
}

std::shared_ptr<FileObject> StreamDevices::Open(const std::u16string& name, DWORD access,
                                                DWORD shareMode, Status* error) {
  Opener opener;
  {
    OpenerSlot& slot = ProcessLifetime<OpenerSlot>::Get();
    std::lock_guard<std::mutex> lock(slot.mutex);
    opener = slot.opener;
  }
  if (!opener) {
    *error = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  *error = Status::Ok();
  std::shared_ptr<FileObject> device = opener(name, access, shareMode, error);
  if (!device && error->ok()) *error = ERROR_FILE_NOT_FOUND;
  return device;
}

}  // namespace handheld::detail
