// LoadLibrary, GetProcAddress, FreeLibrary and DisableThreadLibraryCalls.
#include "ModuleLoader.h"
#include "handheld.h"

using handheld::detail::ModuleLoader;

namespace {

BOOL Result(DWORD status) {
  if (status == ERROR_SUCCESS) return TRUE;
  SetLastError(status);
  return FALSE;
}

}  // namespace

HMODULE LoadLibraryW(LPCWSTR name) {
  HANDLE module = nullptr;
  if (!Result(name ? ModuleLoader::Instance().Load(name, &module)
                   : static_cast<DWORD>(ERROR_INVALID_PARAMETER)))
    return nullptr;
  return static_cast<HMODULE>(module);
}

FARPROC GetProcAddressW(HMODULE module, LPCWSTR procName) {
  void* procedure = nullptr;
  // Look-ups by ordinal (a number in place of the name) are not offered.
  bool byName = reinterpret_cast<uintptr_t>(procName) > 0xFFFF;
  if (!Result(byName ? ModuleLoader::Instance().Procedure(module, procName, &procedure)
                     : static_cast<DWORD>(ERROR_PROC_NOT_FOUND)))
    return nullptr;
  return reinterpret_cast<FARPROC>(procedure);
}

BOOL FreeLibrary(HMODULE module) { return Result(ModuleLoader::Instance().Free(module)); }

BOOL DisableThreadLibraryCalls(HMODULE module) {
  return Result(ModuleLoader::Instance().DisableThreadCalls(module));
}

namespace handheld {

void SetModuleFolders(const std::vector<std::string>& folders) {
  ModuleLoader::Instance().SetFolders(folders);
}

bool ThreadLibraryCallsDisabled(HMODULE module) {
  return ModuleLoader::Instance().ThreadCallsDisabled(module);
}

}  // namespace handheld
