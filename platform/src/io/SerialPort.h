// A "COMn:" port backed by a host serial device (a tty or a pseudo-terminal).
// Like a serial driver it keeps its own receive buffer: one read(2) takes
// what has arrived and small ReadFile calls are served from the buffer.
//
// A port has one user at a time: a second open with read or write access
// fails with ERROR_ACCESS_DENIED until the first handle is closed, whatever
// the share modes say (as serial drivers do). Opens without read or write
// access may look at the port's state.
//
// When the device goes away (the far side of a pty closes, an adapter is
// unplugged) the port fails its calls as a removed device does: reads (once
// what had arrived is taken), writes and waits for characters fail at once
// with ERROR_DEVICE_REMOVED, for good. The device is reached again only by
// opening the port anew.
//
// The serial calls (SetCommState, WaitCommEvent, ...) reach the port as the
// serial I/O controls that a stream driver's IOControl takes (IoControl),
// with the same buffers; so does DeviceIoControl.
//
// Threads: ReadFile, WaitCommEvent and WriteFile may run at the same time in
// different threads. Closing the last handle wakes every pending call, which
// then fails with ERROR_INVALID_HANDLE; the descriptor itself is closed only
// when the last reference (held by such calls through the handle table)
// goes away.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "FileObject.h"
#include "SectionMutex.h"
#include "Status.h"
#include "win/files.h"

namespace handheld {
struct SerialLines;
struct FarEndLines;
}

namespace handheld::detail {

class SerialPort : public FileObject {
 public:
  // Opens a host device (HostSerialDriver finds it for a port name).
  static std::shared_ptr<SerialPort> OpenDevice(const std::string& hostDevice, DWORD access,
                                                Status* error);

  SerialPort(int fd, int closeFd, int maskFd, DWORD access, std::string exclusiveKey);
  ~SerialPort() override;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  Status Read(void* buffer, DWORD count, DWORD* done) override;
  Status Write(const void* buffer, DWORD count, DWORD* done) override;
  Status Flush() override;
  // One serial I/O control (IOCTL_SERIAL_*): a buffer too small for its
  // code is ERROR_INSUFFICIENT_BUFFER, a code of no serial call
  // ERROR_INVALID_PARAMETER.
  Status IoControl(DWORD code, void* in, DWORD inBytes, void* out, DWORD outBytes,
                   DWORD* returned) override;
  void OnClose() override;

  SerialLines Lines();
  void SetFarEnd(const FarEndLines& lines);

 private:
  Status GetState(DCB* dcb);
  Status SetState(const DCB& dcb);
  Status GetTimeouts(COMMTIMEOUTS* timeouts);
  Status SetTimeouts(const COMMTIMEOUTS& timeouts);
  Status SetMask(DWORD mask);
  Status GetMask(DWORD* mask);
  Status WaitEvent(DWORD* mask);
  Status Purge(DWORD flags);
  // The codes without buffers: the modem lines, flow and break.
  Status Escape(DWORD code);
  Status ModemStatus(DWORD* status);
  bool Setup();
  // What a read's time-outs make of it, worked out once a call.
  struct ReadRules {
    bool immediate = false;  // returns what is there at once
    bool anyByte = false;    // returns as soon as anything is there
    bool hasTotal = false;
    uint64_t totalMs = 0;
    DWORD intervalMs = 0;  // the longest gap between bytes; 0: no limit
    static ReadRules For(const COMMTIMEOUTS& t, DWORD count);
  };
  // Takes up to `count` buffered bytes, refilling the buffer from the
  // device (without blocking) when it is empty; with `skipDrained`, not
  // when the last refill found the device's queue empty (the caller is
  // about to poll, which tells as soon as anything came).
  size_t TakeBuffered(uint8_t* out, size_t count, bool skipDrained = false);
  // Takes `count` bytes when the buffer holds that many, else nothing.
  bool TakeWhole(uint8_t* out, size_t count);
  // A read the buffer did not serve whole: waits as the time-outs say.
  Status ReadWaiting(uint8_t* out, DWORD count, DWORD* done);
  bool DataAvailable();
  size_t RefillLocked();  // rxMutex_ held
  // Sleeps until the device has input (when `watchDevice`), the port is
  // closed, the event mask changes (when `watchMask`) or `timeoutMs` passes
  // (-1: no limit).
  void PollInput(int timeoutMs, bool watchDevice, bool watchMask);
  void SetLine(int line, bool on);
  void ReleaseExclusive();

  const int fd_;
  const int closeFd_;  // eventfd, signalled for good when the port closes
  const int maskFd_;   // eventfd, signalled when SetCommMask changes the mask
  const DWORD access_;
  std::atomic<bool> closed_{false};
  std::atomic<bool> hungUp_{false};
  std::atomic<bool> discardNulls_{false};

  std::mutex exclusiveMutex_;
  std::string exclusiveKey_;  // empty once released

  std::mutex stateMutex_;  // never held across a blocking call
  DCB dcb_{};
  COMMTIMEOUTS timeouts_{};
  DWORD eventMask_ = 0;
  uint64_t maskGeneration_ = 0;
  bool dtr_ = false;
  bool rts_ = false;
  int farEnd_ = 0;  // TIOCM_* lines recorded for a device without modem lines

  SectionMutex rxMutex_;  // never held across a blocking call; taken once a byte
  uint8_t rx_[4096];
  size_t rxBegin_ = 0;
  size_t rxEnd_ = 0;
  // The last read(2) took all the device held (it returned less than asked,
  // or nothing): a wait that is coming can poll before it reads again.
  bool drained_ = false;

  std::mutex txMutex_;    // keeps one WriteFile's bytes together
  std::mutex waitMutex_;  // one WaitCommEvent at a time
};

}  // namespace handheld::detail
