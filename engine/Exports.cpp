// The flat C interface of node.dll. Placeholder bodies until the engine lands.
#include "wke.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

extern "C" {

void WKE_CALL wkeInitializeEx(const wkeSettings*) {}
bool WKE_CALL wkeIsInitialize() { return false; }
wkeWebView WKE_CALL wkeCreateWebWindow(wkeWindowType, HWND, int, int, int, int) { return nullptr; }
HWND WKE_CALL wkeGetWindowHandle(wkeWebView) { return nullptr; }
void WKE_CALL wkeShowWindow(wkeWebView, bool) {}
void WKE_CALL wkeResize(wkeWebView, int, int) {}
void WKE_CALL wkeSetWindowTitleW(wkeWebView, const wchar_t*) {}
void WKE_CALL wkeLoadURL(wkeWebView, const char*) {}
void WKE_CALL wkeLoadHTML(wkeWebView, const char*) {}
void WKE_CALL wkeReload(wkeWebView) {}
const char* WKE_CALL wkeGetSource(wkeWebView) { return nullptr; }
const char* WKE_CALL wkeGetTitle(wkeWebView) { return ""; }
const wchar_t* WKE_CALL wkeGetStringW(wkeString) { return L""; }
void WKE_CALL wkeSetTransparent(wkeWebView, bool) {}
void WKE_CALL wkeSetCspCheckEnable(wkeWebView, bool) {}
void WKE_CALL wkeSetNpapiPluginsEnabled(wkeWebView, bool) {}
void WKE_CALL wkeSetNavigationToNewWindowEnable(wkeWebView, bool) {}
void WKE_CALL wkeSetUserAgent(wkeWebView, const char*) {}
void WKE_CALL wkeSetLocalStorageFullPath(wkeWebView, const wchar_t*) {}
void WKE_CALL wkeSetCookieJarPath(wkeWebView, const wchar_t*) {}
void WKE_CALL wkeOnPaintUpdated(wkeWebView, wkePaintUpdatedCallback, void*) {}
void WKE_CALL wkeOnLoadingFinish(wkeWebView, wkeLoadingFinishCallback, void*) {}
void WKE_CALL wkeOnTitleChanged(wkeWebView, wkeTitleChangedCallback, void*) {}
void WKE_CALL wkeOnMouseOverUrlChanged(wkeWebView, wkeMouseOverUrlChangedCallback, void*) {}
void WKE_CALL wkeOnURLChanged2(wkeWebView, wkeURLChangedCallback2, void*) {}
void WKE_CALL wkeOnAlertBox(wkeWebView, wkeAlertBoxCallback, void*) {}
void WKE_CALL wkeOnConfirmBox(wkeWebView, wkeConfirmBoxCallback, void*) {}
void WKE_CALL wkeOnPromptBox(wkeWebView, wkePromptBoxCallback, void*) {}
void WKE_CALL wkeOnNavigation(wkeWebView, wkeNavigationCallback, void*) {}
void WKE_CALL wkeOnCreateView(wkeWebView, wkeCreateViewCallback, void*) {}
void WKE_CALL wkeOnDocumentReady2(wkeWebView, wkeDocumentReady2Callback, void*) {}
void WKE_CALL wkeOnDownload(wkeWebView, wkeDownloadCallback, void*) {}
void WKE_CALL wkeOnConsole(wkeWebView, wkeConsoleCallback, void*) {}
void WKE_CALL wkeOnLoadUrlBegin(wkeWebView, wkeLoadUrlBeginCallback, void*) {}
void WKE_CALL wkeOnLoadUrlEnd(wkeWebView, wkeLoadUrlEndCallback, void*) {}
void WKE_CALL wkeOnWindowClosing(wkeWebView, wkeWindowClosingCallback, void*) {}
void WKE_CALL wkeOnWindowDestroy(wkeWebView, wkeWindowDestroyCallback, void*) {}

}
