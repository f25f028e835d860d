// The handheld's package installer: installs a package from its cabinet
// (CabinetPackage), and uninstalls an installed one, calling the package's
// setup plug-in around each as the platform's installer does.
//
// Installing: every target is checked first -- one where a folder or
// anything but a file stands fails the installation with its member,
// nothing changed; then the plug-in (the cabinet's member .999) is loaded
// and Install_Init called (a cancel ends the installation with nothing
// changed); the files are written (a file marked to keep an existing
// target, or to go only over one, is skipped when that says so), the
// registry values written (one marked to keep an existing value is not
// written over it), the shared files' counts under
// "SOFTWARE\Apps\Shared" raised and the package recorded under
// "SOFTWARE\Apps\<name>" (below); then Install_Exit is told how many
// folders, files, keys and values failed, and when it answers that the
// installation is to be undone (or, without a plug-in, when anything
// failed), every change is reverted. A package installed again over itself
// replaces its files and values; its shared files are not counted twice.
//
// Uninstalling: it does not start when the registry cannot be written. The
// plug-in kept from the installation is loaded and Uninstall_Init called (a
// cancel ends it with nothing removed); the package's values are deleted,
// its files removed -- a shared file only when its count drops to 0, else
// the count is lowered -- and its record deleted, all through a journal, so
// that when any of it fails everything is put back and the failure
// reported; Uninstall_Exit runs with the plug-in still loaded; last, the
// keys the package made or wrote in are deleted when nothing is left in
// them.
//
// Both keep a journal in the device folder until they are done
// (PackageJournal); the journal of an installer that died is rolled back at
// the next start.
//
// The record "SOFTWARE\Apps\<name>": "Instl" (1), "Setup" (the handheld path
// of the plug-in's copy, "\Windows\AppMgr\<name>.dll"), "Files", "Shared"
// (the files it counted), "Keys" (the keys it created) and "Values" (each
// "<key>\t<value name>"), the lists as REG_MULTI_SZ.
//
// Both run on the caller's thread, one at a time in a process; the
// plug-in's message boxes go through MessageBox as any other. Progress and
// result go to `out`, one line each.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "CabinetPackage.h"

namespace handheld::detail {

class PackageJournal;

class PackageInstaller {
 public:
  using Output = std::function<void(const std::string& line)>;
  struct Outcome {
    bool ok = false;
    std::string reason;
  };

  explicit PackageInstaller(Output out) : out_(std::move(out)) {}

  Outcome Install(const CabinetPackage& package);
  Outcome Uninstall(const std::u16string& name);
  // The names of the installed packages.
  static std::vector<std::u16string> Installed();

 private:
  std::string Remove(const std::u16string& name, PackageJournal* journal);
  Outcome Fail(const std::string& reason);
  void Say(const std::string& line);

  Output out_;
};

}  // namespace handheld::detail
