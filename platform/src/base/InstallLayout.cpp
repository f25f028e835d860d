#include "InstallLayout.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

namespace handheld::detail {

namespace {

bool IsFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// "/usr/bin/handheld" -> "/usr"; empty for a program not in a "bin" folder.
std::string PrefixOf(const std::string& program) {
  const size_t slash = program.rfind('/');
  if (slash == std::string::npos || slash < 4 || program.compare(slash - 4, 4, "/bin") != 0)
    return {};
  return program.substr(0, slash - 4);
}

std::string FindInstalledPrefix() {
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return {};
  const std::string prefix = PrefixOf(std::string(self, static_cast<size_t>(length)));
  const bool installed = !prefix.empty() && IsFolder(prefix + "/" HANDHELD_INSTALLED_LIBRARIES);
  return installed ? prefix : std::string();
}

}  // namespace

std::string InstallLayout::InstalledPrefix() {
  static const std::string prefix = FindInstalledPrefix();
  return prefix;
}

std::string InstallLayout::ModuleFolder() {
  const std::string prefix = InstalledPrefix();
  return prefix.empty() ? HANDHELD_MODULE_FOLDER : prefix + "/" HANDHELD_INSTALLED_MODULES;
}

std::string InstallLayout::PackageFolder() {
  const std::string prefix = InstalledPrefix();
  return prefix.empty() ? HANDHELD_PACKAGE_FOLDER : prefix + "/" HANDHELD_INSTALLED_PACKAGES;
}

}  // namespace handheld::detail
