#include "WebView.h"

#include <windowsx.h>

#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "Charset.h"
#include "EngineString.h"
#include "FileSystem.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

constexpr wchar_t WindowClass[] = L"KelvoraEngineView";
// The view pointer lives in the window's extra bytes: GWLP_USERDATA is the
// host's (it keeps a subclassed procedure there).
constexpr int ViewSlot = 0;

HINSTANCE EngineInstance()
{
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

std::mutex& LiveViewsMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::unordered_map<WebView*, std::weak_ptr<WebView>>& LiveViews()
{
    static std::unordered_map<WebView*, std::weak_ptr<WebView>> views;
    return views;
}

} // namespace

bool WebView::RegisterWindowClass()
{
    static const bool registered = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.style = CS_HREDRAW | CS_VREDRAW;
        windowClass.lpfnWndProc = WindowProc;
        windowClass.cbWndExtra = sizeof(LONG_PTR);
        windowClass.hInstance = EngineInstance();
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.lpszClassName = WindowClass;
        return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

WebView* WebView::Create(wkeWindowType type, HWND parent, int x, int y, int width, int height)
{
    if (!RegisterWindowClass())
        return nullptr;
    if (type == WKE_WINDOW_TYPE_CONTROL && !IsWindow(parent))
        return nullptr;
    auto view = std::make_shared<WebView>();
    view->cookies_ = CookieJar::ForDirectory(L"");
    const DWORD style = type == WKE_WINDOW_TYPE_CONTROL ? WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN
                                                        : WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    // The window takes the first reference at WM_NCCREATE.
    const HWND window = CreateWindowExW(0, WindowClass, L"", style, x, y, std::max(width, 0), std::max(height, 0),
                                        IsWindow(parent) ? parent : nullptr, nullptr, EngineInstance(), view.get());
    if (!window)
        return nullptr;
    RECT client{};
    GetClientRect(window, &client);
    view->renderer_.Resize(client.right, client.bottom);
    view->renderer_.Render(view->page_);
    std::lock_guard lock(LiveViewsMutex());
    LiveViews()[view.get()] = view;
    return view.get();
}

std::shared_ptr<WebView> WebView::Find(wkeWebView handle)
{
    if (!handle)
        return nullptr;
    std::lock_guard lock(LiveViewsMutex());
    const auto found = LiveViews().find(reinterpret_cast<WebView*>(handle));
    return found == LiveViews().end() ? nullptr : found->second.lock();
}

LRESULT CALLBACK WebView::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* view = static_cast<WebView*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        view->window_ = window;
        view->self_ = view->shared_from_this();
        SetWindowLongPtrW(window, ViewSlot, reinterpret_cast<LONG_PTR>(view));
    }
    auto* view = reinterpret_cast<WebView*>(GetWindowLongPtrW(window, ViewSlot));
    if (!view)
        return DefWindowProcW(window, message, wParam, lParam);
    // A callback may destroy the window: the view must outlive this message.
    const std::shared_ptr<WebView> keepAlive = view->shared_from_this();
    return view->HandleMessage(message, wParam, lParam);
}

LRESULT WebView::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    const HWND window = window_;
    switch (message) {
    case TaskMessage:
    case ResultMessage:
        // Reached from a host's modal loop inside a script's callback: wait for the script.
        if (ScriptsBusy()) {
            deferredWhileScripting_ = true;
            return 0;
        }
        if (message == TaskMessage)
            RunTasks();
        else
            RunResults();
        return 0;
    case WM_TIMER:
        if (ScriptsBusy())
            return 0; // comes again
        if (wParam == RefreshTimer)
            OnRefreshTimer();
        else if (wParam == WatchdogTimer)
            OnWatchdogTimer();
        else if (wParam >= ScriptTimerBase)
            OnScriptTimer(static_cast<unsigned>(wParam - ScriptTimerBase));
        return 0;
    case WM_PAINT: OnPaint(); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_LBUTTONDOWN:
        SetFocus(window);
        pressedLink_ = LinkAt(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_RBUTTONDOWN:
        // A click gives the page the keyboard, as in a browser.
        SetFocus(window);
        return 0;
    case WM_LBUTTONUP: OnLeftButtonUp(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)); return 0;
    case WM_MOUSEMOVE: OnMouseMove(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)); return 0;
    case WM_MOUSELEAVE: OnMouseLeave(); return 0;
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT && hoveredLink_ >= 0) {
            SetCursor(LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_SIZE: OnSize(LOWORD(lParam), HIWORD(lParam)); return 0;
    case WM_CLOSE:
        if (callbacks_.windowClosing && !callbacks_.windowClosing.callback(Handle(), callbacks_.windowClosing.param))
            return 0;
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        if (callbacks_.windowDestroy)
            callbacks_.windowDestroy.callback(Handle(), callbacks_.windowDestroy.param);
        return 0;
    case WM_NCDESTROY: OnNcDestroy(); return DefWindowProcW(window, message, wParam, lParam);
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

void WebView::OnPaint()
{
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(window_, &paint);
    if (dc) {
        const RECT& r = paint.rcPaint;
        BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, renderer_.Dc(), r.left, r.top, SRCCOPY);
        EndPaint(window_, &paint);
    }
}

void WebView::OnSize(int width, int height)
{
    if (width <= 0 || height <= 0 || (width == renderer_.Width() && height == renderer_.Height()))
        return;
    if (renderer_.Resize(width, height))
        Repaint();
}

void WebView::Repaint()
{
    renderer_.Render(page_);
    if (!window_)
        return;
    InvalidateRect(window_, nullptr, FALSE);
    if (callbacks_.paintUpdated)
        callbacks_.paintUpdated.callback(Handle(), callbacks_.paintUpdated.param, renderer_.Dc(), 0, 0,
                                         renderer_.Width(), renderer_.Height());
}

void WebView::OnNcDestroy()
{
    {
        std::lock_guard lock(LiveViewsMutex());
        LiveViews().erase(this);
    }
    KillTimer(window_, RefreshTimer);
    KillTimer(window_, WatchdogTimer);
    EndDocument(false);
    SetWindowLongPtrW(window_, ViewSlot, 0);
    if (active_)
        active_->cancelled->store(true);
    active_.reset();
    tasks_.clear();
    {
        std::lock_guard lock(inboxMutex_);
        window_ = nullptr;
        inbox_.clear();
    }
    // Workers still running hold their own references; results they bring are dropped.
    self_.reset();
}

void WebView::Post(std::function<void()> task)
{
    tasks_.push_back(std::move(task));
    PostMessageW(window_, TaskMessage, 0, 0);
}

void WebView::RunTasks()
{
    while (window_ && !tasks_.empty()) {
        auto task = std::move(tasks_.front());
        tasks_.pop_front();
        task();
    }
}

void WebView::Deliver(FetchResult result)
{
    std::lock_guard lock(inboxMutex_);
    if (!window_)
        return;
    inbox_.push_back(std::move(result));
    PostMessageW(window_, ResultMessage, 0, 0);
}

void WebView::RunResults()
{
    for (;;) {
        std::optional<FetchResult> result;
        {
            std::lock_guard lock(inboxMutex_);
            if (!window_ || inbox_.empty())
                return;
            result = std::move(inbox_.front());
            inbox_.pop_front();
        }
        OnFetched(std::move(*result));
    }
}

void WebView::Show(bool show)
{
    ShowWindow(window_, show ? SW_SHOW : SW_HIDE);
}

void WebView::Resize(int width, int height)
{
    if (width < 0 || height < 0)
        return;
    SetWindowPos(window_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void WebView::SetWindowTitle(const wchar_t* title)
{
    SetWindowTextW(window_, title ? title : L"");
}

void WebView::SetUserAgent(const char* utf8UserAgent)
{
    // WinInet takes it as ANSI bytes: keep it to printable ASCII.
    userAgent_.clear();
    for (const char* p = utf8UserAgent; p && *p; ++p) {
        if (*p >= 0x20 && *p < 0x7F)
            userAgent_ += *p;
    }
}

void WebView::SetCookieDirectory(const wchar_t* path)
{
    cookies_ = CookieJar::ForDirectory(path ? path : L"");
}

void WebView::SetLocalStorageDirectory(const wchar_t* path)
{
    localStorageDirectory_ = path ? path : L"";
    if (!localStorageDirectory_.empty())
        CreateDirectoryTree(localStorageDirectory_);
}
