// LoadLibrary, GetProcAddress, FreeLibrary and DisableThreadLibraryCalls.
#include "ModuleLoader.h"
#include "handheld.h"

using handheld::detail::ModuleLoader;
using handheld::detail::ReportStatus;
using handheld::detail::Status;

HMODULE LoadLibraryW(LPCWSTR name) {
  void* module = nullptr;
  if (!ReportStatus(name ? ModuleLoader::Instance().Load(name, &module)
                         : Status(ERROR_INVALID_PARAMETER)))
    return nullptr;
  return static_cast<HMODULE>(module);
}

FARPROC GetProcAddressW(HMODULE module, LPCWSTR procName) {
  void* procedure = nullptr;
  // Look-ups by ordinal (a number in place of the name) are not offered.
  bool byName = reinterpret_cast<uintptr_t>(procName) > 0xFFFF;
  if (!ReportStatus(byName ? ModuleLoader::Instance().Procedure(module, procName, &procedure)
                           : Status(ERROR_PROC_NOT_FOUND)))
    return nullptr;
  return reinterpret_cast<FARPROC>(procedure);
}

BOOL FreeLibrary(HMODULE module) { return ReportStatus(ModuleLoader::Instance().Free(module)); }

BOOL DisableThreadLibraryCalls(HMODULE module) {
  return ReportStatus(ModuleLoader::Instance().DisableThreadCalls(module));
}

namespace handheld {

void SetModuleFolders(const std::vector<std::string>& folders) {
  ModuleLoader::Instance().SetFolders(folders);
}

bool ThreadLibraryCallsDisabled(HMODULE module) {
  return ModuleLoader::Instance().ThreadCallsDisabled(module);
}

}  // namespace handheld
