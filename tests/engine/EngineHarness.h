#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/include/wke.h"

// node.dll loaded from KELVORA_ENGINE and bound by name, as a host binds it.
struct EngineApi {
    HMODULE module = nullptr;
    decltype(&wkeInitializeEx) initializeEx = nullptr;
    decltype(&wkeIsInitialize) isInitialize = nullptr;
    decltype(&wkeCreateWebWindow) createWebWindow = nullptr;
    decltype(&wkeGetWindowHandle) getWindowHandle = nullptr;
    decltype(&wkeShowWindow) showWindow = nullptr;
    decltype(&wkeResize) resize = nullptr;
    decltype(&wkeLoadURL) loadUrl = nullptr;
    decltype(&wkeLoadHTML) loadHtml = nullptr;
    decltype(&wkeReload) reload = nullptr;
    decltype(&wkeGetSource) getSource = nullptr;
    decltype(&wkeGetTitle) getTitle = nullptr;
    decltype(&wkeGetStringW) getStringW = nullptr;
    decltype(&wkeSetUserAgent) setUserAgent = nullptr;
    decltype(&wkeSetCookieJarPath) setCookieJarPath = nullptr;
    decltype(&wkeSetLocalStorageFullPath) setLocalStorageFullPath = nullptr;
    decltype(&wkeOnLoadingFinish) onLoadingFinish = nullptr;
    decltype(&wkeOnTitleChanged) onTitleChanged = nullptr;
    decltype(&wkeOnPaintUpdated) onPaintUpdated = nullptr;
    decltype(&wkeOnNavigation) onNavigation = nullptr;
    decltype(&wkeOnDownload) onDownload = nullptr;
    decltype(&wkeOnURLChanged2) onUrlChanged = nullptr;
    decltype(&wkeOnDocumentReady2) onDocumentReady = nullptr;
    decltype(&wkeOnLoadUrlBegin) onLoadUrlBegin = nullptr;
    decltype(&wkeOnLoadUrlEnd) onLoadUrlEnd = nullptr;
    decltype(&wkeSetWindowTitleW) setWindowTitleW = nullptr;
    decltype(&wkeOnWindowClosing) onWindowClosing = nullptr;
    decltype(&wkeOnWindowDestroy) onWindowDestroy = nullptr;
    decltype(&wkeOnAlertBox) onAlertBox = nullptr;
    decltype(&wkeOnConfirmBox) onConfirmBox = nullptr;
    decltype(&wkeOnPromptBox) onPromptBox = nullptr;
    decltype(&wkeOnConsole) onConsole = nullptr;
    decltype(&wkeOnCreateView) onCreateView = nullptr;
    decltype(&wkeOnMouseOverUrlChanged) onMouseOverUrlChanged = nullptr;

    // The process's engine, loaded, bound and initialised once; null when it
    // cannot be loaded or lacks an entry point.
    static const EngineApi* Get();
};

// Windows path of a Linux path (Wine's Z: drive).
std::wstring WindowsPathOf(const std::string& linuxPath);

struct FinishRecord {
    std::string url;
    wkeLoadingResult result = WKE_LOADING_SUCCEEDED;
    std::string reason;
};

// One view in a hidden parent window (so it works off-screen, as the
// program's does), with every callback recorded. The thread that builds it
// must pump messages through Pump* for the engine to make progress.
class ViewHarness {
public:
    explicit ViewHarness(int width = 400, int height = 300);
    ~ViewHarness();
    ViewHarness(const ViewHarness&) = delete;
    ViewHarness& operator=(const ViewHarness&) = delete;

    const EngineApi& Api() const { return *api_; }
    wkeWebView View() const { return view_; }
    HWND Parent() const { return parent_; }
    void DestroyParent();

    void Load(const std::string& url) { api_->loadUrl(view_, url.c_str()); }
    // The current source, or "<null>" when the engine returned none.
    std::string Source() const;

    // Pumps messages until done() or the time-out; true when done().
    bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000);
    void PumpFor(DWORD ms);
    bool WaitForFinishes(size_t count, DWORD timeoutMs = 10000);

    std::vector<FinishRecord> finishes;
    std::vector<std::string> titles;
    std::vector<std::string> urlChanges;
    std::vector<std::string> events; // callback names in order of arrival
    std::vector<std::string> downloads;
    int paints = 0;
    int lastPaintCx = 0, lastPaintCy = 0;
    COLORREF paintedLinkPixelSeen = CLR_INVALID;
    bool sawInk = false;
    bool navigationAnswer = true;
    bool downloadAnswer = false;
    bool wrongThread = false; // a callback arrived on another thread

    // UTF-8 of an engine string; "<null>" for none.
    static std::string Utf8(const EngineApi& api, wkeString s);
    void OnCallback(const char* name);
    // Notes a callback that hands over a text, which goes to `into` of the
    // harness that `param` points at.
    template <typename Harness>
    static void NoteText(void* param, const char* name, std::vector<std::string> Harness::*into, wkeString text)
    {
        Harness& self = *static_cast<Harness*>(param);
        self.OnCallback(name);
        (self.*into).push_back(Utf8(self.Api(), text));
    }

private:
    const EngineApi* api_;
    DWORD threadId_;
    HWND parent_ = nullptr;
    wkeWebView view_ = nullptr;
};
