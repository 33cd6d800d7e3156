#pragma once
#include <windows.h>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "CookieJar.h"
#include "HtmlText.h"
#include "Loader.h"
#include "PageHost.h"
#include "PageScripts.h"
#include "Renderer.h"
#include "ViewCallbacks.h"
#include "wke.h"

// One view: its window, its current document and its loads. Everything but
// Deliver runs on the thread that created the view. The window keeps the
// object alive (self_); each worker holds a reference too, so a view whose
// window is destroyed mid-load goes only when its last worker has finished.
class WebView : public std::enable_shared_from_this<WebView>, private PageHost {
public:
    static bool RegisterWindowClass();
    // The new view, or null when its window could not be made.
    static WebView* Create(wkeWindowType type, HWND parent, int x, int y, int width, int height);
    // The live view behind a handle; null for a null, unknown or destroyed one.
    static std::shared_ptr<WebView> Find(wkeWebView handle);

    wkeWebView Handle() { return reinterpret_cast<wkeWebView>(this); }
    HWND Window() const { return window_; }
    ViewCallbacks& Callbacks() { return callbacks_; }

    void Show(bool show);
    void Resize(int width, int height);
    void SetWindowTitle(const wchar_t* title);
    void SetUserAgent(const char* utf8UserAgent);
    void SetCookieDirectory(const wchar_t* path);
    void SetLocalStorageDirectory(const wchar_t* path);
    void SetNavigationToNewWindow(bool enable) { newWindowEnabled_ = enable; }

    void LoadUrl(std::string url, wkeNavigationType type = WKE_NAVIGATION_TYPE_OTHER);
    void LoadHtml(std::string html);
    void Reload();
    const char* Source() const { return hasSource_ ? source_.c_str() : nullptr; }
    const char* Title() const { return title_.c_str(); }

    // From a worker thread: queues the result for the view's thread.
    void Deliver(FetchResult result);

private:
    // Timer ids on the view window: the meta refresh, the load watchdog and,
    // from ScriptTimerBase up, the page's script timers.
    static constexpr UINT_PTR RefreshTimer = 0x4B52;
    static constexpr UINT_PTR WatchdogTimer = 0x4B53;
    static constexpr UINT_PTR ScriptTimerBase = 0x10000;
    static constexpr UINT TaskMessage = WM_APP + 0x3A1;
    static constexpr UINT ResultMessage = WM_APP + 0x3A2;

    struct Load {
        uint32_t id = 0;
        std::string url;                 // as requested
        std::optional<std::string> html; // set for wkeLoadHTML
        wkeNavigationType type = WKE_NAVIGATION_TYPE_OTHER;
        std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
    };

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnPaint();
    void OnSize(int width, int height);
    void OnNcDestroy();
    void Post(std::function<void()> task);
    void RunTasks();
    void RunResults();

    // The load pipeline (Navigation.cpp).
    void BeginLoad(Load load);
    void StartLoad(uint32_t id);
    void OnFetched(FetchResult result);
    void Commit(uint32_t id, std::string url, const std::string& bytes, const std::string& contentType);
    void ShowFailure(const std::string& url, const std::string& reason);
    void Finish(uint32_t id, wkeLoadingResult result, const std::string& reason);
    bool IsCurrent(uint32_t id) const { return window_ && active_ && active_->id == id; }
    void ScheduleRefresh();
    void OnRefreshTimer();
    void OnWatchdogTimer();
    // The one set with wkeSetUserAgent, else the engine's own.
    std::string UserAgent() const;
    void Repaint();

    // Scripts and links of the current document (WebViewScripting.cpp).
    void RunPageScripts(uint32_t id);
    // Posts again what waited while a script ran.
    void AfterScript();
    // The document's scripts, timers and hovered link end; notify tells the host the link went.
    void EndDocument(bool notify);
    std::string ResolveForPage(const std::string& reference) const;
    void RunScriptUrl(const std::string& url);
    bool ScriptsBusy() const { return scripts_ && scripts_->Busy(); }
    void OnScriptTimer(unsigned id);
    int LinkAt(int x, int y) const;
    std::string LinkUrl(int link) const;
    void OnMouseMove(int x, int y);
    void OnMouseLeave();
    void OnLeftButtonUp(int x, int y);
    void FollowLink(int link);

    void ScriptAlert(const std::wstring& message) override;
    bool ScriptConfirm(const std::wstring& message) override;
    std::optional<std::wstring> ScriptPrompt(const std::wstring& message, const std::wstring& defaultText) override;
    void ScriptConsole(wkeConsoleLevel level, const std::wstring& message, unsigned line) override;
    std::wstring ScriptTitle() override;
    void ScriptSetTitle(const std::wstring& title) override;
    std::wstring ScriptCookie() override;
    void ScriptSetCookie(const std::wstring& cookie) override;
    std::wstring ScriptLocation() override;
    void ScriptNavigate(const std::wstring& url, wkeNavigationType type) override;
    bool ScriptOpenWindow(const std::wstring& url, const std::wstring& features) override;
    std::wstring ScriptUserAgent() override;
    void ScriptStartTimer(unsigned id, unsigned delayMs) override;
    void ScriptStopTimer(unsigned id) override;

    HWND window_ = nullptr;
    std::shared_ptr<WebView> self_;
    ViewCallbacks callbacks_;
    Renderer renderer_;

    std::string userAgent_;
    std::shared_ptr<CookieJar> cookies_;
    std::wstring localStorageDirectory_;
    bool newWindowEnabled_ = true;

    uint32_t nextLoadId_ = 1;
    std::optional<Load> active_;        // started, not yet finished
    std::optional<Load> lastRequested_; // what wkeReload loads again
    std::string url_;                   // of the current document
    std::string source_;
    bool hasSource_ = false;
    std::string title_;
    PageText page_;
    std::string refreshUrl_;

    std::shared_ptr<PageScripts> scripts_;
    std::set<unsigned> scriptTimers_;
    bool deferredWhileScripting_ = false; // posted work that waits for the script to end
    int hoveredLink_ = -1;
    int pressedLink_ = -1;
    bool trackingMouse_ = false;

    std::deque<std::function<void()>> tasks_;
    std::mutex inboxMutex_; // guards inbox_ and, for Deliver, window_
    std::deque<FetchResult> inbox_;
};
