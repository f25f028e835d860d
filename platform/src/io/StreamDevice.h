// A stream driver loaded by the device manager: its library, its entry
// points and the device context its Init returned. It is the object behind
// the device handle (kind kDevice) and the driver that the table of
// activated devices opens by name.
//
// Lifetime: the library stays loaded as long as the device object lives,
// that is while it is active or a handle opened on it is still open, so no
// call ever runs in an unloaded library. Once removed, the device refuses
// new opens and calls with ERROR_DEVICE_REMOVED and no longer calls its
// driver's Close.
//
// Threads: calls into the driver run without any lock of the device's own,
// so a driver may call the device manager (a bus driver activates its
// clients) and one open's call may block while another thread closes it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "DeviceTable.h"
#include "HandleTable.h"

namespace handheld::detail {

class StreamDevice : public DeviceDriver,
                     public HandleObject,
                     public std::enable_shared_from_this<StreamDevice> {
 public:
  using InitEntry = DWORD (*)(LPCWSTR, LPCVOID);
  using DeinitEntry = BOOL (*)(DWORD);
  using OpenEntry = DWORD (*)(DWORD, DWORD, DWORD);
  using CloseEntry = BOOL (*)(DWORD);
  using ReadEntry = DWORD (*)(DWORD, LPVOID, DWORD);
  using WriteEntry = DWORD (*)(DWORD, LPCVOID, DWORD);
  using SeekEntry = DWORD (*)(DWORD, LONG, DWORD);
  using IoControlEntry = BOOL (*)(DWORD, DWORD, LPBYTE, DWORD, LPBYTE, DWORD, LPDWORD);

  // Takes over one reference of the loaded `module` and looks up the entry
  // points with `prefix` ("OPT" -> "OPT_Init"; none without a prefix).
  // ERROR_PROC_NOT_FOUND without Init and Deinit.
  static std::shared_ptr<StreamDevice> Load(void* module, const std::u16string& prefix,
                                            Status* status);
  ~StreamDevice() override;

  // The driver's Init with the path of its active record; on success the
  // device context is kept. Init's failure is its last error (or
  // ERROR_OPEN_FAILED when it set none).
  Status Init(const std::u16string& activePath, LPCVOID busContext);
  // The end of the device's activation, for the device manager: active
  // (Activated), or failed after Init (Abandon: the device is marked
  // removed, and Deinit called when Init succeeded).
  void Activated();
  void Abandon(bool initialized);
  // Marks the device removed and calls the driver's Deinit. The handle and
  // the record are there before the activation ends (Init reads its
  // record), so a removal that comes earlier waits for that end.
  // ERROR_INVALID_HANDLE when it was removed already or its activation
  // failed; ERROR_BUSY, the
  // device staying active, when Deinit refuses (returns FALSE: a driver in
  // use by an application).
  Status Remove();
  bool Removed() const { return removed_; }

  std::shared_ptr<FileObject> Open(DWORD access, DWORD shareMode, Status* status) override;

  // The calls of one open, for the file object of that open.
  Status Read(DWORD open, void* buffer, DWORD count, DWORD* done);
  Status Write(DWORD open, const void* buffer, DWORD count, DWORD* done);
  Status Seek(DWORD open, int64_t distance, DWORD method, uint64_t* position);
  Status IoControl(DWORD open, DWORD code, void* in, DWORD inBytes, void* out, DWORD outBytes,
                   DWORD* returned);
  void Close(DWORD open);

  // What the device manager keeps with it.
  std::u16string name;    // device name ("OPT1:"), empty without a prefix
  std::u16string record;  // subkey of "Drivers\Active"
  HANDLE handle = nullptr;

 private:
  StreamDevice() = default;
  // The driver's last error after a call that failed, ERROR_GEN_FAILURE
  // when it set none.
  static Status DriverError();

  void* module_ = nullptr;
  InitEntry init_ = nullptr;
  DeinitEntry deinit_ = nullptr;
  OpenEntry open_ = nullptr;
  CloseEntry close_ = nullptr;
  ReadEntry read_ = nullptr;
  WriteEntry write_ = nullptr;
  SeekEntry seek_ = nullptr;
  IoControlEntry ioControl_ = nullptr;
  DWORD context_ = 0;
  std::atomic<bool> removed_{false};
  enum class Activation { kRunning, kActive, kFailed };
  std::mutex activationMutex_;
  std::condition_variable activationEnded_;
  Activation activation_ = Activation::kRunning;
};

}  // namespace handheld::detail
