/* node.dll: Kelvora's web engine, a flat C interface.
 *
 * Calling convention: every export and every callback is WKE_CALL (__cdecl).
 * node.def exports the plain names, so GetProcAddress(module, "wkeLoadURL")
 * finds them without decoration.
 *
 * Threads: a view belongs to the thread that created it. Call a view's
 * functions on that thread only. Every callback arrives on that thread, from
 * the view window's message processing while its message loop runs; never on
 * one of the engine's worker threads. A callback may call back into the
 * engine for the same view (e.g. wkeGetSource inside the loading-finished
 * callback).
 *
 * Strings: text going in is zero-terminated UTF-8 (const char*) unless the
 * name ends in W (UTF-16). A wkeString is owned by the engine; it is valid only
 * during the callback that receives it. wkeGetStringW never returns null; a
 * null string gives "". Results of wkeGetSource and wkeGetTitle stay valid
 * until the view's next call of the same function or its next load.
 *
 * Booleans are C++ bool (both sides are built with the same compiler).
 */
#ifndef KELVORA_ENGINE_WKE_H
#define KELVORA_ENGINE_WKE_H

#include <windows.h>

#ifndef __cplusplus
#include <stdbool.h>
#endif

#define WKE_CALL __cdecl

#ifdef __cplusplus
extern "C" {
#endif

typedef struct wkeWebViewImpl* wkeWebView;
typedef struct wkeStringImpl* wkeString;
typedef void* wkeWebFrameHandle;

/* How a load ended. The failure reason is "" for a success and a short
 * English text otherwise. */
typedef enum {
    WKE_LOADING_SUCCEEDED = 0, /* any HTTP response, a 404 page too */
    WKE_LOADING_FAILED = 1,    /* no whole response: bad address, name, connection, TLS, time-out,
                                  redirect loop, reply cut short; the source becomes "" */
    WKE_LOADING_CANCELED = 2   /* replaced by a newer load, refused by the navigation callback, taken
                                  by the load-URL-begin callback, or a download; the page stays */
} wkeLoadingResult;

typedef enum {
    WKE_WINDOW_TYPE_POPUP = 0,       /* a top-level window */
    WKE_WINDOW_TYPE_TRANSPARENT = 1, /* treated as a popup */
    WKE_WINDOW_TYPE_CONTROL = 2      /* a WS_CHILD | WS_VISIBLE window inside the parent */
} wkeWindowType;

typedef enum {
    WKE_NAVIGATION_TYPE_LINKCLICK = 0,
    WKE_NAVIGATION_TYPE_FORMSUBMITTE = 1,
    WKE_NAVIGATION_TYPE_BACKFORWARD = 2,
    WKE_NAVIGATION_TYPE_RELOAD = 3,
    WKE_NAVIGATION_TYPE_FORMRESUBMITT = 4,
    WKE_NAVIGATION_TYPE_OTHER = 5 /* wkeLoadURL, wkeLoadHTML, a meta refresh, a redirect */
} wkeNavigationType;

/* Console levels: ordered by how much the message matters, log lowest. */
typedef enum {
    wkeLevelDebug = 4,
    wkeLevelLog = 1,
    wkeLevelInfo = 5,
    wkeLevelWarning = 2,
    wkeLevelError = 3
} wkeConsoleLevel;

typedef struct {
    int x, y, width, height;
    bool menuBarVisible, statusBarVisible, toolBarVisible, locationBarVisible, scrollbarsVisible, resizable, fullscreen;
} wkeWindowFeatures;

/* Settings for wkeInitializeEx. Only the mask is read; no bit changes
 * behaviour today (hosts pass 4). */
typedef struct {
    unsigned char reserved[208];
    unsigned int mask;
} wkeSettings;

#ifdef __cplusplus
static_assert(sizeof(wkeSettings) == 212, "the settings record is 212 bytes");
#else
_Static_assert(sizeof(wkeSettings) == 212, "the settings record is 212 bytes");
#endif

/* Callbacks. The first two parameters are always the view and the user
 * parameter given at registration. A frame id is that of the main frame (the
 * engine has no others); a job is an opaque token naming one load.
 * A document's callbacks come in this order: navigation, load-URL-begin,
 * (fetch), load-URL-end, URL changed, title changed (when it did), paint
 * updated, document ready, loading finished. */
typedef void(WKE_CALL* wkePaintUpdatedCallback)(wkeWebView webView, void* param, const HDC hdc, int x, int y, int cx,
                                                int cy);
typedef void(WKE_CALL* wkeLoadingFinishCallback)(wkeWebView webView, void* param, const wkeString url,
                                                 wkeLoadingResult result, const wkeString failedReason);
typedef void(WKE_CALL* wkeTitleChangedCallback)(wkeWebView webView, void* param, const wkeString title);
typedef void(WKE_CALL* wkeMouseOverUrlChangedCallback)(wkeWebView webView, void* param, const wkeString url);
typedef void(WKE_CALL* wkeURLChangedCallback2)(wkeWebView webView, void* param, wkeWebFrameHandle frameId,
                                               const wkeString url);
typedef void(WKE_CALL* wkeAlertBoxCallback)(wkeWebView webView, void* param, const wkeString msg);
typedef bool(WKE_CALL* wkeConfirmBoxCallback)(wkeWebView webView, void* param, const wkeString msg);
/* result holds the default on entry; true = OK (the page gets result's text), false = cancel (null). */
typedef bool(WKE_CALL* wkePromptBoxCallback)(wkeWebView webView, void* param, const wkeString msg,
                                             const wkeString defaultResult, wkeString result);
/* false cancels the navigation: nothing is fetched. */
typedef bool(WKE_CALL* wkeNavigationCallback)(wkeWebView webView, void* param, wkeNavigationType navigationType,
                                              wkeString url);
/* null = no new window. */
typedef wkeWebView(WKE_CALL* wkeCreateViewCallback)(wkeWebView webView, void* param, wkeNavigationType navigationType,
                                                    const wkeString url, const wkeWindowFeatures* windowFeatures);
typedef void(WKE_CALL* wkeDocumentReady2Callback)(wkeWebView webView, void* param, wkeWebFrameHandle frameId);
/* true = the host takes the download; false = refused. */
typedef bool(WKE_CALL* wkeDownloadCallback)(wkeWebView webView, void* param, const char* url);
typedef void(WKE_CALL* wkeConsoleCallback)(wkeWebView webView, void* param, wkeConsoleLevel level,
                                           const wkeString message, const wkeString sourceName, unsigned sourceLine,
                                           const wkeString stackTrace);
/* true = the host handled the URL (the engine does not load it); false = load normally. */
typedef bool(WKE_CALL* wkeLoadUrlBeginCallback)(wkeWebView webView, void* param, const char* url, void* job);
typedef void(WKE_CALL* wkeLoadUrlEndCallback)(wkeWebView webView, void* param, const char* url, void* job, void* buf,
                                              int len);
/* false keeps the window. */
typedef bool(WKE_CALL* wkeWindowClosingCallback)(wkeWebView webView, void* param);
typedef void(WKE_CALL* wkeWindowDestroyCallback)(wkeWebView webView, void* param);

/* Start-up. Call wkeInitializeEx once, on the thread that will own the views. */
void WKE_CALL wkeInitializeEx(const wkeSettings* settings);
bool WKE_CALL wkeIsInitialize(void);

/* Views. WKE_WINDOW_TYPE_CONTROL makes a visible child window of parent at
 * (x, y, width, height); the other types a hidden top-level window owned by
 * parent (may be null). The window's GWLP_USERDATA slot is left to the host.
 * A view lives as long as its window; destroying the window (or its parent)
 * ends the view, also while a load runs: no callback comes after that, and
 * calls with its handle are ignored. Returns null on failure. */
wkeWebView WKE_CALL wkeCreateWebWindow(wkeWindowType type, HWND parent, int x, int y, int width, int height);
HWND WKE_CALL wkeGetWindowHandle(wkeWebView webView);
void WKE_CALL wkeShowWindow(wkeWebView webView, bool show);
void WKE_CALL wkeResize(wkeWebView webView, int width, int height);
void WKE_CALL wkeSetWindowTitleW(wkeWebView webView, const wchar_t* title);

/* Loading. Each returns at once; the load runs while the view's thread pumps
 * messages, and its loading-finished callback follows exactly once. A new
 * load cancels the one still running (whose callback comes first). HTTP and
 * HTTPS only (a bare "host/path" is taken as http); redirects are followed;
 * a page's charset is converted to UTF-8; a <meta http-equiv="refresh"> loads
 * again after its delay. wkeReload repeats the last load. */
void WKE_CALL wkeLoadURL(wkeWebView webView, const char* utf8Url);
void WKE_CALL wkeLoadHTML(wkeWebView webView, const char* utf8Html);
void WKE_CALL wkeReload(wkeWebView webView);

/* UTF-8 HTML of the current page, byte for byte as served when the page is
 * UTF-8 (declared, or declaring nothing and UTF-8 in fact); null for a view
 * that has loaded nothing; "" after a failed load. A page that declares no
 * charset and is not UTF-8 is read as a browser on a Chinese system reads it:
 * as GB18030 (GBK's superset) when its bytes fit that, else as windows-1252.
 * GB18030 is decoded whole, four-byte characters too, also where the platform
 * lacks its tables. */
const char* WKE_CALL wkeGetSource(wkeWebView webView);
/* UTF-8 title of the current page, valid UTF-8 even when the page's bytes are
 * not (what fits no character becomes U+FFFD); "" when it has none. */
const char* WKE_CALL wkeGetTitle(wkeWebView webView);
const wchar_t* WKE_CALL wkeGetStringW(wkeString string);

/* Settings per view. */
void WKE_CALL wkeSetTransparent(wkeWebView webView, bool transparent);
void WKE_CALL wkeSetCspCheckEnable(wkeWebView webView, bool enable);
void WKE_CALL wkeSetNpapiPluginsEnabled(wkeWebView webView, bool enable);
void WKE_CALL wkeSetNavigationToNewWindowEnable(wkeWebView webView, bool enable);
/* null or "" restores the engine's own browser-like user agent. */
void WKE_CALL wkeSetUserAgent(wkeWebView webView, const char* utf8UserAgent);
/* The directory is created when missing. */
void WKE_CALL wkeSetLocalStorageFullPath(wkeWebView webView, const wchar_t* path);
/* A directory: the cookie jar is a file inside it and survives a restart. */
void WKE_CALL wkeSetCookieJarPath(wkeWebView webView, const wchar_t* path);

/* Registrations: one callback per kind and view; a later one replaces it, null
 * removes it. Paint updated passes the engine's memory DC holding the whole
 * view and the updated rectangle (today always the whole view). Window
 * closing is asked on WM_CLOSE; window destroy comes with WM_DESTROY.
 *
 * Scripts: a page's inline <script> blocks run in document order while it
 * loads, before document ready, in the platform's JScript in its safe mode (no
 * ActiveX objects, no files); a block may hide its code in an HTML comment
 * ("<!--" ... "-->"). window stands for the global object: a global variable
 * or function is a property of window and a property set on window (or on the
 * global this) is a global; this itself is not === window. After the blocks,
 * DOMContentLoaded listeners, then window.onload (or else <body onload>) and
 * load listeners run, still before document ready. Pages can read their
 * document: document.getElementById gives the element's innerHTML, innerText,
 * textContent, value, id, tagName, className and getAttribute as the served
 * source has them (the whole source: an element after the script is found
 * too), null when there is none; document.body the same for the body;
 * navigator.userAgent the agent the page was fetched with. Writes to an
 * element stay with that element object and do not change the page shown.
 * alert, confirm and prompt come to the dialog
 * callbacks and their answers go back to the script; unregistered, alert does
 * nothing, confirm is true and prompt gives the default. console.* and script
 * errors come to the console callback with the page URL as source and the line
 * of the error, or for console.* the first line of the calling block (JScript
 * does not tell its host the calling line). document.write output is shown
 * where its script stands while the page loads (wkeGetSource stays the served
 * source); a write after the load is dropped. location changes and
 * window.open's view load through the normal path, after the script. Scripts
 * that run 5 seconds of their own time (a page's blocks and load handlers
 * together, or one timer or javascript: link; time in the host's callbacks not
 * counted) are stopped, a console error says so, the load goes on and nothing
 * more of that page runs. A hovered link comes to the mouse-over callback (""
 * when left); a click on it navigates with the link
 * click type. */
void WKE_CALL wkeOnPaintUpdated(wkeWebView webView, wkePaintUpdatedCallback callback, void* param);
void WKE_CALL wkeOnLoadingFinish(wkeWebView webView, wkeLoadingFinishCallback callback, void* param);
void WKE_CALL wkeOnTitleChanged(wkeWebView webView, wkeTitleChangedCallback callback, void* param);
void WKE_CALL wkeOnMouseOverUrlChanged(wkeWebView webView, wkeMouseOverUrlChangedCallback callback, void* param);
void WKE_CALL wkeOnURLChanged2(wkeWebView webView, wkeURLChangedCallback2 callback, void* param);
void WKE_CALL wkeOnAlertBox(wkeWebView webView, wkeAlertBoxCallback callback, void* param);
void WKE_CALL wkeOnConfirmBox(wkeWebView webView, wkeConfirmBoxCallback callback, void* param);
void WKE_CALL wkeOnPromptBox(wkeWebView webView, wkePromptBoxCallback callback, void* param);
void WKE_CALL wkeOnNavigation(wkeWebView webView, wkeNavigationCallback callback, void* param);
void WKE_CALL wkeOnCreateView(wkeWebView webView, wkeCreateViewCallback callback, void* param);
void WKE_CALL wkeOnDocumentReady2(wkeWebView webView, wkeDocumentReady2Callback callback, void* param);
void WKE_CALL wkeOnDownload(wkeWebView webView, wkeDownloadCallback callback, void* param);
void WKE_CALL wkeOnConsole(wkeWebView webView, wkeConsoleCallback callback, void* param);
void WKE_CALL wkeOnLoadUrlBegin(wkeWebView webView, wkeLoadUrlBeginCallback callback, void* param);
void WKE_CALL wkeOnLoadUrlEnd(wkeWebView webView, wkeLoadUrlEndCallback callback, void* param);
void WKE_CALL wkeOnWindowClosing(wkeWebView webView, wkeWindowClosingCallback callback, void* param);
void WKE_CALL wkeOnWindowDestroy(wkeWebView webView, wkeWindowDestroyCallback callback, void* param);

#ifdef __cplusplus
}
#endif

#endif
