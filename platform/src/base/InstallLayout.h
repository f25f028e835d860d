// Where a program finds the files it needs beside itself: the module folder
// that stands for the handheld's ROM and the folder of the packages'
// cabinets. An installed program (PREFIX/bin/handheld) finds them from its
// own place, under PREFIX/lib/gps-sleeve/modules and
// PREFIX/share/gps-sleeve/packages, and nowhere else; a program of the
// build tree finds the build's module folder and the cabinets the build
// wrote to build/setup.
#pragma once

#include <string>

namespace handheld::detail {

class InstallLayout {
 public:
  static std::string ModuleFolder();
  static std::string PackageFolder();

 private:
  // PREFIX when the running program sits in PREFIX/bin beside the installed
  // platform library's folder, else empty.
  static std::string InstalledPrefix();
};

}  // namespace handheld::detail
