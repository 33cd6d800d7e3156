// The flat C interface of node.dll: each export finds the view and hands the
// call to it. Unknown or destroyed views are ignored; calls that return
// something then return the empty result.
#include <atomic>

#include "EngineString.h"
#include "WebView.h"
#include "wke.h"

namespace {

std::atomic<bool> g_initialized{false};

} // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

#define WKE_REGISTRATION(exportName, slot, CallbackType)                             \
    void WKE_CALL exportName(wkeWebView webView, CallbackType callback, void* param) \
    {                                                                                \
        if (auto view = WebView::Find(webView))                                      \
            view->Callbacks().slot = {callback, param};                              \
    }

extern "C" {

void WKE_CALL wkeInitializeEx(const wkeSettings*)
{
    // No settings bit changes behaviour yet; the record is accepted as given.
    g_initialized = WebView::RegisterWindowClass();
}

bool WKE_CALL wkeIsInitialize()
{
    return g_initialized;
}

wkeWebView WKE_CALL wkeCreateWebWindow(wkeWindowType type, HWND parent, int x, int y, int width, int height)
{
    WebView* view = WebView::Create(type, parent, x, y, width, height);
    return view ? view->Handle() : nullptr;
}

HWND WKE_CALL wkeGetWindowHandle(wkeWebView webView)
{
    const auto view = WebView::Find(webView);
    return view ? view->Window() : nullptr;
}

void WKE_CALL wkeShowWindow(wkeWebView webView, bool show)
{
    if (auto view = WebView::Find(webView))
        view->Show(show);
}

void WKE_CALL wkeResize(wkeWebView webView, int width, int height)
{
    if (auto view = WebView::Find(webView))
        view->Resize(width, height);
}

void WKE_CALL wkeSetWindowTitleW(wkeWebView webView, const wchar_t* title)
{
    if (auto view = WebView::Find(webView))
        view->SetWindowTitle(title);
}

void WKE_CALL wkeLoadURL(wkeWebView webView, const char* utf8Url)
{
    if (auto view = WebView::Find(webView))
        view->LoadUrl(utf8Url ? utf8Url : "");
}

void WKE_CALL wkeLoadHTML(wkeWebView webView, const char* utf8Html)
{
    if (auto view = WebView::Find(webView))
        view->LoadHtml(utf8Html ? utf8Html : "");
}

void WKE_CALL wkeReload(wkeWebView webView)
{
    if (auto view = WebView::Find(webView))
        view->Reload();
}

const char* WKE_CALL wkeGetSource(wkeWebView webView)
{
    const auto view = WebView::Find(webView);
    return view ? view->Source() : nullptr;
}

const char* WKE_CALL wkeGetTitle(wkeWebView webView)
{
    const auto view = WebView::Find(webView);
    return view ? view->Title() : "";
}

const wchar_t* WKE_CALL wkeGetStringW(wkeString string)
{
    return string ? string->text.c_str() : L"";
}

// Accepted for the host's sake; this engine has no transparency, content
// security policy or plug-ins to switch.
void WKE_CALL wkeSetTransparent(wkeWebView, bool) {}
void WKE_CALL wkeSetCspCheckEnable(wkeWebView, bool) {}
void WKE_CALL wkeSetNpapiPluginsEnabled(wkeWebView, bool) {}

void WKE_CALL wkeSetNavigationToNewWindowEnable(wkeWebView webView, bool enable)
{
    if (auto view = WebView::Find(webView))
        view->SetNavigationToNewWindow(enable);
}

void WKE_CALL wkeSetUserAgent(wkeWebView webView, const char* utf8UserAgent)
{
    if (auto view = WebView::Find(webView))
        view->SetUserAgent(utf8UserAgent);
}

void WKE_CALL wkeSetLocalStorageFullPath(wkeWebView webView, const wchar_t* path)
{
    if (auto view = WebView::Find(webView))
        view->SetLocalStorageDirectory(path);
}

void WKE_CALL wkeSetCookieJarPath(wkeWebView webView, const wchar_t* path)
{
    if (auto view = WebView::Find(webView))
        view->SetCookieDirectory(path);
}

WKE_REGISTRATION(wkeOnPaintUpdated, paintUpdated, wkePaintUpdatedCallback)
WKE_REGISTRATION(wkeOnLoadingFinish, loadingFinish, wkeLoadingFinishCallback)
WKE_REGISTRATION(wkeOnTitleChanged, titleChanged, wkeTitleChangedCallback)
WKE_REGISTRATION(wkeOnMouseOverUrlChanged, mouseOverUrlChanged, wkeMouseOverUrlChangedCallback)
WKE_REGISTRATION(wkeOnURLChanged2, urlChanged, wkeURLChangedCallback2)
WKE_REGISTRATION(wkeOnAlertBox, alertBox, wkeAlertBoxCallback)
WKE_REGISTRATION(wkeOnConfirmBox, confirmBox, wkeConfirmBoxCallback)
WKE_REGISTRATION(wkeOnPromptBox, promptBox, wkePromptBoxCallback)
WKE_REGISTRATION(wkeOnNavigation, navigation, wkeNavigationCallback)
WKE_REGISTRATION(wkeOnCreateView, createView, wkeCreateViewCallback)
WKE_REGISTRATION(wkeOnDocumentReady2, documentReady, wkeDocumentReady2Callback)
WKE_REGISTRATION(wkeOnDownload, download, wkeDownloadCallback)
WKE_REGISTRATION(wkeOnConsole, console, wkeConsoleCallback)
WKE_REGISTRATION(wkeOnLoadUrlBegin, loadUrlBegin, wkeLoadUrlBeginCallback)
WKE_REGISTRATION(wkeOnLoadUrlEnd, loadUrlEnd, wkeLoadUrlEndCallback)
WKE_REGISTRATION(wkeOnWindowClosing, windowClosing, wkeWindowClosingCallback)
WKE_REGISTRATION(wkeOnWindowDestroy, windowDestroy, wkeWindowDestroyCallback)
}
