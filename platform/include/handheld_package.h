// The handheld's package installer, for the handheld host: it installs a
// package from its cabinet (the build writes GpsSleeve.CAB from
// setup/GpsSleeve.inf) and uninstalls installed ones by name, in the
// calling process, calling the package's setup plug-in as the platform's
// installer does; the plug-in's message boxes go through MessageBox, so the
// answerer or the scripted answers (handheld.h) answer them.
//
// Installing copies the cabinet's files to the folders its control file
// names (under the device folder), writes its registry values, counts its
// shared files under "SOFTWARE\Apps\Shared" and records the package under
// "SOFTWARE\Apps\<name>"; when the plug-in cancels nothing is changed, and
// when it has the installation undone every change is reverted. Installing
// over an installed package of the same name reinstalls it.
//
// The loader: LoadLibrary looks for a module named without a folder, or in
// "\Windows", first in the handheld's "\Windows" -- so the installed copies
// are the ones loaded -- and then in the module folders (SetModuleFolders in
// handheld.h), which stand for the handheld's ROM; a name in another
// handheld folder is looked for only there. Tests keep the build's module
// folder as the ROM; a handheld host that calls SetModuleFolders({}) loads
// only what is installed, so an uninstalled package cannot be loaded.
#pragma once

#include <functional>
#include <string>
#include <vector>

#pragma GCC visibility push(default)

namespace handheld {

// One line of the installer's progress or result, as shown on the console.
using InstallerOutput = std::function<void(const std::string& line)>;

struct PackageOutcome {
  bool ok = false;
  std::string reason;  // one line when !ok
};

// The GPS sleeve's cabinet: the installed one for an installed program,
// else the build's (build/setup/GpsSleeve.CAB).
std::string DefaultCabinet();

// Installs the package of the cabinet at `cabinet`. A cabinet that cannot
// be read whole, or whose control file or members are refused, fails with
// the reason and changes nothing.
PackageOutcome InstallPackage(const std::string& cabinet, const InstallerOutput& out);
PackageOutcome UninstallPackage(const std::string& packageName, const InstallerOutput& out);
// What an installer that ended before it was done (killed, or its machine
// stopped) left in the device folder -- its journal "installer-undo-<pid>"
// -- rolled back, each said in a line: the handheld host calls it at boot,
// before anything else. False with the reason when something could not be
// put back (the journal is kept and tried again at the next start).
PackageOutcome RecoverInstallations(const InstallerOutput& out);
// The names of the installed packages, in the order they were first installed.
std::vector<std::string> InstalledPackages();

}  // namespace handheld

#pragma GCC visibility pop
