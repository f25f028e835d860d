#include "HandheldPath.h"

#include <sys/stat.h>

#include <cstdio>

#include "DeviceFolder.h"
#include "NameFold.h"
#include "win/types.h"

namespace handheld::detail {

namespace {

constexpr size_t kMaxPath = 260;  // MAX_PATH, with the terminator

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// A character the handheld's file system does not hold in a name.
bool IsRefused(char16_t c) {
  return c < 0x20 || std::u16string_view(u":*?\"<>|").find(c) != std::u16string_view::npos;
}

std::string Shown(char16_t c) {
  if (c >= 0x20 && c < 0x7F) return std::string("'") + static_cast<char>(c) + "'";
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
  return code;
}

}  // namespace

bool HandheldPath::IsPartName(std::u16string_view name, std::string* reason) {
  if (name.empty()) {
    *reason = "an empty name";
    return false;
  }
  if (name == u"." || name == u"..") {
    *reason = "a \"" + ToUtf8(std::u16string(name)) + "\" part";
    return false;
  }
  for (char16_t c : name) {
    if (IsRefused(c) || IsSeparator(c)) {
      *reason = "the character " + Shown(c) + ", which a handheld name cannot hold";
      return false;
    }
  }
  return true;
}

HandheldPath::HandheldPath(std::u16string_view path) {
  if (path.empty()) {
    Refuse(ERROR_PATH_NOT_FOUND, "an empty path");
    return;
  }
  if (path.size() >= kMaxPath) {
    Refuse(ERROR_INVALID_NAME, "a path of " + std::to_string(kMaxPath) + " characters or more");
    return;
  }
  std::vector<std::u16string> parts;
  for (size_t start = 0; start < path.size();) {
    size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    if (end > start) {
      std::u16string part(path.substr(start, end - start));
      std::string why;
      if (!IsPartName(part, &why)) {
        Refuse(ERROR_INVALID_NAME, why);
        return;
      }
      parts.push_back(std::move(part));
    }
    start = end + 1;
  }
  parts_ = std::move(parts);
  std::string host = DeviceFolder() + "/files/";
  for (size_t i = 0; i < parts_.size(); ++i) {
    path_ += u'\\';
    path_ += parts_[i];
    host += (i ? "/" : "") + ToUtf8(parts_[i]);
  }
  if (path_.empty()) path_.push_back(u'\\');
  host_ = std::move(host);
  CheckHostParts();
}

// The handheld's files are the host's files below "files/"; a symbolic link
// there (a folder or file of the device folder replaced behind the host's
// back) would lead elsewhere, so it is refused wherever it stands.
bool HandheldPath::CheckHostParts() {
  std::string on = DeviceFolder() + "/files";
  for (size_t i = 0; i <= parts_.size(); ++i) {
    if (i > 0) on += "/" + ToUtf8(parts_[i - 1]);
    struct stat st {};
    if (lstat(on.c_str(), &st) != 0) return true;  // nothing further down exists
    if (S_ISLNK(st.st_mode)) {
      return Refuse(ERROR_ACCESS_DENIED, "a symbolic link on the host (" + on + ")");
    }
  }
  return true;
}

bool HandheldPath::Refuse(Status status, std::string reason) {
  status_ = status;
  reason_ = std::move(reason);
  path_.clear();
  parts_.clear();
  host_.clear();
  return false;
}

bool HandheldPath::IsWithin(std::u16string_view folder) const {
  if (!ok()) return false;
  HandheldPath base(folder);
  if (!base.ok() || base.parts_.size() > parts_.size()) return false;
  for (size_t i = 0; i < base.parts_.size(); ++i)
    if (!NameFold::Equal(base.parts_[i], parts_[i])) return false;
  return true;
}

}  // namespace handheld::detail
