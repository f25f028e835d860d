// One open of a stream device: what CreateFile hands out for "OPT1:". Each
// call goes to the driver's entry point with the open context that its Open
// returned; closing the last handle calls its Close.
#pragma once

#include <memory>

#include "FileObject.h"
#include "StreamDevice.h"

namespace handheld::detail {

class StreamDeviceFile : public FileObject {
 public:
  StreamDeviceFile(std::shared_ptr<StreamDevice> device, DWORD open)
      : device_(std::move(device)), open_(open) {}

  Status Read(void* buffer, DWORD count, DWORD* done) override {
    return device_->Read(open_, buffer, count, done);
  }
  Status Write(const void* buffer, DWORD count, DWORD* done) override {
    return device_->Write(open_, buffer, count, done);
  }
  Status Seek(int64_t distance, DWORD method, uint64_t* position) override {
    return device_->Seek(open_, distance, method, position);
  }
  Status IoControl(DWORD code, void* in, DWORD inBytes, void* out, DWORD outBytes,
                   DWORD* returned) override {
    return device_->IoControl(open_, code, in, inBytes, out, outBytes, returned);
  }
  void OnClose() override { device_->Close(open_); }

 private:
  const std::shared_ptr<StreamDevice> device_;
  const DWORD open_;
};

}  // namespace handheld::detail
