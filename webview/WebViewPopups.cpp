#include "webview/EngineApi.h"
#include "webview/EngineText.h"
#include "webview/WebViewInstance.h"
#include "webview/WebViewRaise.h"

// Pages that ask for a new window get a top-level popup view, when the
// control allows new windows and no handler refuses. The popup raises its
// events on the control that made it; once that control is gone, the popup
// lives on quietly until the user closes it.

namespace {

// Shown until the page in the popup gives a title of its own.
constexpr wchar_t PopupTitle[] = L"网页";

// A page that names no size still gets a window one can read.
constexpr int DefaultPopupWidth = 800;
constexpr int DefaultPopupHeight = 600;

struct PopupPlacement {
    int32_t parent = 0;
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = DefaultPopupWidth;
    int32_t height = DefaultPopupHeight;
};

PopupPlacement RequestedPlacement(const wkeWindowFeatures* features)
{
    PopupPlacement placement;
    if (!features)
        return placement;
    placement.x = features->x;
    placement.y = features->y;
    if (features->width > 0 && features->height > 0) {
        placement.width = features->width;
        placement.height = features->height;
    }
    return placement;
}

// The popup's window title follows its page's title, in UTF-16 as the engine
// gives it.
void WKE_CALL OnPopupTitleChanged(wkeWebView popup, void*, const wkeString title)
{
    const EngineApi& api = Engine();
    if (!api.wkeSetWindowTitleW || !api.wkeGetStringW || !title)
        return;
    const wchar_t* text = api.wkeGetStringW(title);
    api.wkeSetWindowTitleW(popup, text ? text : L"");
}

bool WKE_CALL OnPopupClosing(wkeWebView popup, void* param)
{
    WebViewControl* control = EventSource(param);
    if (!control)
        return true;
    return Answer(RaiseWebViewEvent(*control, PopupClosingEvent, {MakeIntArg(PointerArg(popup))}), true);
}

void WKE_CALL OnPopupDestroy(wkeWebView popup, void* param)
{
    if (WebViewControl* control = EventSource(param))
        RaiseWebViewEvent(*control, PopupDestroyedEvent, {MakeIntArg(PointerArg(popup))});
}

// Makes the popup view; none when the control went away meanwhile or the
// engine gives no view.
wkeWebView MakePopup(void* param, const wkeWindowFeatures* features)
{
    const EngineApi& api = Engine();
    WebViewControl* control = EventSource(param);
    if (!control || !api.wkeCreateWebWindow)
        return nullptr;

    // The handler gets the addresses, so it may move the window or give it an
    // owner.
    PopupPlacement placement = RequestedPlacement(features);
    RaiseWebViewEvent(*control, PopupPlacementEvent,
                      {MakeIntRefArg(&placement.parent), MakeIntRefArg(&placement.x), MakeIntRefArg(&placement.y),
                       MakeIntRefArg(&placement.width), MakeIntRefArg(&placement.height)});
    control = EventSource(param);
    if (!control)
        return nullptr;
    HWND parent = reinterpret_cast<HWND>(static_cast<uintptr_t>(static_cast<uint32_t>(placement.parent)));
    wkeWebView popup = api.wkeCreateWebWindow(WKE_WINDOW_TYPE_POPUP, parent, placement.x, placement.y, placement.width,
                                              placement.height);
    if (!popup)
        return nullptr;
    RaiseWebViewEvent(*control, PopupCreatedEvent, {MakeIntArg(PointerArg(popup))});

    if (api.wkeSetWindowTitleW)
        api.wkeSetWindowTitleW(popup, PopupTitle);
    if (api.wkeShowWindow)
        api.wkeShowWindow(popup, true);
    RegisterCallback(api.wkeOnCreateView, popup, OnEngineCreateView, param);
    RegisterCallback(api.wkeOnTitleChanged, popup, OnPopupTitleChanged, param);
    RegisterCallback(api.wkeOnWindowClosing, popup, OnPopupClosing, param);
    RegisterCallback(api.wkeOnWindowDestroy, popup, OnPopupDestroy, param);
    if (api.wkeSetNavigationToNewWindowEnable)
        api.wkeSetNavigationToNewWindowEnable(popup, true);
    return popup;
}

} // namespace

wkeWebView WKE_CALL OnEngineCreateView(wkeWebView, void* param, wkeNavigationType navigationType, const wkeString url,
                                       const wkeWindowFeatures* features)
{
    WebViewControl* control = EventSource(param);
    if (!control)
        return nullptr;
    EventText urlText(EngineStringToCp936(url));
    bool allowed =
        Answer(RaiseWebViewEvent(*control, NewWindowEvent, {MakeIntArg(navigationType), urlText.Ref()}), true);
    // The handler may have closed the control, or switched new windows on.
    control = EventSource(param);
    if (!allowed || !control || control->newWindowEnabled == 0)
        return nullptr;
    return MakePopup(param, features);
}
