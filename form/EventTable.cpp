#include "form/EventTable.h"

#include <map>
#include <tuple>

namespace {

using EventKey = std::tuple<uint32_t, uint32_t, int32_t>;

std::map<EventKey, EventHandler>& Table()
{
    static std::map<EventKey, EventHandler> table;
    return table;
}

} // namespace

void BindEvent(uint32_t formId, uint32_t unitId, int32_t eventNumber, EventHandler handler)
{
    if (handler)
        Table()[{formId, unitId, eventNumber}] = std::move(handler);
    else
        Table().erase({formId, unitId, eventNumber});
}

void UnbindControlEvents(uint32_t formId, uint32_t unitId)
{
    auto& table = Table();
    auto it = table.lower_bound({formId, unitId, INT32_MIN});
    while (it != table.end() && std::get<0>(it->first) == formId && std::get<1>(it->first) == unitId)
        it = table.erase(it);
}

DispatchResult DispatchEvent(const EventRecord& record)
{
    DispatchResult result;
    auto it = Table().find({record.formId, record.unitId, record.eventNumber});
    if (it == Table().end())
        return result;
    // Copy: a handler may rebind its own event while it runs.
    EventHandler handler = it->second;
    std::optional<int32_t> value = handler(record);
    result.handlerRan = true;
    result.hasValue = value.has_value();
    result.value = value.value_or(0);
    return result;
}

int32_t EventArgInt(const EventRecord& record, int index)
{
    if (index < 0 || index >= record.argCount || index >= MaxEventArgs)
        return 0;
    const EventArg& arg = record.args[index];
    if (arg.type != EventArgType::Int32)
        return 0;
    if (arg.byRef)
        return arg.value ? *reinterpret_cast<const int32_t*>(static_cast<uintptr_t>(arg.value)) : 0;
    return static_cast<int32_t>(arg.value);
}

const char* EventArgText(const EventRecord& record, int index)
{
    if (index < 0 || index >= record.argCount || index >= MaxEventArgs)
        return "";
    const EventArg& arg = record.args[index];
    if (arg.type != EventArgType::Text || !arg.value)
        return "";
    const char* text = arg.byRef ? *reinterpret_cast<const char* const*>(static_cast<uintptr_t>(arg.value))
                                 : reinterpret_cast<const char*>(static_cast<uintptr_t>(arg.value));
    return text ? text : "";
}

EventArg MakeIntArg(int32_t value)
{
    return {static_cast<uint64_t>(static_cast<uint32_t>(value)), EventArgType::Int32, false};
}

EventArg MakeIntRefArg(int32_t* value)
{
    return {reinterpret_cast<uintptr_t>(value), EventArgType::Int32, true};
}

EventArg MakeTextArg(const char* text)
{
    return {reinterpret_cast<uintptr_t>(text), EventArgType::Text, false};
}

EventArg MakeTextRefArg(const char** text)
{
    return {reinterpret_cast<uintptr_t>(text), EventArgType::Text, true};
}
