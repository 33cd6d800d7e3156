#pragma once
#include <windows.h>
#include <wininet.h>

#include "text/AnsiText.h"

// The process's one WinInet session, opened by the first fetch that needs it
// with the system's proxy settings, and closed at process exit.

// The session handle (not yours to close), opening it on first use; null when
// it cannot be opened, and the next call tries again.
HINTERNET HttpSessionHandleTemp();

// How many times this process has opened its session.
int HttpSessionOpenCount();
