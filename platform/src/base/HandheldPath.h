// The one gate through which a path on the handheld's file system becomes a
// host path. Everything that maps a handheld path -- CreateFile and
// DeleteFile, the package installer's copies and removals, the module
// loader, the save dialog, HostPath -- goes through it, so they all agree
// on what a handheld path is and none can reach outside the device folder.
//
// A path is read as the handheld reads it: '\' and '/' both separate parts,
// repeated separators count as one, and a path without a leading separator
// starts at the root (the handheld has no current folder). Refused, with
// the reason: an empty path (ERROR_PATH_NOT_FOUND); a "." or ".." part,
// a character the handheld's file system does not hold (: * ? " < > |, a
// control character or NUL) and a path of MAX_PATH characters or more
// (ERROR_INVALID_NAME); a part on the way that is a symbolic link on the
// host, which could lead anywhere (ERROR_ACCESS_DENIED). So a path that is
// accepted names a place below the device folder's "files/" and nothing
// else.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Status.h"

namespace handheld::detail {

class HandheldPath {
 public:
  explicit HandheldPath(std::u16string_view path);

  bool ok() const { return status_.ok(); }
  Status status() const { return status_; }
  // Why the path is refused ("a \"..\" part"); empty when it is not.
  const std::string& reason() const { return reason_; }

  // The resolved path, "\Windows\Tessiv.dll" ("\" for the root), and its
  // parts; both empty when refused.
  const std::u16string& path() const { return path_; }
  const std::vector<std::u16string>& parts() const { return parts_; }
  // The host path below the device folder; empty when refused.
  const std::string& host() const { return host_; }

  // Whether the path is `folder` ("\Windows") or lies below it, in any case.
  bool IsWithin(std::u16string_view folder) const;

  // Whether `name` can be one part of a path (a file or folder name); false
  // with the reason when not.
  static bool IsPartName(std::u16string_view name, std::string* reason);

 private:
  bool Refuse(Status status, std::string reason);
  bool CheckHostParts();

  Status status_;
  std::string reason_;
  std::u16string path_;
  std::vector<std::u16string> parts_;
  std::string host_;
};

}  // namespace handheld::detail
