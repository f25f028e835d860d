// The handheld platform as the deliverables see it: Win32 and Windows CE
// names, argument lists, types, constants and error codes.
#pragma once

#include "win/types.h"
#include "win/core.h"
#include "win/registry.h"
#include "win/files.h"
#include "win/devices.h"
#include "win/setup.h"
#include "win/messages.h"
#include "win/gdi.h"
#include "win/kernel.h"
#include "win/user.h"
