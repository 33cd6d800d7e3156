#pragma once
#include <cstdint>
#include <initializer_list>
#include <utility>

#include "form/EventTable.h"
#include "text/AnsiText.h"
#include "webview/WebViewInstance.h"

// How the web view raises its numbered events and turns a handler's report
// into the answer that the engine or the window gets.

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
    LeftButtonDownEvent = 14,
    LeftButtonUpEvent = 15,
    LeftDoubleClickEvent = 16,
    RightButtonDownEvent = 17,
    RightButtonUpEvent = 18,
    MouseMoveEvent = 19,
    SetFocusEvent = 20,
    KillFocusEvent = 21,
    KeyDownEvent = 22,
    KeyUpEvent = 23,
    CharacterEvent = 24,
    PopupPlacementEvent = 26,
    PopupCreatedEvent = 27,
    PopupClosingEvent = 28,
    PopupDestroyedEvent = 29,
};

// The live control behind a user parameter when it may raise events (not
// destroyed, not in design mode), or nullptr.
WebViewControl* EventSource(void* param);

DispatchResult RaiseWebViewEvent(const WebViewControl& control, int32_t eventNumber,
                                 std::initializer_list<EventArg> args);

// The handler's value when one ran and gave a value, else the default.
inline int32_t HandlerValueOr(const DispatchResult& result, int32_t unboundValue)
{
    return result.handlerRan && result.hasValue ? result.value : unboundValue;
}

inline bool Answer(const DispatchResult& result, bool unboundAnswer)
{
    return HandlerValueOr(result, unboundAnswer ? 1 : 0) != 0;
}

inline int32_t PointerArg(const void* pointer)
{
    return static_cast<int32_t>(reinterpret_cast<uintptr_t>(pointer));
}

// A converted text together with the pointer that a by-reference argument
// points at; it lives until the raising callback returns.
struct EventText {
    explicit EventText(AnsiText value) : text(std::move(value)), pointer(text.c_str()) {}
    EventText(const EventText&) = delete;
    EventText& operator=(const EventText&) = delete;
    EventArg Ref() { return MakeTextRefArg(&pointer); }

    AnsiText text;
    const char* pointer;
};
