// The package installer's setup plug-in interface: the four hooks a
// package's setup library exports and the results they give.
#pragma once

#include "win/types.h"

typedef enum {
  codeINSTALL_INIT_CONTINUE = 0,
  codeINSTALL_INIT_CANCEL
} codeINSTALL_INIT;

typedef enum {
  codeINSTALL_EXIT_DONE = 0,
  codeINSTALL_EXIT_UNINSTALL
} codeINSTALL_EXIT;

typedef enum {
  codeUNINSTALL_INIT_CONTINUE = 0,
  codeUNINSTALL_INIT_CANCEL
} codeUNINSTALL_INIT;

typedef enum {
  codeUNINSTALL_EXIT_DONE = 0
} codeUNINSTALL_EXIT;

// Before the package is copied; `firstCall` is true on the first attempt,
// `previouslyInstalled` when a version of the package is there already.
typedef codeINSTALL_INIT (*pfnINSTALL_INIT)(HWND parent, BOOL firstCall,
                                            BOOL previouslyInstalled, LPCWSTR installDir);
// After the copy, with the number of directories, files, registry keys,
// registry values and shortcuts that could not be made.
typedef codeINSTALL_EXIT (*pfnINSTALL_EXIT)(HWND parent, LPCWSTR installDir, WORD failedDirs,
                                            WORD failedFiles, WORD failedRegKeys,
                                            WORD failedRegValues, WORD failedShortcuts);
// Before the package's files and values are removed, and after.
typedef codeUNINSTALL_INIT (*pfnUNINSTALL_INIT)(HWND parent, LPCWSTR installDir);
typedef codeUNINSTALL_EXIT (*pfnUNINSTALL_EXIT)(HWND parent);
