// Controls of the simulated handheld for its host, tools and tests. The
// deliverables never include this header.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

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

// Whether the device folder's registry hive can be used: false with the
// reason (such as "file is not a database") when it cannot be made or
// opened, is damaged, or was removed while in use.
bool CheckRegistryHive(std::string* reason);

// Host path of a path on the handheld's file system: always below the
// device folder's "files/". Empty for a path that CreateFile refuses (a "."
// or ".." part, a character the handheld does not allow in names, a
// symbolic link on the host on the way).
std::string HostPath(const std::u16string& devicePath);

// Serial ports: the driver key that a "Drivers\Active" entry's "Key" names
// carries the host device (a tty or a pseudo-terminal) in this REG_SZ value.
inline constexpr const char16_t* kHostDeviceValue = u"HostDevice";

// The device manager's list of loaded drivers, "Drivers\Active", in the
// order of its subkeys: each record's subkey, the driver key it was loaded
// from ("Key"), its device name ("Name", empty for a driver without one),
// its device handle ("Hnd") and "ClientInfo".
struct ActiveDriver {
  std::u16string subkey, key, name;
  DWORD hnd = 0, clientInfo = 0;
};
std::vector<ActiveDriver> ActiveDrivers();

// Lists a host serial device as port `portName` ("COM3:"): creates the
// driver key `driverKey` with its host device and an active entry under
// "Drivers\Active" whose "Key" and "Name" point at it. Returns the active
// entry's subkey name.
std::u16string RegisterSerialPort(const std::u16string& portName, const std::u16string& driverKey,
                                  const std::string& hostDevice);

// Opens a host serial device as a port: what the sleeve's client serial
// driver, loaded by the device manager, opens for the "HostDevice" of its
// key. INVALID_HANDLE_VALUE with the last error on failure.
HANDLE OpenHostSerialDevice(const std::string& hostDevice, DWORD access);

// Modem control lines as the port last set them (ptys have none of their
// own, so the port records what it was asked for).
struct SerialLines {
  bool dtr;
  bool rts;
};
bool GetSerialLines(HANDLE port, SerialLines* lines);

// The far end's modem lines, which a port whose device has none (a pty)
// reports through GetCommModemStatus once they are recorded here, as the
// port records DTR and RTS; a device with modem lines reports its own.
struct FarEndLines {
  bool cts;
  bool dsr;
  bool ring;
  bool rlsd;
};
bool SetFarEndLines(HANDLE port, const FarEndLines& lines);

// Message boxes. MessageBox runs a modal loop on the calling thread: it
// asks the answerer for the box's answer and, while the answerer has none
// (returns kNoAnswerYet), takes and dispatches the thread's messages, asking
// again after each one. So a thread timer keeps ticking under a box, as on
// the device, and a test's answerer can hold a box until it has seen what
// it waits for. Whoever answers from another thread (a screen tap, a remote
// control) posts WM_NULL to the box's thread to have the answerer asked
// again. Without an answerer of the caller's, boxes are printed on standard
// error and answered with their default button.
struct MessageBoxRequest {
  HWND owner;
  std::u16string text;
  std::u16string caption;
  UINT type;
};
inline constexpr int kNoAnswerYet = 0;
using MessageBoxAnswerer = std::function<int(const MessageBoxRequest&)>;
// Installs an answerer (an empty one restores the default) and returns the
// one it replaced. The loop asks whichever answerer is installed at the time.
MessageBoxAnswerer SetMessageBoxAnswerer(MessageBoxAnswerer answerer);
// The names the answerer had when it could only answer at once.
using MessageBoxPresenter = MessageBoxAnswerer;
inline MessageBoxPresenter SetMessageBoxPresenter(MessageBoxPresenter presenter) {
  return SetMessageBoxAnswerer(std::move(presenter));
}
// The button a box of this style chooses by default (IDOK, IDYES, ...).
int DefaultMessageBoxButton(UINT type);

// Who answers a box: the answerer installed above, if any; else the next
// scripted answer (below), if it is a button; else, in a program with
// windows whose screen is shown on a display (or when boxes are put on the
// screen with ShowMessageBoxesOnScreen), the box drawn on the screen, which
// a tap on a button, Enter, Escape or the remote control answers; else its
// default button. Boxes not shown on a display are printed on standard
// error with their answer.
//
// Scripted answers, in order: $HANDHELD_ANSWERS, or the script given here,
// entries separated by commas. A button id by name ("IDOK", "IDRETRY") or
// number answers the next message box; "save:<path>" (a path on the
// handheld, "\My Documents\a.log") answers the next save dialog, which a
// button id answers too (IDCANCEL cancels, IDOK takes the offered name).
void SetScriptedAnswers(const std::string& script);
void ShowMessageBoxesOnScreen(bool onScreen);

// Every box shown, with its answer (the last 1000).
struct MessageBoxRecord {
  std::u16string caption;
  std::u16string text;
  UINT type;
  int answer;
};
std::vector<MessageBoxRecord> MessageBoxRecords();
void ClearMessageBoxRecords();

// The screen (240 x 320 pixels). Shown in an X11 window when $DISPLAY is
// set and $HANDHELD_HEADLESS is not 1, else kept in memory; made on first
// use. WriteScreenshot writes it as it stands to a PNG file of exactly
// 240 x 320 pixels. WaitScreenShown waits until the window shows every
// change drawn so far (at once when headless); false after `timeoutMs`.
bool WriteScreenshot(const std::string& path);
bool WaitScreenShown(DWORD timeoutMs);

// What a person does on the screen, for tools and tests: the same events
// the X11 window gives. A tap is a touch and a release at one point
// (screen pixels); a key press is the key going down (typing `character`,
// if not 0) and up, with the modifiers held; a close request is the X11
// window's close button.
void TapScreen(int x, int y);
void PressKey(UINT virtualKey, WCHAR character, bool alt = false, bool shift = false,
              bool control = false);
void RequestClose();

// The remote control of the programs with windows on this handheld (the
// device folder's control channel; the post-message tool). Sends one
// command line -- "post <class> <message> <wParam> <lParam>", "tap <x> <y>",
// "key <vk> <character> <alt> <shift> <control>", "answer <id>",
// "screenshot <path>", "close", "title <class>", "cursor" (answers "ok wait"
// while the wait cursor shows, else "ok arrow"), "cursor wait|arrow" --
// to the process `pid`, or
// (pid 0) to each listening process, newest first, until one answers "ok"
// ("ok <title>" for a title). Returns that answer or the last "error <reason>".
std::string RemoteControl(const std::string& command, int pid = 0);

// The handheld host's commands over the same control channel, on the
// device folder's socket "control/host". ServeHostCommands answers each
// command line with `handler` on a thread of its own, one at a time, until
// the process ends; false, with the reason, when another host answers there
// already or the socket cannot be made. SendHostCommand sends one line and
// gives the answer, which may run over several lines: kNoHost only when
// nothing listens (no socket, or the connection refused), kFailed with the
// reason in *answer when the host does not answer in time or its answer is
// too long.
using HostCommandHandler = std::function<std::string(const std::string& line)>;
bool ServeHostCommands(HostCommandHandler handler, std::string* reason);
enum class HostExchange { kAnswered, kNoHost, kFailed };
HostExchange SendHostCommand(const std::string& line, std::string* answer);
// Removes the socket and waits for a command in progress: afterwards the
// handler is never called again, so what it uses may go.
void StopServingHostCommands();

// UTF-16 <-> UTF-8 for tools and tests.
std::string ToUtf8(const std::u16string& text);
std::u16string FromUtf8(const std::string& text);

// ---- the sleeve connector behind the OEM layer ----
// Request codes of the OEM layer: the presence query answers 0 while a
// sleeve is attached; the control request takes one word, selector in the
// upper half, value in the lower: 4 interrupt enable, 5 power, 6 power state
// (the output word is 1 while powered), 7 reset line.
inline constexpr DWORD kOemSleevePresence = 0x010103E8;
inline constexpr DWORD kOemSleeveControl = 0x0101010D;

// Slides a sleeve with this identity on, or takes it off. Each signals the
// named auto-reset event "EventTessivPlug2Applet" (when anybody holds it).
// Insertion publishes the identity as "IDs" (REG_DWORD) under
// HKEY_LOCAL_MACHINE "SYSTEM\CurrentControlSet\AdvancedCPL\DM" after the
// publish delay; removal takes the sleeve's power, interrupt and reset line
// with it and deletes "IDs" at once.
void InsertSleeve(DWORD sleeveId);
void RemoveSleeve();
// Delay before "IDs" is written (default 300 ms); INFINITE never writes it.
void SetIdentityPublishDelay(DWORD ms);

struct SleeveState {
  bool attached;
  DWORD sleeveId;
  bool powered;
  bool interruptEnabled;
  bool resetAsserted;
};
SleeveState GetSleeveState();

// Every KernelIoControl request, in order, with its tick count. `word` is
// the control word when one was passed.
struct OemRequest {
  DWORD tick;
  DWORD code;
  bool hasWord;
  DWORD word;
  BOOL result;
};
// The most recent requests (at most 4096), and how many were made in all.
std::vector<OemRequest> OemRequests();
size_t OemRequestCount();
void ClearOemRequests();

// ---- simulated physical memory and device registers ----
// Physical memory is a sparse file in the device folder, so every mapping
// of a physical page sees the same bytes.
struct PhysicalMapping {
  void* address;  // where VirtualCopy mapped it
  DWORD physical;
  DWORD bytes;
  DWORD protect;  // as requested
};
// The VirtualCopy mappings made so far, in order (released ones included).
std::vector<PhysicalMapping> PhysicalMappings();

// A device register of 1, 2 or 4 bytes at a physical address. Its page is
// kept inaccessible in every mapping; each access traps and is stepped over
// with the page opened: a read first loads the next queued value (an empty
// queue leaves the last value), a write is recorded (the first 4096). False, with the reason,
// where the host cannot trap accesses.
bool RegisterTrapsAvailable(std::string* reason);
bool AttachRegister(DWORD physical, DWORD width);
void DetachRegister(DWORD physical);
void QueueRegisterReads(DWORD physical, const std::vector<DWORD>& values);
struct RegisterAccesses {
  size_t reads;
  std::vector<DWORD> writes;  // values written, in order
};
RegisterAccesses GetRegisterAccesses(DWORD physical);

// ---- threads ----
// The priorities (0..255) of the threads started by CreateThread that have
// not ended yet, as they set them.
std::vector<int> RunningThreadPriorities();

// ---- modules ----
// Folders where LoadLibrary looks for the built libraries: $HANDHELD_MODULES
// (separated by ':') when set, else the build's module folder.
void SetModuleFolders(const std::vector<std::string>& folders);
// Whether a loaded module declined thread attach and detach calls.
bool ThreadLibraryCallsDisabled(HMODULE module);

}  // namespace handheld

#pragma GCC visibility pop
