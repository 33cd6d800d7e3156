#include "text/ProcessWindow.h"

namespace {

constexpr DWORD LongestWindowWaitMs = 31536000;
// While no window qualifies, wait this long for new messages before the next
// pass, so that the wait does not spin a processor.
constexpr DWORD IdlePassMs = 10;

// Dispatches what waits in the thread's queue; false when it held a request
// to quit, which goes back into the queue for the thread's own loop.
bool ProcessPendingMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return true;
}

} // namespace

HWND FindProcessWindow(DWORD processId, int32_t timeoutMs)
{
    const DWORD limit = timeoutMs == -1 ? LongestWindowWaitMs : static_cast<DWORD>(timeoutMs);
    const DWORD start = GetTickCount();
    HWND candidate = nullptr;
    for (;;) {
        // Unsigned difference: a counter that wraps during the wait still measures it.
        if (GetTickCount() - start >= limit)
            return nullptr;
        candidate = FindWindowExA(nullptr, candidate, nullptr, nullptr);
        if (IsWindow(candidate) != TRUE) {
            candidate = nullptr;
            if (!ProcessPendingMessages())
                return nullptr;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, IdlePassMs, QS_ALLINPUT);
            continue;
        }
        DWORD windowProcess = 0;
        GetWindowThreadProcessId(candidate, &windowProcess);
        if (!IsWindowVisible(candidate) || windowProcess != processId) {
            if (!ProcessPendingMessages())
                return nullptr;
            continue;
        }
        return candidate;
    }
}
