#pragma once

#include <windows.h>

// Receives each byte the serial reader thread reads, with the context
// given when it was attached. Runs on the reader thread under the session's
// sink lock: it must be short and must never wait for the UI thread.
typedef void (*ByteSink)(BYTE value, void* context);
