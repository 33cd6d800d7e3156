#include <initializer_list>

#include "app/EventTable.h"
#include "webview/EngineApi.h"
#include "webview/EngineText.h"
#include "webview/WebViewInstance.h"

// Every engine callback follows one pattern: give up when the control is gone
// or in design mode, convert the texts, raise the event, and turn what the
// handler reported into the engine's answer. Text arguments live until the
// callback returns; the control itself is not touched after the dispatch, as
// a handler may have destroyed it.

namespace {

enum WebViewEvent : int32_t {
    DocumentReadyEvent = 0,
    TitleChangedEvent = 1,
    UrlChangedEvent = 2,
    NavigationEvent = 3,
    NewWindowEvent = 4,
    LoadingFinishedEvent = 5,
    ConsoleEvent = 6,
    AlertEvent = 7,
    ConfirmEvent = 8,
    PromptEvent = 9,
    DownloadEvent = 10,
    LoadUrlBeginEvent = 11,
    LoadUrlEndEvent = 12,
    HoveredUrlEvent = 13,
};

// The control an event may be raised for, or nullptr.
WebViewControl* EventSource(void* param)
{
    WebViewControl* control = LiveWebView(param);
    return control && !control->design ? control : nullptr;
}

DispatchResult Raise(const WebViewControl& control, int32_t eventNumber, std::initializer_list<EventArg> args)
{
    EventRecord record;
    record.formId = control.formId;
    record.unitId = control.unitId;
    record.eventNumber = eventNumber;
    for (const EventArg& arg : args) {
        if (record.argCount == MaxEventArgs)
            break;
        record.args[record.argCount++] = arg;
    }
    return DispatchEvent(record);
}

// What the engine gets: the handler's value when it gave one, else the default.
bool Answer(const DispatchResult& result, bool unboundAnswer)
{
    return result.handlerRan && result.hasValue ? result.value != 0 : unboundAnswer;
}

int32_t AsInt(const void* pointer)
{
    return static_cast<int32_t>(reinterpret_cast<uintptr_t>(pointer));
}

// A converted text together with the pointer that a by-reference argument
// points at.
struct EventText {
    explicit EventText(AnsiText value) : text(std::move(value)), pointer(text.c_str()) {}
    EventText(const EventText&) = delete;
    EventText& operator=(const EventText&) = delete;
    EventArg Ref() { return MakeTextRefArg(&pointer); }

    AnsiText text;
    const char* pointer;
};

// Raises an event whose one argument is an engine text, by reference. With
// no control to raise it for, nothing runs.
DispatchResult RaiseWithText(void* param, int32_t eventNumber, wkeString text)
{
    WebViewControl* control = EventSource(param);
    if (!control)
        return {};
    EventText argument(EngineStringToCp936(text));
    return Raise(*control, eventNumber, {argument.Ref()});
}

void WKE_CALL OnLoadingFinish(wkeWebView, void* param, const wkeString url, wkeLoadingResult result,
                              const wkeString failedReason)
{
    WebViewControl* control = EventSource(param);
    if (!control)
        return;
    EventText urlText(EngineStringToCp936(url));
    EventText reasonText(EngineStringToCp936(failedReason));
    Raise(*control, LoadingFinishedEvent, {urlText.Ref(), MakeIntArg(result), reasonText.Ref()});
}

void WKE_CALL OnDocumentReady(wkeWebView, void* param, wkeWebFrameHandle frameId)
{
    if (WebViewControl* control = EventSource(param))
        Raise(*control, DocumentReadyEvent, {MakeIntArg(AsInt(frameId))});
}

void WKE_CALL OnTitleChanged(wkeWebView, void* param, const wkeString title)
{
    RaiseWithText(param, TitleChangedEvent, title);
}

void WKE_CALL OnUrlChanged(wkeWebView, void* param, wkeWebFrameHandle frameId, const wkeString url)
{
    WebViewControl* control = EventSource(param);
    if (!control)
        return;
    EventText urlText(EngineStringToCp936(url));
    Raise(*control, UrlChangedEvent, {urlText.Ref(), MakeIntArg(AsInt(frameId))});
}

bool WKE_CALL OnNavigation(wkeWebView, void* param, wkeNavigationType navigationType, wkeString url)
{
    WebViewControl* control = EventSource(param);
    if (!control)
        return true;
    EventText urlText(EngineStringToCp936(url));
    return Answer(Raise(*control, NavigationEvent, {MakeIntArg(navigationType), urlText.Ref()}), true);
}

// No popup views yet: the engine is told that no new window was made.
wkeWebView WKE_CALL OnCreateView(wkeWebView, void* param, wkeNavigationType navigationType, const wkeString url,
                                 const wkeWindowFeatures*)
{
    WebViewControl* control = EventSource(param);
    if (!control)
        return nullptr;
    EventText urlText(EngineStringToCp936(url));
    Raise(*control, NewWindowEvent, {MakeIntArg(navigationType), urlText.Ref()});
    return nullptr;
}

void WKE_CALL OnConsole(wkeWebView, void* param, wkeConsoleLevel level, const wkeString message,
                        const wkeString sourceName, unsigned sourceLine, const wkeString stackTrace)
{
    WebViewControl* control = EventSource(param);
    if (!control)
        return;
    EventText messageText(EngineStringToCp936(message));
    EventText sourceText(EngineStringToCp936(sourceName));
    EventText stackText(EngineStringToCp936(stackTrace));
    Raise(*control, ConsoleEvent,
          {MakeIntArg(level), messageText.Ref(), sourceText.Ref(), MakeIntArg(static_cast<int32_t>(sourceLine)),
           stackText.Ref()});
}

void WKE_CALL OnAlertBox(wkeWebView, void* param, const wkeString message)
{
    RaiseWithText(param, AlertEvent, message);
}

bool WKE_CALL OnConfirmBox(wkeWebView, void* param, const wkeString message)
{
    return Answer(RaiseWithText(param, ConfirmEvent, message), true);
}

bool WKE_CALL OnPromptBox(wkeWebView, void* param, const wkeString message, const wkeString defaultResult,
                          wkeString)
{
    WebViewControl* control = EventSource(param);
    if (!control)
        return true;
    EventText messageText(EngineStringToCp936(message));
    EventText defaultText(EngineStringToCp936(defaultResult));
    return Answer(Raise(*control, PromptEvent, {messageText.Ref(), defaultText.Ref()}), true);
}

bool WKE_CALL OnDownload(wkeWebView, void* param, const char* url)
{
    WebViewControl* control = EventSource(param);
    if (!control)
        return false;
    // The engine's bytes as they are, without conversion.
    EventText urlText(url ? AnsiText(url) : AnsiText());
    return Answer(Raise(*control, DownloadEvent, {urlText.Ref()}), false);
}

bool WKE_CALL OnLoadUrlBegin(wkeWebView, void* param, const char* url, void* job)
{
    WebViewControl* control = EventSource(param);
    if (!control)
        return false;
    EventText urlText(EngineUtf8ToCp936(url));
    return Answer(Raise(*control, LoadUrlBeginEvent, {urlText.Ref(), MakeIntArg(AsInt(job))}), false);
}

void WKE_CALL OnLoadUrlEnd(wkeWebView, void* param, const char* url, void* job, void* buf, int len)
{
    WebViewControl* control = EventSource(param);
    if (!control)
        return;
    EventText urlText(EngineUtf8ToCp936(url));
    Raise(*control, LoadUrlEndEvent, {urlText.Ref(), MakeIntArg(AsInt(job)), MakeIntArg(AsInt(buf)), MakeIntArg(len)});
}

void WKE_CALL OnMouseOverUrlChanged(wkeWebView, void* param, const wkeString url)
{
    RaiseWithText(param, HoveredUrlEvent, url);
}

template <typename Registration, typename Callback>
void Register(Registration registration, wkeWebView view, Callback callback, void* param)
{
    if (registration)
        registration(view, callback, param);
}

} // namespace

void RegisterEngineCallbacks(WebViewControl& control)
{
    const EngineApi& api = Engine();
    wkeWebView view = control.view;
    void* param = &control;
    Register(api.wkeOnTitleChanged, view, OnTitleChanged, param);
    Register(api.wkeOnMouseOverUrlChanged, view, OnMouseOverUrlChanged, param);
    Register(api.wkeOnURLChanged2, view, OnUrlChanged, param);
    Register(api.wkeOnAlertBox, view, OnAlertBox, param);
    Register(api.wkeOnConfirmBox, view, OnConfirmBox, param);
    Register(api.wkeOnPromptBox, view, OnPromptBox, param);
    Register(api.wkeOnNavigation, view, OnNavigation, param);
    Register(api.wkeOnCreateView, view, OnCreateView, param);
    Register(api.wkeOnDocumentReady2, view, OnDocumentReady, param);
    Register(api.wkeOnLoadingFinish, view, OnLoadingFinish, param);
    Register(api.wkeOnDownload, view, OnDownload, param);
    Register(api.wkeOnConsole, view, OnConsole, param);
    Register(api.wkeOnLoadUrlBegin, view, OnLoadUrlBegin, param);
    Register(api.wkeOnLoadUrlEnd, view, OnLoadUrlEnd, param);
}

void WKE_CALL OnEnginePaintUpdated(wkeWebView, void* param, const HDC hdc, int x, int y, int cx, int cy)
{
    // Paints go on in design mode too; only a destroyed control is skipped.
    if (WebViewControl* control = LiveWebView(param))
        control->paint.Paint(control->host, hdc, x, y, cx, cy);
}
