#include <initializer_list>

#include "form/EventTable.h"
#include "webview/EngineApi.h"
#include "webview/EngineText.h"
#include "webview/WebViewInstance.h"
#include "webview/WebViewRaise.h"

// Every engine callback follows one pattern: give up when the control is gone
// or in design mode, convert the texts, raise the event, and turn what the
// handler reported into the engine's answer. Text arguments live until the
// callback returns; the control itself is not touched after the dispatch, as
// a handler may have destroyed it.

WebViewControl* EventSource(void* param)
{
    WebViewControl* control = LiveWebView(param);
    return control && !control->design ? control : nullptr;
}

DispatchResult RaiseWebViewEvent(const WebViewControl& control, int32_t eventNumber,
                                 std::initializer_list<EventArg> args)
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

namespace {

// Raises an event whose one argument is an engine text, by reference. With
// no control to raise it for, nothing runs.
DispatchResult RaiseWithText(void* param, int32_t eventNumber, wkeString text)
{
    WebViewControl* control = EventSource(param);
    if (!control)
        return {};
    EventText argument(EngineStringToCp936(text));
    return RaiseWebViewEvent(*control, eventNumber, {argument.Ref()});
}

void WKE_CALL OnLoadingFinish(wkeWebView, void* param, const wkeString url, wkeLoadingResult result,
                              const wkeString failedReason)
{
    WebViewControl* control = EventSource(param);
    if (!control)
        return;
    EventText urlText(EngineStringToCp936(url));
    EventText reasonText(EngineStringToCp936(failedReason));
    RaiseWebViewEvent(*control, LoadingFinishedEvent, {urlText.Ref(), MakeIntArg(result), reasonText.Ref()});
}

void WKE_CALL OnDocumentReady(wkeWebView, void* param, wkeWebFrameHandle frameId)
{
    if (WebViewControl* control = EventSource(param))
        RaiseWebViewEvent(*control, DocumentReadyEvent, {MakeIntArg(PointerArg(frameId))});
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
    RaiseWebViewEvent(*control, UrlChangedEvent, {urlText.Ref(), MakeIntArg(PointerArg(frameId))});
}

bool WKE_CALL OnNavigation(wkeWebView, void* param, wkeNavigationType navigationType, wkeString url)
{
    WebViewControl* control = EventSource(param);
    if (!control)
        return true;
    EventText urlText(EngineStringToCp936(url));
    return Answer(RaiseWebViewEvent(*control, NavigationEvent, {MakeIntArg(navigationType), urlText.Ref()}), true);
}

void WKE_CALL OnConsole(wkeWebView, void* param, wkeConsoleLevel level, const wkeString message,
                        const wkeString sourceName, unsigned sourceLine, const wkeString stackTrace)
{
    WebViewControl* control = EventSource(param);
    if (!control)
        return;
    // The console's texts go by value, in the order the engine gives them.
    AnsiText messageText = EngineStringToCp936(message);
    AnsiText sourceText = EngineStringToCp936(sourceName);
    AnsiText stackText = EngineStringToCp936(stackTrace);
    RaiseWebViewEvent(*control, ConsoleEvent,
                      {MakeIntArg(level), MakeTextArg(messageText.c_str()), MakeTextArg(sourceText.c_str()),
                       MakeIntArg(static_cast<int32_t>(sourceLine)), MakeTextArg(stackText.c_str())});
}

void WKE_CALL OnAlertBox(wkeWebView, void* param, const wkeString message)
{
    RaiseWithText(param, AlertEvent, message);
}

bool WKE_CALL OnConfirmBox(wkeWebView, void* param, const wkeString message)
{
    return Answer(RaiseWithText(param, ConfirmEvent, message), true);
}

bool WKE_CALL OnPromptBox(wkeWebView, void* param, const wkeString message, const wkeString defaultResult, wkeString)
{
    WebViewControl* control = EventSource(param);
    if (!control)
        return true;
    EventText messageText(EngineStringToCp936(message));
    EventText defaultText(EngineStringToCp936(defaultResult));
    return Answer(RaiseWebViewEvent(*control, PromptEvent, {messageText.Ref(), defaultText.Ref()}), true);
}

bool WKE_CALL OnDownload(wkeWebView, void* param, const char* url)
{
    WebViewControl* control = EventSource(param);
    if (!control)
        return false;
    // The engine's bytes as they are, without conversion.
    EventText urlText(url ? AnsiText(url) : AnsiText());
    return Answer(RaiseWebViewEvent(*control, DownloadEvent, {urlText.Ref()}), false);
}

bool WKE_CALL OnLoadUrlBegin(wkeWebView, void* param, const char* url, void* job)
{
    WebViewControl* control = EventSource(param);
    if (!control)
        return false;
    EventText urlText(EngineUtf8ToCp936(url));
    return Answer(RaiseWebViewEvent(*control, LoadUrlBeginEvent, {urlText.Ref(), MakeIntArg(PointerArg(job))}), false);
}

void WKE_CALL OnLoadUrlEnd(wkeWebView, void* param, const char* url, void* job, void* buf, int len)
{
    WebViewControl* control = EventSource(param);
    if (!control)
        return;
    EventText urlText(EngineUtf8ToCp936(url));
    RaiseWebViewEvent(*control, LoadUrlEndEvent,
                      {urlText.Ref(), MakeIntArg(PointerArg(job)), MakeIntArg(PointerArg(buf)), MakeIntArg(len)});
}

void WKE_CALL OnMouseOverUrlChanged(wkeWebView, void* param, const wkeString url)
{
    RaiseWithText(param, HoveredUrlEvent, url);
}

} // namespace

void RegisterEngineCallbacks(WebViewControl& control)
{
    const EngineApi& api = Engine();
    wkeWebView view = control.view;
    void* param = &control;
    RegisterCallback(api.wkeOnTitleChanged, view, OnTitleChanged, param);
    RegisterCallback(api.wkeOnMouseOverUrlChanged, view, OnMouseOverUrlChanged, param);
    RegisterCallback(api.wkeOnURLChanged2, view, OnUrlChanged, param);
    RegisterCallback(api.wkeOnAlertBox, view, OnAlertBox, param);
    RegisterCallback(api.wkeOnConfirmBox, view, OnConfirmBox, param);
    RegisterCallback(api.wkeOnPromptBox, view, OnPromptBox, param);
    RegisterCallback(api.wkeOnNavigation, view, OnNavigation, param);
    RegisterCallback(api.wkeOnCreateView, view, OnEngineCreateView, param);
    RegisterCallback(api.wkeOnDocumentReady2, view, OnDocumentReady, param);
    RegisterCallback(api.wkeOnLoadingFinish, view, OnLoadingFinish, param);
    RegisterCallback(api.wkeOnDownload, view, OnDownload, param);
    RegisterCallback(api.wkeOnConsole, view, OnConsole, param);
    RegisterCallback(api.wkeOnLoadUrlBegin, view, OnLoadUrlBegin, param);
    RegisterCallback(api.wkeOnLoadUrlEnd, view, OnLoadUrlEnd, param);
}

void WKE_CALL OnEnginePaintUpdated(wkeWebView, void* param, const HDC hdc, int x, int y, int cx, int cy)
{
    // Paints go on in design mode too; only a destroyed control is skipped.
    if (WebViewControl* control = LiveWebView(param))
        control->paint.Paint(control->host, hdc, x, y, cx, cy);
}
