#pragma once
#include <windows.h>

#include <cstdint>

// The first visible top-level window of the process in Z order, waiting
// (while dispatching the thread's messages) until one appears. A time-out of
// -1 or none means 31,536,000 ms; 0 comes back when it passes, or when the
// thread is asked to quit meanwhile.
HWND FindProcessWindow(DWORD processId, int32_t timeoutMs = -1);
