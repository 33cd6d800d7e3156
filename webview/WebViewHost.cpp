#include "webview/WebViewControl.h"

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

#include "form/Form.h"
#include "owners/UniqueHandle.h"
#include "text/WideText.h"
#include "webview/EngineApi.h"
#include "webview/EngineDirectories.h"
#include "webview/EngineText.h"
#include "webview/WebViewInstance.h"

namespace {

// The window class of the web view's host window, the control's outer window
// around the engine's own; kept as it is because tests look windows up by it.
constexpr wchar_t HostClassName[] = L"UlowkeCtrl";
constexpr DWORD HostStyleBits = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | 0x100;

// The host's extra bytes hold the control's ids, readable without the object.
constexpr int FormIdOffset = 0;
constexpr int UnitIdOffset = 4;
constexpr int ControlIdOffset = 8;

WebViewControl* HostControl(HWND host)
{
    return reinterpret_cast<WebViewControl*>(GetWindowLongPtrW(host, GWLP_USERDATA));
}

LRESULT OnNcDestroy(HWND host, WebViewControl* control)
{
    SetWindowLongPtrW(host, GWLP_USERDATA, 0);
    UnregisterWebView(control);
    NotifyControlDestroyed(control->formId, control->unitId);
    delete control;
    return 0;
}

// The host window's procedure. Until the control object is stored, every
// message takes the default path. The window is a Unicode one, so the W
// forms keep characters intact on their way to the engine's window.
LRESULT CALLBACK HostWindowProc(HWND host, UINT message, WPARAM wParam, LPARAM lParam)
{
    WebViewControl* control = HostControl(host);
    if (!control)
        return DefWindowProcW(host, message, wParam, lParam);

    switch (message) {
    case WM_SIZE:
        control->paint.Resize(LOWORD(lParam), HIWORD(lParam));
        if (control->view && Engine().wkeResize)
            Engine().wkeResize(control->view, LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_CREATE:
    case WM_DESTROY:
    case WM_NCCREATE:
    case WM_NCCALCSIZE: return 0;
    case WM_NCDESTROY: return OnNcDestroy(host, control);
    default:
        if (IsViewInputMessage(message))
            return control->engineWindow ? SendMessageW(control->engineWindow, message, wParam, lParam) : 0;
        return DefWindowProcW(host, message, wParam, lParam);
    }
}

// Registered once per process; a class that already exists is fine.
bool RegisterHostClass()
{
    static bool registered = false;
    if (registered)
        return true;
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = HostWindowProc;
    windowClass.cbWndExtra = 16;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = HostClassName;
    if (!RegisterClassExW(&windowClass)) {
        DWORD error = GetLastError();
        if (error != ERROR_CLASS_ALREADY_EXISTS) {
            std::wstring text = std::wstring(L"UlowkeCtrl注册类失败\n类名 = ") + HostClassName + L"\n错误代码 = " +
                                std::to_wstring(error);
            MessageBoxW(nullptr, text.c_str(), L"窗口类注册失败", MB_OK);
            return false;
        }
    }
    registered = true;
    return true;
}

void SetDefaults(WebViewControl& control)
{
    control.programDirectory = AnsiFromWide(ProgramDirectoryWithSlash());
    if (control.programDirectory.empty())
        return;
    control.localStorageDir = control.programDirectory + AnsiFromWide(LocalStorageDirName);
    control.cookieDir = control.programDirectory + AnsiFromWide(CookieDirName);
}

// Hands the engine window to our procedure; the one it had waits in the
// window's user data slot.
void SubclassEngineWindow(HWND engineWindow)
{
    LONG_PTR previous = GetWindowLongPtrW(engineWindow, GWLP_WNDPROC);
    SetWindowLongPtrW(engineWindow, GWLP_USERDATA, previous);
    SetWindowLongPtrW(engineWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(EngineWindowProc));
}

void ApplyStoredProperties(WebViewControl& control)
{
    for (int index : {UserAgentProperty, LocalStorageDirProperty, CookieDirProperty})
        ApplyProperty(control, index);
    if (control.design)
        return;
    ApplyProperty(control, UrlProperty);
    ApplyProperty(control, NewWindowEnabledProperty);
    RegisterEngineCallbacks(control);
}

} // namespace

HWND CreateWebViewControl(const WebViewCreateParams& params)
{
    auto control = std::make_unique<WebViewControl>();
    SetDefaults(*control);
    if (params.cbPropertyBlock && !ReadPropertyBlock(*control, params.propertyBlock, params.cbPropertyBlock))
        return nullptr;
    if (!RegisterHostClass())
        return nullptr;

    // Until the end the object is not in the window, so a failure destroys
    // the window quietly.
    OwnedWindow host(CreateWindowExW(
        0, HostClassName, nullptr, params.style | HostStyleBits, params.x, params.y, params.width, params.height,
        params.parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(params.controlId)), nullptr, control.get()));
    if (!host)
        return nullptr;

    // Without the engine, or without a view from it, there is no control.
    const EngineApi& api = Engine();
    if (!EngineStartup() || !api.wkeCreateWebWindow)
        return nullptr;
    control->view = api.wkeCreateWebWindow(WKE_WINDOW_TYPE_CONTROL, host.Get(), 0, 0, params.width, params.height);
    if (!control->view)
        return nullptr;

    RECT client{};
    GetClientRect(host.Get(), &client);
    control->paint.Create(client.right - client.left, client.bottom - client.top);

    if (api.wkeShowWindow)
        api.wkeShowWindow(control->view, true);
    if (api.wkeSetTransparent)
        api.wkeSetTransparent(control->view, false);

    HWND engineWindow = api.wkeGetWindowHandle ? api.wkeGetWindowHandle(control->view) : nullptr;
    if (!IsWindow(engineWindow))
        return nullptr;
    SubclassEngineWindow(engineWindow);

    if (api.wkeOnPaintUpdated)
        api.wkeOnPaintUpdated(control->view, OnEnginePaintUpdated, control.get());
    if (api.wkeSetCspCheckEnable)
        api.wkeSetCspCheckEnable(control->view, false);
    if (api.wkeSetNpapiPluginsEnabled)
        api.wkeSetNpapiPluginsEnabled(control->view, true);
    if (api.wkeSetNavigationToNewWindowEnable)
        api.wkeSetNavigationToNewWindowEnable(control->view, true);

    // Double-clicks reach the engine only when its window class asks for them.
    control->engineWindow = engineWindow;
    if (!(GetClassLongW(engineWindow, GCL_STYLE) & CS_DBLCLKS))
        SetClassLongA(engineWindow, GCL_STYLE, CS_DBLCLKS);

    control->formId = params.formId;
    control->unitId = params.unitId;
    control->controlId = params.controlId;
    control->design = params.design;
    control->host = host.Get();
    SetWindowLongW(host.Get(), FormIdOffset, static_cast<LONG>(params.formId));
    SetWindowLongW(host.Get(), UnitIdOffset, static_cast<LONG>(params.unitId));
    SetWindowLongW(host.Get(), ControlIdOffset, static_cast<LONG>(params.controlId));
    SetWindowLongPtrW(host.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(control.get()));
    RegisterWebView(control.get());

    // From here the host window owns the object.
    WebViewControl* owned = control.release();
    ApplyStoredProperties(*owned);
    return host.Release();
}

HWND CreateFormWebView(const FormLayout& form, const ControlLayout& layout, HWND parent)
{
    WebViewCreateParams params;
    params.parent = parent;
    params.style = ChildStyle(layout);
    params.controlId = layout.id;
    params.x = layout.left;
    params.y = layout.top;
    params.width = layout.width;
    params.height = layout.height;
    params.formId = form.formId;
    params.unitId = layout.id;
    return CreateWebViewControl(params);
}
