#include "webview/WebViewInstance.h"

// The engine window's procedure. The procedure it replaced is kept in the
// window's user data slot; with none there, messages take the default path.
LRESULT CALLBACK EngineWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!previous)
        return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_DESTROY)
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
    return CallWindowProcW(previous, window, message, wParam, lParam);
}
