// The module loader behind LoadLibrary: the handheld's module names resolved
// to shared libraries -- a name without a folder, or in "\Windows", to the
// library installed in the handheld's "\Windows" ("Tessiv.dll") or else to
// the built one in the module folders, which stand for the handheld's ROM
// ("Tessiv.so"); a name in a folder below "\Windows" only to that folder's
// library. Both separators part a name, and a name that leads anywhere else
// (another handheld folder, a ".." part, a host path) is not found. Each
// module is loaded once with dlopen
// and counted, its entry point called on attach and detach. The handheld
// modules a library was linked against ("Ferrix.so") are its imports: they
// are resolved the same way and loaded first (a library whose import is not
// found does not load), and freed after it. The entry point
// is the ELF entry address of the library (linked with -e DllMain), as a
// module's header names it on the handheld, so it need not be an export.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "HandleTable.h"
#include "Status.h"
#include "win/types.h"

namespace handheld::detail {

class ModuleLoader {
 public:
  static ModuleLoader& Instance();
  ModuleLoader() = default;

  // Modules are handles of the instance kind.
  Status Load(const std::u16string& name, void** module);
  // Loads a built library by its host path: for the package installer, which
  // runs a package's setup plug-in before anything is copied. LoadLibrary
  // never reaches this.
  Status LoadFile(const std::string& path, void** module);
  Status Procedure(const void* module, const std::u16string& name, void** procedure);
  Status Free(const void* module);
  Status DisableThreadCalls(const void* module);
  bool ThreadCallsDisabled(const void* module);

  // The module folders (the ROM); none at all once set empty.
  void SetFolders(std::vector<std::string> folders);
  // The host file a module name stands for, or empty.
  std::string Resolve(const std::u16string& name);

  // Called on each thread the platform starts, first and last thing.
  void ThreadStarted();
  void ThreadEnding();

 private:
  class Module;
  std::vector<std::string> Folders();
  void NotifyThreads(DWORD reason);

  std::recursive_mutex mutex_;  // the loader lock: held while entry points run
  bool foldersSet_ = false;
  std::vector<std::string> folders_;
  std::map<std::string, std::shared_ptr<Module>> loaded_;  // by host path
};

}  // namespace handheld::detail
