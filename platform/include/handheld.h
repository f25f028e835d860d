// Controls of the simulated handheld for its host, tools and tests. The
// deliverables never include this header.
#pragma once

#include <functional>
#include <string>

#include "windows.h"

// Exported from the platform's shared library; everything else in it is
// hidden.
#pragma GCC visibility push(default)

namespace handheld {

// The device folder holds the registry hive ("registry.db") and the root of
// the handheld's file system ("files/"). It is $HANDHELD_DEVICE when set,
// else $XDG_DATA_HOME/handheld, else ~/.local/share/handheld. Setting it
// explicitly (tests do, with a temporary folder) takes effect for every
// later call; call it before other threads use the platform.
void SetDeviceFolder(const std::string& path);
std::string DeviceFolder();

// Host path of a path on the handheld's file system.
std::string HostPath(const std::u16string& devicePath);

// Serial ports: the driver key that a "Drivers\Active" entry's "Key" names
// carries the host device (a tty or a pseudo-terminal) in this REG_SZ value.
inline constexpr const char16_t* kHostDeviceValue = u"HostDevice";

// Lists a host serial device as port `portName` ("COM3:"): creates the
// driver key `driverKey` with its host device and an active entry under
// "Drivers\Active" whose "Key" and "Name" point at it. Returns the active
// entry's subkey name.
std::u16string RegisterSerialPort(const std::u16string& portName, const std::u16string& driverKey,
                                  const std::string& hostDevice);

// Modem control lines as the port last set them (ptys have none of their
// own, so the port records what it was asked for).
struct SerialLines {
  bool dtr;
  bool rts;
};
bool GetSerialLines(HANDLE port, SerialLines* lines);

// Message boxes. A presenter shows a box and returns the chosen button.
// Headless, the default presenter prints the box on standard error and
// returns the default button. Tests install a responder.
struct MessageBoxRequest {
  HWND owner;
  std::u16string text;
  std::u16string caption;
  UINT type;
};
using MessageBoxPresenter = std::function<int(const MessageBoxRequest&)>;
// Installs a presenter (an empty one restores the default) and returns the
// one it replaced.
MessageBoxPresenter SetMessageBoxPresenter(MessageBoxPresenter presenter);
// The button a box of this style chooses by default (IDOK, IDYES, ...).
int DefaultMessageBoxButton(UINT type);

// UTF-16 <-> UTF-8 for tools and tests.
std::string ToUtf8(const std::u16string& text);
std::u16string FromUtf8(const std::string& text);

}  // namespace handheld

#pragma GCC visibility pop
