// The sleeve's client serial driver, as the stand-in brings it: a stream
// driver with the prefix "COM" that the device manager loads from a sleeve's
// client key ("Drivers\Tessiv\0100\0001" for the GPS sleeve, and the second
// sleeve kind's key alike). Its port is the host serial device that the
// client key names in "HostDevice" (a tty, or the pseudo-terminal of the
// receiver simulator): each open opens that device, reads and writes go
// to it, and the serial calls, which reach the driver as serial I/O
// controls, are passed on to it.
//
// Threads: any number of opens, each used by several threads at once (a
// reader waiting for characters while another writes or closes). The
// driver's tables are locked only to look up or change an entry, never
// across a call on the host device; closing an open wakes a wait pending on
// it. Deinit closes the opens that are still open.
#include <map>
#include <mutex>
#include <string>

#include "handheld.h"

namespace {

struct Device {
  std::u16string hostDevice;
};

struct Open {
  DWORD device;
  HANDLE host;
};

struct Driver {
  std::mutex mutex;
  DWORD nextContext = 1;  // device and open contexts, never reused
  std::map<DWORD, Device> devices;
  std::map<DWORD, Open> opens;
};

// Destroyed when the library is unloaded, which the device manager does
// only once no call can reach the driver any more.
Driver& State() {
  static Driver driver;
  return driver;
}

// The "HostDevice" of the driver key that the active record names.
bool ReadHostDevice(LPCWSTR activeKey, std::u16string* hostDevice) {
  WCHAR text[256];
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, activeKey, 0, 0, &key);
  if (rc != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(rc));
    return false;
  }
  DWORD type = REG_NONE;
  DWORD bytes = sizeof text - sizeof(WCHAR);
  rc = RegQueryValueExW(key, u"Key", nullptr, &type, reinterpret_cast<LPBYTE>(text), &bytes);
  RegCloseKey(key);
  if (rc == ERROR_SUCCESS && type == REG_SZ) {
    text[bytes / sizeof(WCHAR)] = u'\0';
    rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, text, 0, 0, &key);
    if (rc == ERROR_SUCCESS) {
      bytes = sizeof text - sizeof(WCHAR);
      rc = RegQueryValueExW(key, handheld::kHostDeviceValue, nullptr, &type,
                            reinterpret_cast<LPBYTE>(text), &bytes);
      RegCloseKey(key);
    }
  }
  if (rc == ERROR_SUCCESS && type != REG_SZ) rc = ERROR_INVALID_PARAMETER;
  if (rc != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(rc));
    return false;
  }
  text[bytes / sizeof(WCHAR)] = u'\0';
  hostDevice->assign(text);
  if (hostDevice->empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return true;
}

// The host port of an open, or null with ERROR_INVALID_HANDLE.
HANDLE HostOf(DWORD open) {
  Driver& driver = State();
  std::lock_guard<std::mutex> lock(driver.mutex);
  auto it = driver.opens.find(open);
  if (it == driver.opens.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return it->second.host;
}

BOOL Refuse(DWORD error) {
  SetLastError(error);
  return FALSE;
}

}  // namespace

extern "C" {

DWORD COM_Init(LPCWSTR activeKey, LPCVOID) {
  std::u16string hostDevice;
  if (!activeKey || !ReadHostDevice(activeKey, &hostDevice)) return 0;
  Driver& driver = State();
  std::lock_guard<std::mutex> lock(driver.mutex);
  DWORD context = driver.nextContext++;
  driver.devices[context] = Device{hostDevice};
  return context;
}

BOOL COM_Deinit(DWORD device) {
  Driver& driver = State();
  std::map<DWORD, Open> closing;
  {
    std::lock_guard<std::mutex> lock(driver.mutex);
    if (driver.devices.erase(device) == 0) return Refuse(ERROR_INVALID_HANDLE);
    for (auto it = driver.opens.begin(); it != driver.opens.end();) {
      if (it->second.device == device) {
        closing.insert(*it);
        it = driver.opens.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const auto& [context, open] : closing) CloseHandle(open.host);
  return TRUE;
}

DWORD COM_Open(DWORD device, DWORD access, DWORD) {
  Driver& driver = State();
  std::u16string hostDevice;
  {
    std::lock_guard<std::mutex> lock(driver.mutex);
    auto it = driver.devices.find(device);
    if (it == driver.devices.end()) return Refuse(ERROR_INVALID_HANDLE);
    hostDevice = it->second.hostDevice;
  }
  HANDLE host = handheld::OpenHostSerialDevice(handheld::ToUtf8(hostDevice), access);
  if (host == INVALID_HANDLE_VALUE) return 0;
  std::lock_guard<std::mutex> lock(driver.mutex);
  if (!driver.devices.count(device)) {  // deinitialized meanwhile
    CloseHandle(host);
    return Refuse(ERROR_DEVICE_REMOVED);
  }
  DWORD context = driver.nextContext++;
  driver.opens[context] = Open{device, host};
  return context;
}

BOOL COM_Close(DWORD open) {
  Driver& driver = State();
  HANDLE host = nullptr;
  {
    std::lock_guard<std::mutex> lock(driver.mutex);
    auto it = driver.opens.find(open);
    if (it == driver.opens.end()) return Refuse(ERROR_INVALID_HANDLE);
    host = it->second.host;
    driver.opens.erase(it);
  }
  return CloseHandle(host);
}

DWORD COM_Read(DWORD open, LPVOID buffer, DWORD count) {
  HANDLE host = HostOf(open);
  DWORD read = 0;
  if (!host || !ReadFile(host, buffer, count, &read, nullptr)) return 0xFFFFFFFFu;
  return read;
}

DWORD COM_Write(DWORD open, LPCVOID buffer, DWORD count) {
  HANDLE host = HostOf(open);
  DWORD written = 0;
  if (!host || !WriteFile(host, buffer, count, &written, nullptr)) return 0xFFFFFFFFu;
  return written;
}

DWORD COM_Seek(DWORD, LONG, DWORD) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return 0xFFFFFFFFu;
}

// The serial calls reach the driver as serial I/O controls; the host port
// serves the same codes with the same buffers, so each goes on to it as it
// came (a code of no serial call fails there with ERROR_INVALID_PARAMETER).
BOOL COM_IOControl(DWORD open, DWORD code, LPBYTE in, DWORD inBytes, LPBYTE out, DWORD outBytes,
                   LPDWORD returned) {
  HANDLE host = HostOf(open);
  if (!host) return FALSE;
  return DeviceIoControl(host, code, in, inBytes, out, outBytes, returned, nullptr);
}

}  // extern "C"
