#include <windows.h>
#include <windowsx.h>

#include "webview/EngineApi.h"
#include "webview/WebViewInstance.h"
#include "webview/WebViewRaise.h"

// The engine window's procedure: input in the view is offered to the program
// as an event before the engine sees it, and F5 reloads the page.

namespace {

constexpr int32_t CtrlBit = 1;
constexpr int32_t ShiftBit = 2;
constexpr int32_t AltBit = 4;

// The modifier keys as they are now, not as the message was queued.
int32_t ModifierBits()
{
    int32_t bits = 0;
    if (GetAsyncKeyState(VK_CONTROL) & 0x8000)
        bits |= CtrlBit;
    if (GetAsyncKeyState(VK_SHIFT) & 0x8000)
        bits |= ShiftBit;
    if (GetAsyncKeyState(VK_MENU) & 0x8000)
        bits |= AltBit;
    return bits;
}

// The event of a mouse message that the program is offered, or -1.
int32_t MouseEventOf(UINT message)
{
    switch (message) {
    case WM_MOUSEMOVE: return MouseMoveEvent;
    case WM_LBUTTONDOWN: return LeftButtonDownEvent;
    case WM_LBUTTONUP: return LeftButtonUpEvent;
    case WM_LBUTTONDBLCLK: return LeftDoubleClickEvent;
    case WM_RBUTTONDOWN: return RightButtonDownEvent;
    case WM_RBUTTONUP: return RightButtonUpEvent;
    default: return -1;
    }
}

// True unless the handler answered 0: the message goes on to the engine.
bool PassesOn(const DispatchResult& result)
{
    return HandlerValueOr(result, 1) != 0;
}

void ReloadOnF5(HWND window)
{
    // The key's handler may have closed the view meanwhile.
    WebViewControl* control = WebViewOfEngineWindow(window);
    if (control && control->view && control->refreshKeyDisabled == 0 && Engine().wkeReload)
        Engine().wkeReload(control->view);
}

// Offers one input message to the program, then passes it on to the engine
// unless the handler's answer keeps it back.
LRESULT OnInput(const WebViewControl& control, WNDPROC previous, HWND window, UINT message, WPARAM wParam,
                LPARAM lParam)
{
    // Right double-clicks and the middle button stop here.
    if (message >= WM_RBUTTONDBLCLK && message <= WM_MBUTTONDBLCLK)
        return 0;

    const int32_t modifiers = ModifierBits();
    const auto code = static_cast<int32_t>(wParam);
    bool passOn = true;
    switch (message) {
    case WM_SETFOCUS: passOn = PassesOn(RaiseWebViewEvent(control, SetFocusEvent, {})); break;
    case WM_KILLFOCUS: passOn = PassesOn(RaiseWebViewEvent(control, KillFocusEvent, {})); break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        passOn = PassesOn(RaiseWebViewEvent(control, KeyDownEvent, {MakeIntArg(code), MakeIntArg(modifiers)}));
        if (message == WM_KEYDOWN && wParam == VK_F5)
            ReloadOnF5(window);
        break;
    case WM_KEYUP:
    case WM_SYSKEYUP:
        passOn = PassesOn(RaiseWebViewEvent(control, KeyUpEvent, {MakeIntArg(code), MakeIntArg(modifiers)}));
        break;
    case WM_CHAR: {
        // The handler may put another character in place of the typed one.
        int32_t character = HandlerValueOr(RaiseWebViewEvent(control, CharacterEvent, {MakeIntArg(code)}), code);
        wParam = static_cast<WPARAM>(static_cast<uint32_t>(character));
        passOn = character != 0;
        break;
    }
    case WM_HSCROLL:
    case WM_VSCROLL: {
        // Offered under the character event; unbound, only a non-zero
        // position word goes on.
        int32_t position = HIWORD(wParam);
        passOn =
            HandlerValueOr(RaiseWebViewEvent(control, CharacterEvent, {MakeIntArg(position), MakeIntArg(modifiers)}),
                           position) != 0;
        break;
    }
    default: {
        int32_t x = static_cast<int16_t>(GET_X_LPARAM(lParam));
        int32_t y = static_cast<int16_t>(GET_Y_LPARAM(lParam));
        passOn = PassesOn(
            RaiseWebViewEvent(control, MouseEventOf(message), {MakeIntArg(x), MakeIntArg(y), MakeIntArg(modifiers)}));
        break;
    }
    }
    // A handler may have destroyed the view's window along with its form.
    if (!passOn || !IsWindow(window))
        return 0;
    return CallWindowProcA(previous, window, message, wParam, lParam);
}

} // namespace

bool IsViewInputMessage(UINT message)
{
    switch (message) {
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_HSCROLL:
    case WM_VSCROLL: return true;
    default: return message >= WM_MOUSEMOVE && message <= WM_MBUTTONDBLCLK;
    }
}

// The procedure it replaced is kept in the window's user data slot; with none
// there, messages take the default path. The slot is read and written with
// the W forms, so the engine gets its own procedure back unchanged.
LRESULT CALLBACK EngineWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!previous)
        return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_DESTROY) {
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
        return CallWindowProcW(previous, window, message, wParam, lParam);
    }
    if (IsViewInputMessage(message)) {
        const WebViewControl* control = WebViewOfEngineWindow(window);
        if (!control || control->design)
            return CallWindowProcA(previous, window, message, wParam, lParam);
        return OnInput(*control, previous, window, message, wParam, lParam);
    }
    return CallWindowProcW(previous, window, message, wParam, lParam);
}
