#include "ReceiverLink.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "FindReceiverPort.h"
#include "ReceiverVersionQuery.h"
#include "SerialSession.h"
#include "ViewerState.h"
#include "handheld.h"

namespace {

// Why the hive at `hive` in `folder` failed to open, as far as the file
// system tells.
std::string HiveFailure(const std::string& folder, const std::string& hive) {
  struct stat st {};
  if (stat(folder.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return folder + " is not a folder";
  if (access(folder.c_str(), W_OK) != 0) return folder + ": " + std::strerror(errno);
  if (stat(hive.c_str(), &st) == 0 && access(hive.c_str(), R_OK | W_OK) != 0)
    return std::strerror(errno);
  return "not a registry database (damaged, or another kind of file)";
}

}  // namespace

bool CheckHive(const char* tool) {
  HKEY key = nullptr;
  const LONG status = RegOpenKeyEx(HKEY_LOCAL_MACHINE, TEXT("Drivers"), 0, 0, &key);
  if (status == ERROR_SUCCESS) RegCloseKey(key);
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return true;
  const std::string folder = handheld::DeviceFolder();
  const std::string hive = folder + "/registry.db";
  std::fprintf(stderr, "%s: cannot use the registry hive %s: %s\n", tool, hive.c_str(),
               HiveFailure(folder, hive).c_str());
  return false;
}

bool CheckHostDevice(const char* tool, const std::string& hostDevice) {
  struct stat st {};
  if (stat(hostDevice.c_str(), &st) != 0 || S_ISCHR(st.st_mode)) return true;
  std::fprintf(stderr, "%s: %s: not a terminal\n", tool, hostDevice.c_str());
  return false;
}

bool StartReceiverLink(const char* tool, WCHAR (&port)[kReceiverPortChars], LPWSTR version) {
  const DWORD kBaudRate = 57600;
  if (!CheckHive(tool)) return false;
  FindReceiverPort(port, sizeof port);
  if (lstrcmp(port, TEXT("COM1:")) == 0) {
    std::fprintf(stderr, "%s: no receiver port listed\n", tool);
    return false;
  }
  ViewerState::session = new SerialSession(port, kBaudRate);
  ViewerState::CreateCurrentReader();
  if (!ViewerState::session->Reopen()) {
    // The session has said why in a message box.
    ViewerState::DeleteSession();
    return false;
  }
  ReadReceiverVersion(ViewerState::Readers(), version);
  return true;
}
