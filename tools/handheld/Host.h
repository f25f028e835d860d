// The handheld host: the kernel side of one simulated handheld in one
// process. It boots the device (the volatile "Drivers\Active" list cleared,
// the built-in drivers activated in their "Order"), and through the
// platform it hosts the device manager, the OEM layer's sleeve connector,
// the identity publisher, the sleeve notification and the package
// installer. Beside itself it runs the receiver simulator and the viewer as
// child processes.
//
// Commands come as words, from the command line or the control channel
// (Answer), and every command prints what it did on the host's console. One
// command runs at a time; Watch, on the host's main thread, takes its turn
// between them.
#pragma once

#include <sys/types.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ChildProgram.h"
#include "CommandLine.h"
#include "HostOptions.h"
#include "ReceiverRate.h"

class Host {
 public:
  struct Programs {
    std::string receiverSim;
    std::string viewer;
  };
  explicit Host(Programs programs);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Boots the handheld in the current device folder.
  bool Boot(std::string* reason);

  // One command of Commands() (install, receiver, start, status, ...).
  // False with a one-line reason when it cannot be done.
  bool Run(const std::vector<std::string>& words, std::string* reason);

  // The control channel's handler: the words separated by tabs in; "ok" or
  // "error <reason>" out, followed by the lines the command printed.
  std::string Answer(const std::string& line);

  // Looks after the children (a viewer or simulator that ended, the
  // viewer's version query, the screenshots). True once the viewer has
  // ended by itself with an exit code (given in *viewerCode).
  bool Watch(int* viewerCode);

  // The viewer ended, the drivers deinitialised, the simulator ended, the
  // sleeve taken off. Asked for by `shutdown`; done at most once.
  void Shutdown();
  bool ShutDown() const;
  // True once the host shut down because its device folder's hive was
  // removed or replaced under it (checked by Watch).
  bool Lost() const { return folderLost_; }

  // Whether a screenshot can be written at `path` (its folder there and
  // writable); false with the reason.
  static bool CheckScreenshotPath(const std::string& path, std::string* reason);
  // Whether `device` can be a receiver: a terminal (serial device or
  // pseudo-terminal) that opens; false with the reason.
  static bool CheckReceiverDevice(const std::string& device, std::string* reason);

  // Cuts the rate hunt short once `stopped` answers true (the typical
  // run's Ctrl-C).
  void SetStopTest(std::function<bool()> stopped) { stopped_ = std::move(stopped); }

  // The commands that Run and Answer take, with their arguments and help.
  static const std::vector<CommandLine::Command<Host>>& Commands();

 private:
  using Clock = std::chrono::steady_clock;

  void Say(const std::string& line);
  bool Dispatch(const std::vector<std::string>& words, std::string* reason);
  bool Install(const std::string& cabinet, std::string* reason);
  bool Uninstall(const std::string& packageName, std::string* reason);
  bool Insert(DWORD sleeveId, std::string* reason);
  bool Remove(std::string* reason);
  // The one place where a receiver device is taken into use: checked and
  // named in the serial client keys' "HostDevice".
  bool UseReceiverDevice(const std::string& device, std::string* reason);
  // A real receiver's line rate: found (or `givenBaud`, 0 to hunt) and
  // brought to the viewer's 57600 baud; given back as found at shutdown
  // unless `keepRate`.
  void BringReceiverToViewerRate(const std::string& device, int givenBaud, bool keepRate);
  void GiveReceiverRateBack();
  bool SimulateReceiver(const std::vector<std::string>& simulatorArguments,
                        const std::string& description, std::string* reason);
  bool StartViewer(bool headless, const std::string& screenshot, std::string* reason);
  bool Post(const std::vector<std::string>& words, std::string* reason);
  bool Screenshot(const std::string& path, std::string* reason);
  bool Status(std::string* reason);
  bool FolderLost();
  void ShutdownLocked();
  // The receiver device in every serial client key.
  int PointClientKeys();
  void StopSimulator();
  void StopViewer();
  std::string ViewerCommand(const std::string& command);
  void SetViewerCursor(bool wait);
  void WatchVersionQuery();

  const Programs programs_;
  std::recursive_mutex mutex_;
  std::vector<std::string>* transcript_ = nullptr;  // while a command from outside runs
  bool booted_ = false;
  std::pair<dev_t, ino_t> hiveFile_{};  // the hive booted on
  std::atomic<bool> folderLost_{false};
  std::atomic<bool> shutDown_{false};  // read by the main thread unlocked

  std::string receiverDevice_;
  std::unique_ptr<ReceiverRate> receiverRate_;  // a real receiver's, once hunted
  bool keepRate_ = false;
  std::function<bool()> stopped_;
  ChildProgram simulator_;
  std::string simulatorDescription_;

  ChildProgram viewer_;
  bool viewerHeadless_ = false;
  std::string screenshot_;
  Clock::time_point lastScreenshot_{};
  std::string viewerEnded_;  // how it ended
  bool titleShown_ = false;
  bool versionWait_ = false;
  Clock::time_point versionStart_{}, versionProgress_{}, lastCursorLook_{};
};
