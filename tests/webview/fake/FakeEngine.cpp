// A stand-in node.dll for the web view's tests: it records every call the
// control makes, keeps one child window per view, and lets the test raise the
// engine's callbacks on demand through its fake* exports.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/include/wke.h"

struct wkeStringImpl {
    std::wstring text;
};

struct wkeWebViewImpl {
    HWND window = nullptr;
    int width = 0, height = 0;
    std::string source;
    bool loaded = false;
    std::string title;
    wkePaintUpdatedCallback paint = nullptr;
    void* paintParam = nullptr;
    wkeLoadingFinishCallback finish = nullptr;
    void* finishParam = nullptr;
    wkeNavigationCallback navigation = nullptr;
    void* navigationParam = nullptr;
    wkeConfirmBoxCallback confirm = nullptr;
    void* confirmParam = nullptr;
    wkePromptBoxCallback prompt = nullptr;
    void* promptParam = nullptr;
    wkeDownloadCallback download = nullptr;
    void* downloadParam = nullptr;
    wkeLoadUrlBeginCallback loadUrlBegin = nullptr;
    void* loadUrlBeginParam = nullptr;
    wkeCreateViewCallback createView = nullptr;
    void* createViewParam = nullptr;
    wkeTitleChangedCallback titleChanged = nullptr;
    void* titleChangedParam = nullptr;
    wkeMouseOverUrlChangedCallback hover = nullptr;
    void* hoverParam = nullptr;
    wkeURLChangedCallback2 urlChanged = nullptr;
    void* urlChangedParam = nullptr;
    wkeAlertBoxCallback alert = nullptr;
    void* alertParam = nullptr;
    wkeDocumentReady2Callback documentReady = nullptr;
    void* documentReadyParam = nullptr;
    wkeConsoleCallback console = nullptr;
    void* consoleParam = nullptr;
    wkeLoadUrlEndCallback loadUrlEnd = nullptr;
    void* loadUrlEndParam = nullptr;
    wkeWindowClosingCallback closing = nullptr;
    void* closingParam = nullptr;
    wkeWindowDestroyCallback destroy = nullptr;
    void* destroyParam = nullptr;
    std::string pendingUrl;
};

namespace {

constexpr UINT FinishLoadMessage = WM_APP + 1;
constexpr wchar_t ViewClassName[] = L"FakeEngineView";

std::string& CallLog()
{
    static std::string log;
    return log;
}

void Log(const std::string& line)
{
    CallLog() += line;
    CallLog() += '\n';
}

std::string Utf8(const wchar_t* text)
{
    if (!text || !*text)
        return {};
    int cb = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), cb, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(cb) - 1);
    return utf8;
}

std::wstring Wide(const std::string& utf8)
{
    if (utf8.empty())
        return {};
    int cch = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(cch), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), cch);
    return wide;
}

std::string Ptr(const void* p)
{
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

int initializeCount = 0;
std::vector<wkeWebViewImpl*> views;
bool destroyedWithOwnProcedure = false;

void FinishLoad(wkeWebViewImpl* view, const std::wstring& url, wkeLoadingResult result, const std::wstring& reason)
{
    if (!view->finish)
        return;
    wkeStringImpl urlString{url};
    wkeStringImpl reasonString{reason};
    view->finish(view, view->finishParam, &urlString, result, &reasonString);
}

// Input as the view's own procedure gets it, so a test can tell what the
// control let through.
bool IsInput(UINT message)
{
    return message == WM_SETFOCUS || message == WM_KILLFOCUS || (message >= WM_KEYDOWN && message <= WM_SYSKEYUP) ||
           message == WM_HSCROLL || message == WM_VSCROLL || (message >= WM_MOUSEMOVE && message <= WM_MBUTTONDBLCLK);
}

LRESULT CALLBACK ViewWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* view = reinterpret_cast<wkeWebViewImpl*>(GetPropW(window, L"FakeEngineView"));
    if (IsInput(message)) {
        char line[64];
        std::snprintf(line, sizeof line, "input %04x %u %08lx", message, static_cast<unsigned>(wParam),
                      static_cast<unsigned long>(lParam));
        Log(line);
    }
    switch (message) {
    case FinishLoadMessage:
        if (view && !view->pendingUrl.empty()) {
            std::string url = view->pendingUrl;
            view->pendingUrl.clear();
            view->loaded = true;
            view->source = "<html><body>" + url + "</body></html>";
            FinishLoad(view, Wide(url), WKE_LOADING_SUCCEEDED, L"");
        }
        return 0;
    case WM_CLOSE:
        if (view && view->closing && !view->closing(view, view->closingParam))
            return 0;
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        if (view && view->destroy)
            view->destroy(view, view->destroyParam);
        destroyedWithOwnProcedure =
            GetWindowLongPtrW(window, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(ViewWindowProc);
        RemovePropW(window, L"FakeEngineView");
        return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

extern "C" {

void WKE_CALL wkeInitializeEx(const wkeSettings* settings)
{
    ++initializeCount;
    bool zero = true;
    for (unsigned char byte : settings->reserved)
        zero = zero && byte == 0;
    Log("wkeInitializeEx mask=" + std::to_string(settings->mask) + (zero ? " zero" : " dirty"));
}

bool WKE_CALL wkeIsInitialize()
{
    return initializeCount > 0;
}

wkeWebView WKE_CALL wkeCreateWebWindow(wkeWindowType type, HWND parent, int x, int y, int width, int height)
{
    Log("wkeCreateWebWindow " + std::to_string(type) + " " + Ptr(parent) + " " + std::to_string(x) + " " +
        std::to_string(y) + " " + std::to_string(width) + " " + std::to_string(height));
    static bool registered = false;
    if (!registered) {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.style = CS_HREDRAW | CS_VREDRAW;
        windowClass.lpfnWndProc = ViewWindowProc;
        windowClass.hInstance = GetModuleHandleW(L"node.dll");
        windowClass.lpszClassName = ViewClassName;
        registered = RegisterClassExW(&windowClass) != 0;
    }
    auto* view = new wkeWebViewImpl; // kept for the process, like a real engine's late callbacks
    views.push_back(view);
    view->width = width;
    view->height = height;
    // A control is a visible child; a popup a hidden top-level window.
    DWORD style = type == WKE_WINDOW_TYPE_CONTROL ? WS_CHILD | WS_VISIBLE : WS_OVERLAPPEDWINDOW;
    view->window = CreateWindowExW(0, ViewClassName, L"", style, x, y, width, height,
                                   type == WKE_WINDOW_TYPE_CONTROL || IsWindow(parent) ? parent : nullptr, nullptr,
                                   GetModuleHandleW(L"node.dll"), nullptr);
    SetPropW(view->window, L"FakeEngineView", view);
    return view;
}

HWND WKE_CALL wkeGetWindowHandle(wkeWebView view)
{
    Log("wkeGetWindowHandle");
    return view->window;
}

void WKE_CALL wkeShowWindow(wkeWebView view, bool show)
{
    Log("wkeShowWindow " + std::to_string(show));
    ShowWindow(view->window, show ? SW_SHOWNA : SW_HIDE);
}
void WKE_CALL wkeResize(wkeWebView view, int w, int h)
{
    view->width = w;
    view->height = h;
    Log("wkeResize " + std::to_string(w) + " " + std::to_string(h));
}
void WKE_CALL wkeSetWindowTitleW(wkeWebView view, const wchar_t* title)
{
    Log("wkeSetWindowTitleW " + Utf8(title));
    SetWindowTextW(view->window, title);
}

void WKE_CALL wkeLoadURL(wkeWebView view, const char* url)
{
    Log("wkeLoadURL " + std::string(url ? url : "(null)"));
    view->pendingUrl = url ? url : "";
    PostMessageW(view->window, FinishLoadMessage, 0, 0);
}

void WKE_CALL wkeLoadHTML(wkeWebView, const char*)
{
    Log("wkeLoadHTML");
}
void WKE_CALL wkeReload(wkeWebView)
{
    Log("wkeReload");
}

const char* WKE_CALL wkeGetSource(wkeWebView view)
{
    return view->loaded ? view->source.c_str() : nullptr;
}

const char* WKE_CALL wkeGetTitle(wkeWebView view)
{
    return view->title.c_str();
}

const wchar_t* WKE_CALL wkeGetStringW(wkeString text)
{
    return text ? text->text.c_str() : L"";
}

void WKE_CALL wkeSetTransparent(wkeWebView, bool on)
{
    Log("wkeSetTransparent " + std::to_string(on));
}
void WKE_CALL wkeSetCspCheckEnable(wkeWebView, bool on)
{
    Log("wkeSetCspCheckEnable " + std::to_string(on));
}
void WKE_CALL wkeSetNpapiPluginsEnabled(wkeWebView, bool on)
{
    Log("wkeSetNpapiPluginsEnabled " + std::to_string(on));
}
void WKE_CALL wkeSetNavigationToNewWindowEnable(wkeWebView, bool on)
{
    Log("wkeSetNavigationToNewWindowEnable " + std::to_string(on));
}
void WKE_CALL wkeSetUserAgent(wkeWebView, const char* agent)
{
    Log("wkeSetUserAgent " + std::string(agent));
}
void WKE_CALL wkeSetLocalStorageFullPath(wkeWebView, const wchar_t* path)
{
    Log("wkeSetLocalStorageFullPath " + Utf8(path));
}
void WKE_CALL wkeSetCookieJarPath(wkeWebView, const wchar_t* path)
{
    Log("wkeSetCookieJarPath " + Utf8(path));
}

#define FAKE_REGISTRATION(name, type, field)                        \
    void WKE_CALL name(wkeWebView view, type callback, void* param) \
    {                                                               \
        Log(std::string(#name) + " " + Ptr(param));                 \
        view->field = callback;                                     \
        view->field##Param = param;                                 \
    }

FAKE_REGISTRATION(wkeOnPaintUpdated, wkePaintUpdatedCallback, paint)
FAKE_REGISTRATION(wkeOnLoadingFinish, wkeLoadingFinishCallback, finish)
FAKE_REGISTRATION(wkeOnTitleChanged, wkeTitleChangedCallback, titleChanged)
FAKE_REGISTRATION(wkeOnMouseOverUrlChanged, wkeMouseOverUrlChangedCallback, hover)
FAKE_REGISTRATION(wkeOnURLChanged2, wkeURLChangedCallback2, urlChanged)
FAKE_REGISTRATION(wkeOnAlertBox, wkeAlertBoxCallback, alert)
FAKE_REGISTRATION(wkeOnConfirmBox, wkeConfirmBoxCallback, confirm)
FAKE_REGISTRATION(wkeOnPromptBox, wkePromptBoxCallback, prompt)
FAKE_REGISTRATION(wkeOnNavigation, wkeNavigationCallback, navigation)
FAKE_REGISTRATION(wkeOnCreateView, wkeCreateViewCallback, createView)
FAKE_REGISTRATION(wkeOnDocumentReady2, wkeDocumentReady2Callback, documentReady)
FAKE_REGISTRATION(wkeOnDownload, wkeDownloadCallback, download)
FAKE_REGISTRATION(wkeOnConsole, wkeConsoleCallback, console)
FAKE_REGISTRATION(wkeOnLoadUrlBegin, wkeLoadUrlBeginCallback, loadUrlBegin)
FAKE_REGISTRATION(wkeOnLoadUrlEnd, wkeLoadUrlEndCallback, loadUrlEnd)
FAKE_REGISTRATION(wkeOnWindowClosing, wkeWindowClosingCallback, closing)
FAKE_REGISTRATION(wkeOnWindowDestroy, wkeWindowDestroyCallback, destroy)

// The test's side.

const char* fakeEngineCalls()
{
    return CallLog().c_str();
}

// The views in creation order; null past the last.
wkeWebView fakeEngineView(int index)
{
    return index >= 0 && static_cast<size_t>(index) < views.size() ? views[static_cast<size_t>(index)] : nullptr;
}

int fakeEngineViewCount()
{
    return static_cast<int>(views.size());
}

int fakeEngineInitializeCount()
{
    return initializeCount;
}

// Whether the last view window destroyed had its own procedure back.
bool fakeEngineDestroyedWithOwnProcedure()
{
    return destroyedWithOwnProcedure;
}

WNDPROC fakeEngineViewProcedure()
{
    return ViewWindowProc;
}

void fakeEngineSetPage(wkeWebView view, const char* utf8Source, const char* utf8Title)
{
    view->loaded = utf8Source != nullptr;
    view->source = utf8Source ? utf8Source : "";
    view->title = utf8Title ? utf8Title : "";
}

void fakeEngineFinish(wkeWebView view, const wchar_t* url, int result, const wchar_t* reason)
{
    FinishLoad(view, url ? url : L"", static_cast<wkeLoadingResult>(result), reason ? reason : L"");
}

// The engine's answer, or -1 when no callback is registered.
int fakeEngineNavigation(wkeWebView view, int type, const wchar_t* url)
{
    wkeStringImpl text{url};
    return view->navigation ? view->navigation(view, view->navigationParam, static_cast<wkeNavigationType>(type), &text)
                            : -1;
}

int fakeEngineConfirm(wkeWebView view, const wchar_t* message)
{
    wkeStringImpl text{message};
    return view->confirm ? view->confirm(view, view->confirmParam, &text) : -1;
}

int fakeEnginePrompt(wkeWebView view, const wchar_t* message, const wchar_t* defaultText)
{
    wkeStringImpl text{message};
    wkeStringImpl defaultString{defaultText};
    wkeStringImpl result{defaultText};
    return view->prompt ? view->prompt(view, view->promptParam, &text, &defaultString, &result) : -1;
}

int fakeEngineDownload(wkeWebView view, const char* url)
{
    return view->download ? view->download(view, view->downloadParam, url) : -1;
}

int fakeEngineLoadUrlBegin(wkeWebView view, const char* url, void* job)
{
    return view->loadUrlBegin ? view->loadUrlBegin(view, view->loadUrlBeginParam, url, job) : -1;
}

// 1 when a view came back, 0 for none, -1 without a callback.
int fakeEngineCreateView(wkeWebView view, const wchar_t* url)
{
    wkeStringImpl text{url};
    wkeWindowFeatures features{10, 20, 300, 200, false, false, false, false, true, true, false};
    if (!view->createView)
        return -1;
    return view->createView(view, view->createViewParam, WKE_NAVIGATION_TYPE_LINKCLICK, &text, &features) ? 1 : 0;
}

// A popup as the engine would ask for one; the view that came back, or null.
wkeWebView fakeEngineCreateViewAt(wkeWebView view, const wchar_t* url, int x, int y, int width, int height)
{
    wkeStringImpl text{url};
    wkeWindowFeatures features{x, y, width, height, false, false, false, false, true, true, false};
    return view->createView ? view->createView(view, view->createViewParam, WKE_NAVIGATION_TYPE_OTHER, &text, &features)
                            : nullptr;
}

void fakeEngineTitle(wkeWebView view, const wchar_t* title)
{
    wkeStringImpl text{title};
    if (view->titleChanged)
        view->titleChanged(view, view->titleChangedParam, &text);
}

void fakeEngineHover(wkeWebView view, const wchar_t* url)
{
    wkeStringImpl text{url};
    if (view->hover)
        view->hover(view, view->hoverParam, &text);
}

void fakeEngineUrlChanged(wkeWebView view, const wchar_t* url)
{
    wkeStringImpl text{url};
    if (view->urlChanged)
        view->urlChanged(view, view->urlChangedParam, reinterpret_cast<wkeWebFrameHandle>(7), &text);
}

void fakeEngineAlert(wkeWebView view, const wchar_t* message)
{
    wkeStringImpl text{message};
    if (view->alert)
        view->alert(view, view->alertParam, &text);
}

void fakeEngineDocumentReady(wkeWebView view)
{
    if (view->documentReady)
        view->documentReady(view, view->documentReadyParam, reinterpret_cast<wkeWebFrameHandle>(7));
}

void fakeEngineConsole(wkeWebView view, int level, const wchar_t* message, const wchar_t* source, unsigned line,
                       const wchar_t* stack)
{
    wkeStringImpl messageText{message};
    wkeStringImpl sourceText{source};
    wkeStringImpl stackText{stack};
    if (view->console)
        view->console(view, view->consoleParam, static_cast<wkeConsoleLevel>(level), &messageText, &sourceText, line,
                      &stackText);
}

void fakeEngineLoadUrlEnd(wkeWebView view, const char* url, void* job, void* buf, int len)
{
    if (view->loadUrlEnd)
        view->loadUrlEnd(view, view->loadUrlEndParam, url, job, buf, len);
}

HWND fakeEngineWindow(wkeWebView view)
{
    return view ? view->window : nullptr;
}

// Paints the rectangle in one colour through the paint callback.
void fakeEnginePaint(wkeWebView view, COLORREF colour, int x, int y, int cx, int cy)
{
    if (!view->paint)
        return;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, view->width, view->height);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all{0, 0, view->width, view->height};
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    view->paint(view, view->paintParam, dc, x, y, cx, cy);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
}
}
