// Desktop Windows as the handheld's programs see it: the real Windows
// headers, and beside them the handheld's own names that desktop Windows
// lacks, supplied by this layer. The programs include this header as
// <windows.h> and build unchanged.
#pragma once

#include_next <windows.h>

#include "handheld_win32.h"
