#pragma once
#include <cstdint>
#include <functional>
#include <optional>

// Events raised by controls and routed to the handlers bound in the window's
// event table. Everything here runs on the window's thread.

enum class EventArgType : int32_t { Int32 = 0, Text = 1 };

// One argument as a control raises it. By value: an Int32 sits in `value`, a
// Text is the address of a zero-terminated code page 936 text. By reference:
// `value` is the address of the int32_t, or of the `const char*`.
struct EventArg {
    uint64_t value = 0;
    EventArgType type = EventArgType::Int32;
    bool byRef = false;
};

inline constexpr int MaxEventArgs = 12;

struct EventRecord {
    uint32_t formId = 0;
    uint32_t unitId = 0;
    int32_t eventNumber = 0;
    int32_t argCount = 0;
    EventArg args[MaxEventArgs];
};

struct DispatchResult {
    bool handlerRan = false;
    bool hasValue = false;
    int32_t value = 0;
};

// A handler returns a value when the raising control should see one.
using EventHandler = std::function<std::optional<int32_t>(const EventRecord&)>;

void BindEvent(uint32_t formId, uint32_t unitId, int32_t eventNumber, EventHandler handler);
void UnbindControlEvents(uint32_t formId, uint32_t unitId);
DispatchResult DispatchEvent(const EventRecord& record);

// Argument access that hides the by-reference indirection. An argument that is
// missing or of the other type reads as 0 or the empty text.
int32_t EventArgInt(const EventRecord& record, int index);
const char* EventArgText(const EventRecord& record, int index);

// Builders for controls that raise events.
EventArg MakeIntArg(int32_t value);
EventArg MakeIntRefArg(int32_t* value);
EventArg MakeTextArg(const char* text);
EventArg MakeTextRefArg(const char** text);
