#pragma once
#include <windows.h>

#include <cstdint>

#include "engine/include/wke.h"
#include "text/AnsiText.h"
#include "webview/PaintBuffer.h"

// One web view control: its identity, its view of the engine and its stored
// properties. Owned by its host window and destroyed with it.
struct WebViewControl {
    uint32_t formId = 0;
    uint32_t unitId = 0;
    uint32_t controlId = 0;
    wkeWebView view = nullptr;
    bool design = false;
    int32_t designPreview = 0;
    HWND host = nullptr;
    HWND engineWindow = nullptr;

    AnsiText url;
    int32_t refreshKeyDisabled = 0;
    int32_t cookiesEnabled = 0;
    int32_t newWindowEnabled = 0;
    AnsiText localStorageDir;
    AnsiText cookieDir;
    AnsiText userAgent;
    AnsiText programDirectory;

    PaintBuffer paint;
};

// Live controls, so that operations can address them by (form id, unit id)
// and engine callbacks can tell a live control from one already destroyed.
void RegisterWebView(WebViewControl* control);
void UnregisterWebView(WebViewControl* control);
WebViewControl* FindWebView(uint32_t formId, uint32_t unitId);
// The control behind an engine callback's user parameter, or nullptr when it
// is gone.
WebViewControl* LiveWebView(void* param);
// The live control whose engine window this is, or nullptr.
WebViewControl* WebViewOfEngineWindow(HWND engineWindow);

// Property indices, as the property interface numbers them.
enum WebViewProperty : int {
    UrlProperty = 0,
    TitleProperty = 1,
    RefreshKeyDisabledProperty = 2,
    CookiesEnabledProperty = 3,
    LocalStorageDirProperty = 4,
    CookieDirProperty = 5,
    UserAgentProperty = 6,
    DesignPreviewProperty = 7,
    NewWindowEnabledProperty = 8,
};

// Hands a stored property to the view, as creation and a run-time write do:
// texts only when not empty, the start page only outside design mode.
void ApplyProperty(WebViewControl& control, int index);

// Reads a stored property block into the control's properties; false when
// the block cannot be read.
bool ReadPropertyBlock(WebViewControl& control, const void* block, size_t cbBlock);

// Focus, key, character, scroll and mouse messages: what the host hands to
// the engine's window and what that window offers to the program first.
bool IsViewInputMessage(UINT message);

// Engine callbacks (WebViewEvents.cpp) and the engine window's procedure.
void RegisterEngineCallbacks(WebViewControl& control);
wkeWebView WKE_CALL OnEngineCreateView(wkeWebView view, void* param, wkeNavigationType navigationType,
                                       const wkeString url, const wkeWindowFeatures* features);
void WKE_CALL OnEnginePaintUpdated(wkeWebView view, void* param, const HDC hdc, int x, int y, int cx, int cy);
LRESULT CALLBACK EngineWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
