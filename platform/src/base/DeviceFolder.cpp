// Where the simulated handheld keeps its registry hive and file system.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "DeviceFolder.h"
#include "HandheldPath.h"
#include "ProcessLifetime.h"
#include "handheld.h"

namespace handheld {
namespace {

struct Folder {
  std::mutex mutex;
  std::string path;
  unsigned generation = 0;
};

std::string DefaultFolder() {
  if (const char* dir = std::getenv("HANDHELD_DEVICE"); dir && *dir) return dir;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
    return std::string(data) + "/handheld";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.local/share/handheld";
}

}  // namespace

void SetDeviceFolder(const std::string& path) {
  Folder& folder = detail::ProcessLifetime<Folder>::Get();
  std::lock_guard<std::mutex> lock(folder.mutex);
  folder.path = path;
  ++folder.generation;
}

unsigned DeviceFolderGeneration() {
  Folder& folder = detail::ProcessLifetime<Folder>::Get();
  std::lock_guard<std::mutex> lock(folder.mutex);
  return folder.generation;
}

bool MakePrivateFolder(const std::string& path, bool enforce, std::string* reason) {
  if (path.empty()) {
    *reason = "no folder named";
    return false;
  }
  // Each missing folder on the way, made with no rights for others and its
  // mode set afterwards, as the umask may have taken the owner's too.
  for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string part = path.substr(0, end);
    if (mkdir(part.c_str(), 0700) == 0) {
      chmod(part.c_str(), 0700);
    } else if (errno != EEXIST) {
      *reason = "cannot make the folder " + part + ": " + std::strerror(errno);
      return false;
    }
    if (end == std::string::npos) break;
  }
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    *reason = path + " is not a folder";
    return false;
  }
  if (!enforce) return true;
  if (info.st_uid != geteuid()) {
    *reason = path + " belongs to another user";
    return false;
  }
  if ((info.st_mode & 07777) != 0700 && chmod(path.c_str(), 0700) != 0) {
    *reason = "cannot make " + path + " private: " + std::strerror(errno);
    return false;
  }
  return true;
}

std::string DeviceFolder() {
  Folder& folder = detail::ProcessLifetime<Folder>::Get();
  std::lock_guard<std::mutex> lock(folder.mutex);
  if (folder.path.empty()) folder.path = DefaultFolder();
  return folder.path;
}

// Empty when the path is refused: HandheldPath says why.
std::string HostPath(const std::u16string& devicePath) {
  return detail::HandheldPath(devicePath).host();
}

std::string ToUtf8(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string FromUtf8(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    char32_t c;
    size_t extra;
    if (b < 0x80) {
      c = b;
      extra = 0;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F;
      extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F;
      extra = 2;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07;
      extra = 3;
    } else {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    bool ok = true;
    for (size_t k = 1; ok && k <= extra; ++k) {
      if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    if (!ok) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    i += extra + 1;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

}  // namespace handheld
