// The package installer's controls for the handheld host.
#include <mutex>

#include "CabinetPackage.h"
#include "DeviceFolder.h"
#include "InstallLayout.h"
#include "PackageInstaller.h"
#include "PackageJournal.h"
#include "ProcessLifetime.h"
#include "handheld_package.h"

namespace handheld {

namespace {

// One installation or uninstallation at a time in a process.
struct InstallerLock {
  std::mutex mutex;
};
std::mutex& Lock() { return detail::ProcessLifetime<InstallerLock>::Get().mutex; }

PackageOutcome Outcome(const detail::PackageInstaller::Outcome& outcome) {
  return {outcome.ok, outcome.reason};
}

}  // namespace

std::string DefaultCabinet() { return detail::InstallLayout::PackageFolder() + "/GpsSleeve.CAB"; }

PackageOutcome InstallPackage(const std::string& cabinet, const InstallerOutput& out) {
  std::lock_guard<std::mutex> lock(Lock());
  detail::CabinetPackage package;
  std::string reason;
  if (!package.Load(cabinet, &reason)) {
    reason += "; nothing was changed";
    if (out) out(reason);
    return {false, reason};
  }
  return Outcome(detail::PackageInstaller(out).Install(package));
}

PackageOutcome UninstallPackage(const std::string& packageName, const InstallerOutput& out) {
  std::lock_guard<std::mutex> lock(Lock());
  return Outcome(detail::PackageInstaller(out).Uninstall(FromUtf8(packageName)));
}

PackageOutcome RecoverInstallations(const InstallerOutput& out) {
  std::lock_guard<std::mutex> lock(Lock());
  std::string reason;
  const bool ok = detail::PackageJournal::Recover(
      [&out](const std::string& line) {
        if (out) out(line);
      },
      &reason);
  return {ok, reason};
}

std::vector<std::string> InstalledPackages() {
  std::vector<std::string> names;
  for (const std::u16string& name : detail::PackageInstaller::Installed())
    names.push_back(ToUtf8(name));
  return names;
}

}  // namespace handheld
