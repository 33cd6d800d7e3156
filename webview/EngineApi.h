#pragma once
#include "engine/include/wke.h"

// The engine's entry points that the web view calls, bound by name from
// node.dll. A name the library lacks leaves its slot null; every caller checks.
struct EngineApi {
    decltype(&::wkeInitializeEx) wkeInitializeEx = nullptr;
    decltype(&::wkeIsInitialize) wkeIsInitialize = nullptr;
    decltype(&::wkeCreateWebWindow) wkeCreateWebWindow = nullptr;
    decltype(&::wkeGetWindowHandle) wkeGetWindowHandle = nullptr;
    decltype(&::wkeShowWindow) wkeShowWindow = nullptr;
    decltype(&::wkeResize) wkeResize = nullptr;
    decltype(&::wkeLoadURL) wkeLoadURL = nullptr;
    decltype(&::wkeGetSource) wkeGetSource = nullptr;
    decltype(&::wkeGetStringW) wkeGetStringW = nullptr;
    decltype(&::wkeOnLoadingFinish) wkeOnLoadingFinish = nullptr;
    decltype(&::wkeOnPaintUpdated) wkeOnPaintUpdated = nullptr;
    decltype(&::wkeSetTransparent) wkeSetTransparent = nullptr;
    decltype(&::wkeSetCspCheckEnable) wkeSetCspCheckEnable = nullptr;
    decltype(&::wkeSetNpapiPluginsEnabled) wkeSetNpapiPluginsEnabled = nullptr;
    decltype(&::wkeSetNavigationToNewWindowEnable) wkeSetNavigationToNewWindowEnable = nullptr;
    decltype(&::wkeSetUserAgent) wkeSetUserAgent = nullptr;
    decltype(&::wkeSetLocalStorageFullPath) wkeSetLocalStorageFullPath = nullptr;
    decltype(&::wkeSetCookieJarPath) wkeSetCookieJarPath = nullptr;
    decltype(&::wkeReload) wkeReload = nullptr;
    decltype(&::wkeLoadHTML) wkeLoadHTML = nullptr;
    decltype(&::wkeGetTitle) wkeGetTitle = nullptr;
    decltype(&::wkeSetWindowTitleW) wkeSetWindowTitleW = nullptr;
    decltype(&::wkeOnTitleChanged) wkeOnTitleChanged = nullptr;
    decltype(&::wkeOnMouseOverUrlChanged) wkeOnMouseOverUrlChanged = nullptr;
    decltype(&::wkeOnURLChanged2) wkeOnURLChanged2 = nullptr;
    decltype(&::wkeOnAlertBox) wkeOnAlertBox = nullptr;
    decltype(&::wkeOnConfirmBox) wkeOnConfirmBox = nullptr;
    decltype(&::wkeOnPromptBox) wkeOnPromptBox = nullptr;
    decltype(&::wkeOnNavigation) wkeOnNavigation = nullptr;
    decltype(&::wkeOnCreateView) wkeOnCreateView = nullptr;
    decltype(&::wkeOnDocumentReady2) wkeOnDocumentReady2 = nullptr;
    decltype(&::wkeOnDownload) wkeOnDownload = nullptr;
    decltype(&::wkeOnConsole) wkeOnConsole = nullptr;
    decltype(&::wkeOnLoadUrlBegin) wkeOnLoadUrlBegin = nullptr;
    decltype(&::wkeOnLoadUrlEnd) wkeOnLoadUrlEnd = nullptr;
    decltype(&::wkeOnWindowClosing) wkeOnWindowClosing = nullptr;
    decltype(&::wkeOnWindowDestroy) wkeOnWindowDestroy = nullptr;
};

// Registers an engine callback when the engine has the registration.
template <typename Registration, typename Callback>
void RegisterCallback(Registration registration, wkeWebView view, Callback callback, void* param)
{
    if (registration)
        registration(view, callback, param);
}

// The process's bound entry points; all null until EngineStartup has loaded
// the engine.
const EngineApi& Engine();

// Finds, loads, initialises and binds node.dll the first time it is called;
// later calls return at once. True when the engine is loaded.
bool EngineStartup();
