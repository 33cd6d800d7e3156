#include "tests/engine/EngineHarness.h"
#include "tests/support/MessagePump.h"

#include <cstdlib>

namespace {

template <typename T>
bool Bind(HMODULE module, const char* name, T& slot)
{
    slot = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return slot != nullptr;
}

EngineApi LoadEngine()
{
    EngineApi api;
    const char* path = std::getenv("KELVORA_ENGINE");
    if (!path)
        return api;
    api.module = LoadLibraryW(WindowsPathOf(path).c_str());
    if (!api.module)
        return api;
    bool all = true;
    const auto bind = [&](const char* name, auto& slot) { all = Bind(api.module, name, slot) && all; };
    bind("wkeInitializeEx", api.initializeEx);
    bind("wkeIsInitialize", api.isInitialize);
    bind("wkeCreateWebWindow", api.createWebWindow);
    bind("wkeGetWindowHandle", api.getWindowHandle);
    bind("wkeShowWindow", api.showWindow);
    bind("wkeResize", api.resize);
    bind("wkeLoadURL", api.loadUrl);
    bind("wkeLoadHTML", api.loadHtml);
    bind("wkeReload", api.reload);
    bind("wkeGetSource", api.getSource);
    bind("wkeGetTitle", api.getTitle);
    bind("wkeGetStringW", api.getStringW);
    bind("wkeSetUserAgent", api.setUserAgent);
    bind("wkeSetCookieJarPath", api.setCookieJarPath);
    bind("wkeSetLocalStorageFullPath", api.setLocalStorageFullPath);
    bind("wkeOnLoadingFinish", api.onLoadingFinish);
    bind("wkeOnTitleChanged", api.onTitleChanged);
    bind("wkeOnPaintUpdated", api.onPaintUpdated);
    bind("wkeOnNavigation", api.onNavigation);
    bind("wkeOnDownload", api.onDownload);
    bind("wkeOnURLChanged2", api.onUrlChanged);
    bind("wkeOnDocumentReady2", api.onDocumentReady);
    bind("wkeOnLoadUrlBegin", api.onLoadUrlBegin);
    bind("wkeOnLoadUrlEnd", api.onLoadUrlEnd);
    bind("wkeSetWindowTitleW", api.setWindowTitleW);
    bind("wkeOnWindowClosing", api.onWindowClosing);
    bind("wkeOnWindowDestroy", api.onWindowDestroy);
    bind("wkeOnAlertBox", api.onAlertBox);
    bind("wkeOnConfirmBox", api.onConfirmBox);
    bind("wkeOnPromptBox", api.onPromptBox);
    bind("wkeOnConsole", api.onConsole);
    bind("wkeOnCreateView", api.onCreateView);
    bind("wkeOnMouseOverUrlChanged", api.onMouseOverUrlChanged);
    if (!all) {
        api.module = nullptr;
        return api;
    }
    wkeSettings settings{};
    settings.mask = 4;
    api.initializeEx(&settings);
    return api;
}

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

const EngineApi* EngineApi::Get()
{
    static const EngineApi api = LoadEngine();
    return api.module ? &api : nullptr;
}

std::wstring WindowsPathOf(const std::string& linuxPath)
{
    std::wstring path = L"Z:";
    for (char c : linuxPath)
        path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    return path;
}

ViewHarness::ViewHarness(int width, int height) : api_(EngineApi::Get()), threadId_(GetCurrentThreadId())
{
    if (!api_)
        return;
    WNDCLASSW parentClass{};
    parentClass.lpfnWndProc = ParentProc;
    parentClass.hInstance = GetModuleHandleW(nullptr);
    parentClass.lpszClassName = L"EngineTestParent";
    RegisterClassW(&parentClass);
    // Never shown: the view lives off-screen, like the program's.
    parent_ = CreateWindowExW(0, L"EngineTestParent", L"", WS_OVERLAPPEDWINDOW, 0, 0, width + 40, height + 60, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
    view_ = api_->createWebWindow(WKE_WINDOW_TYPE_CONTROL, parent_, 0, 0, width, height);
    if (!view_)
        return;
    api_->onLoadingFinish(
        view_,
        [](wkeWebView, void* param, const wkeString url, wkeLoadingResult result, const wkeString reason) {
            auto* self = static_cast<ViewHarness*>(param);
            self->OnCallback("finish");
            self->finishes.push_back({Utf8(*self->api_, url), result, Utf8(*self->api_, reason)});
        },
        this);
    api_->onTitleChanged(
        view_,
        [](wkeWebView, void* param, const wkeString title) { NoteText(param, "title", &ViewHarness::titles, title); },
        this);
    api_->onUrlChanged(
        view_,
        [](wkeWebView, void* param, wkeWebFrameHandle, const wkeString url) {
            NoteText(param, "url", &ViewHarness::urlChanges, url);
        },
        this);
    api_->onDocumentReady(
        view_,
        [](wkeWebView, void* param, wkeWebFrameHandle) { static_cast<ViewHarness*>(param)->OnCallback("ready"); },
        this);
    api_->onNavigation(
        view_,
        [](wkeWebView, void* param, wkeNavigationType, wkeString) {
            auto* self = static_cast<ViewHarness*>(param);
            self->OnCallback("navigation");
            return self->navigationAnswer;
        },
        this);
    api_->onDownload(
        view_,
        [](wkeWebView, void* param, const char* url) {
            auto* self = static_cast<ViewHarness*>(param);
            self->OnCallback("download");
            self->downloads.push_back(url ? url : "");
            return self->downloadAnswer;
        },
        this);
    api_->onLoadUrlBegin(
        view_,
        [](wkeWebView, void* param, const char*, void*) {
            static_cast<ViewHarness*>(param)->OnCallback("begin");
            return false;
        },
        this);
    api_->onLoadUrlEnd(
        view_,
        [](wkeWebView, void* param, const char*, void*, void*, int) {
            static_cast<ViewHarness*>(param)->OnCallback("end");
        },
        this);
    api_->onPaintUpdated(
        view_,
        [](wkeWebView, void* param, const HDC hdc, int x, int y, int cx, int cy) {
            auto* self = static_cast<ViewHarness*>(param);
            self->OnCallback("paint");
            ++self->paints;
            self->lastPaintCx = cx;
            self->lastPaintCy = cy;
            // Look for ink: any pixel that is not the white paper.
            for (int py = y; py < y + cy && py < y + 80; py += 1) {
                for (int px = x; px < x + cx; px += 1) {
                    const COLORREF c = GetPixel(hdc, px, py);
                    if (c != RGB(255, 255, 255) && c != CLR_INVALID) {
                        self->sawInk = true;
                        if (GetBValue(c) > 150 && GetRValue(c) < 100 && GetGValue(c) < 100)
                            self->paintedLinkPixelSeen = c;
                    }
                }
            }
        },
        this);
}

ViewHarness::~ViewHarness()
{
    DestroyParent();
    // Results of loads still running arrive for a dead view and are dropped.
    PumpFor(50);
}

void ViewHarness::DestroyParent()
{
    if (parent_)
        DestroyWindow(parent_);
    parent_ = nullptr;
}

std::string ViewHarness::Source() const
{
    const char* source = api_->getSource(view_);
    return source ? std::string(source) : std::string("<null>");
}

std::string ViewHarness::Utf8(const EngineApi& api, wkeString s)
{
    const wchar_t* wide = api.getStringW(s);
    if (!wide)
        return "<null>";
    const int cb = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(cb > 0 ? cb - 1 : 0), '\0');
    if (cb > 1)
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), cb, nullptr, nullptr);
    return text;
}

void ViewHarness::OnCallback(const char* name)
{
    events.emplace_back(name);
    if (GetCurrentThreadId() != threadId_)
        wrongThread = true;
}

bool ViewHarness::PumpUntil(const std::function<bool()>& done, DWORD timeoutMs)
{
    return PumpMessagesUntil(done, timeoutMs);
}

void ViewHarness::PumpFor(DWORD ms)
{
    PumpUntil([] { return false; }, ms);
}

bool ViewHarness::WaitForFinishes(size_t count, DWORD timeoutMs)
{
    return PumpUntil([&] { return finishes.size() >= count; }, timeoutMs);
}
