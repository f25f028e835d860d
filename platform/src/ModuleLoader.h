// The module loader behind LoadLibrary: the handheld's module names resolved
// to the built shared libraries, each loaded once with dlopen and counted,
// its entry point called on attach and detach. The entry point is the ELF
// entry address of the library (linked with -e DllMain), as a module's
// header names it on the handheld, so it need not be an export.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "HandleTable.h"
#include "win/types.h"

namespace handheld::detail {

class ModuleLoader {
 public:
  static ModuleLoader& Instance();

  // Results are ERROR_SUCCESS or the error code.
  DWORD Load(const std::u16string& name, HANDLE* module);
  DWORD Procedure(HANDLE module, const std::u16string& name, void** procedure);
  DWORD Free(HANDLE module);
  DWORD DisableThreadCalls(HANDLE module);
  bool ThreadCallsDisabled(HANDLE module);

  void SetFolders(std::vector<std::string> folders);
  // The host file a module name stands for, or empty.
  std::string Resolve(const std::u16string& name);

  // Called on each thread the platform starts, first and last thing.
  void ThreadStarted();
  void ThreadEnding();

 private:
  class Module;
  ModuleLoader() = default;
  std::vector<std::string> Folders();
  void NotifyThreads(DWORD reason);

  std::recursive_mutex mutex_;  // the loader lock: held while entry points run
  bool foldersSet_ = false;
  std::vector<std::string> folders_;
  std::map<std::string, std::shared_ptr<Module>> loaded_;  // by host path
};

}  // namespace handheld::detail
