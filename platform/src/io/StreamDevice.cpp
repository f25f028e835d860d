#include "StreamDevice.h"

#include "ModuleLoader.h"
#include "StreamDeviceFile.h"
#include "win/core.h"
#include "win/devices.h"
#include "win/kernel.h"

namespace handheld::detail {
namespace {

constexpr DWORD kFailedCount = 0xFFFFFFFFu;

template <class Entry>
Entry Find(void* module, const std::u16string& prefix, const char16_t* name) {
  std::u16string full = prefix.empty() ? std::u16string(name) : prefix + u"_" + name;
  void* procedure = nullptr;
  if (!ModuleLoader::Instance().Procedure(module, full, &procedure).ok()) return nullptr;
  return reinterpret_cast<Entry>(procedure);
}

}  // namespace

std::shared_ptr<StreamDevice> StreamDevice::Load(void* module, const std::u16string& prefix,
                                                 Status* status) {
  std::shared_ptr<StreamDevice> device(new StreamDevice());
  device->module_ = module;  // freed with the device from here on
  device->init_ = Find<InitEntry>(module, prefix, u"Init");
  device->deinit_ = Find<DeinitEntry>(module, prefix, u"Deinit");
  device->open_ = Find<OpenEntry>(module, prefix, u"Open");
  device->close_ = Find<CloseEntry>(module, prefix, u"Close");
  device->read_ = Find<ReadEntry>(module, prefix, u"Read");
  device->write_ = Find<WriteEntry>(module, prefix, u"Write");
  device->seek_ = Find<SeekEntry>(module, prefix, u"Seek");
  device->ioControl_ = Find<IoControlEntry>(module, prefix, u"IOControl");
  if (!device->init_ || !device->deinit_) {
    *status = ERROR_PROC_NOT_FOUND;
    return nullptr;
  }
  *status = Status::Ok();
  return device;
}

StreamDevice::~StreamDevice() {
  if (module_) static_cast<void>(ModuleLoader::Instance().Free(module_));
}

// The driver is foreign code that reports failure through the thread's
// last error, so the error is cleared before each call that may fail and
// read back after it.
Status StreamDevice::DriverError() {
  DWORD error = GetLastError();
  return error != ERROR_SUCCESS ? Status(error) : Status(ERROR_GEN_FAILURE);
}

Status StreamDevice::Init(const std::u16string& activePath, LPCVOID busContext) {
  SetLastError(ERROR_SUCCESS);
  context_ = init_(activePath.c_str(), busContext);
  if (context_ != 0) return Status::Ok();
  DWORD error = GetLastError();
  return error != ERROR_SUCCESS ? Status(error) : Status(ERROR_OPEN_FAILED);
}

void StreamDevice::Activated() {
  {
    std::lock_guard<std::mutex> lock(activationMutex_);
    activation_ = Activation::kActive;
  }
  activationEnded_.notify_all();
}

void StreamDevice::Abandon(bool initialized) {
  removed_ = true;
  if (initialized) deinit_(context_);
  {
    std::lock_guard<std::mutex> lock(activationMutex_);
    activation_ = Activation::kFailed;
  }
  activationEnded_.notify_all();
}

Status StreamDevice::Remove() {
  {
    std::unique_lock<std::mutex> lock(activationMutex_);
    activationEnded_.wait(lock, [this] { return activation_ != Activation::kRunning; });
    if (activation_ == Activation::kFailed) return ERROR_INVALID_HANDLE;
  }
  if (removed_.exchange(true)) return ERROR_INVALID_HANDLE;
  if (!deinit_(context_)) {
    removed_ = false;
    return ERROR_BUSY;
  }
  return Status::Ok();
}

std::shared_ptr<FileObject> StreamDevice::Open(DWORD access, DWORD shareMode, Status* status) {
  if (removed_) {
    *status = ERROR_DEVICE_REMOVED;
    return nullptr;
  }
  if (!open_) {
    *status = ERROR_NOT_SUPPORTED;
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  DWORD open = open_(context_, access, shareMode);
  if (open == 0) {
    *status = DriverError();
    return nullptr;
  }
  *status = Status::Ok();
  return std::make_shared<StreamDeviceFile>(shared_from_this(), open);
}

Status StreamDevice::Read(DWORD open, void* buffer, DWORD count, DWORD* done) {
  *done = 0;
  if (removed_) return ERROR_DEVICE_REMOVED;
  if (!read_) return ERROR_NOT_SUPPORTED;
  SetLastError(ERROR_SUCCESS);
  DWORD result = read_(open, buffer, count);
  if (result == kFailedCount) return DriverError();
  *done = result;
  return Status::Ok();
}

Status StreamDevice::Write(DWORD open, const void* buffer, DWORD count, DWORD* done) {
  *done = 0;
  if (removed_) return ERROR_DEVICE_REMOVED;
  if (!write_) return ERROR_NOT_SUPPORTED;
  SetLastError(ERROR_SUCCESS);
  DWORD result = write_(open, buffer, count);
  if (result == kFailedCount) return DriverError();
  *done = result;
  return Status::Ok();
}

Status StreamDevice::Seek(DWORD open, int64_t distance, DWORD method, uint64_t* position) {
  if (removed_) return ERROR_DEVICE_REMOVED;
  if (!seek_) return ERROR_NOT_SUPPORTED;
  SetLastError(ERROR_SUCCESS);
  DWORD result = seek_(open, static_cast<LONG>(distance), method);
  if (result == kFailedCount) return DriverError();
  *position = result;
  return Status::Ok();
}

Status StreamDevice::IoControl(DWORD open, DWORD code, void* in, DWORD inBytes, void* out,
                               DWORD outBytes, DWORD* returned) {
  *returned = 0;
  if (removed_) return ERROR_DEVICE_REMOVED;
  if (!ioControl_) return ERROR_NOT_SUPPORTED;
  SetLastError(ERROR_SUCCESS);
  if (!ioControl_(open, code, static_cast<LPBYTE>(in), inBytes, static_cast<LPBYTE>(out),
                  outBytes, returned))
    return DriverError();
  return Status::Ok();
}

void StreamDevice::Close(DWORD open) {
  if (!removed_ && close_) close_(open);
}

}  // namespace handheld::detail
