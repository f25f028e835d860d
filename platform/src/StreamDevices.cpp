#include "StreamDevices.h"

#include <mutex>
#include <utility>

namespace handheld::detail {
namespace {

std::mutex openerMutex;
StreamDevices::Opener& TheOpener() {
  static StreamDevices::Opener* opener = new StreamDevices::Opener;
  return *opener;
}

bool IsAsciiLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

}  // namespace

StreamDevices::Opener StreamDevices::SetOpener(Opener opener) {
  std::lock_guard<std::mutex> lock(openerMutex);
  return std::exchange(TheOpener(), std::move(opener));
}

bool StreamDevices::IsDeviceName(const std::u16string& name) {
  return name.size() == 5 && IsAsciiLetter(name[0]) && IsAsciiLetter(name[1]) &&
         IsAsciiLetter(name[2]) && name[3] >= u'0' && name[3] <= u'9' && name[4] == u':';
}

std::shared_ptr<FileObject> StreamDevices::Open(const std::u16string& name, DWORD access,
                                                DWORD shareMode, DWORD* error) {
  Opener opener;
  {
    std::lock_guard<std::mutex> lock(openerMutex);
    opener = TheOpener();
  }
  if (!opener) {
    *error = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  *error = ERROR_SUCCESS;
  std::shared_ptr<FileObject> device = opener(name, access, shareMode, error);
  if (!device && *error == ERROR_SUCCESS) *error = ERROR_FILE_NOT_FOUND;
  return device;
}

}  // namespace handheld::detail
