#pragma once
#include <windows.h>
#include <wininet.h>

#include "text/AnsiText.h"

// The process's one WinInet session, opened by the first fetch that needs it
// and closed at process exit. The tool never sets a proxy, so the proxy texts
// stay empty.
struct HttpSessionSettings {
    AnsiText proxyServer;
    AnsiText proxyUserName;
    AnsiText proxyPassword;
};

const HttpSessionSettings& HttpSessionProxy();

// The session handle (not yours to close), opening it on first use; null when
// it cannot be opened, and the next call tries again.
HINTERNET HttpSessionHandleTemp();

// How many times this process has opened its session.
int HttpSessionOpenCount();
