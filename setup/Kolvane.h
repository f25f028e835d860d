// Kolvane, the package's setup plug-in: before installing and uninstalling
// it unloads the sleeve drivers (asking the user when one will not go);
// after installing it starts the bus driver and has it scan the connector;
// after uninstalling, when another package still shares the bus driver, it
// puts the bus driver's values back and starts it again.
#pragma once

#include <windows.h>

extern "C" {

codeINSTALL_INIT Install_Init(HWND parent, BOOL firstCall, BOOL previouslyInstalled,
                              LPCWSTR installDir);
codeINSTALL_EXIT Install_Exit(HWND parent, LPCWSTR installDir, WORD failedDirs,
                              WORD failedFiles, WORD failedRegKeys, WORD failedRegValues,
                              WORD failedShortcuts);
codeUNINSTALL_INIT Uninstall_Init(HWND parent, LPCWSTR installDir);
codeUNINSTALL_EXIT Uninstall_Exit(HWND parent);

}  // extern "C"
