#pragma once
#include <string>
#include <string_view>

#include "owners/ComOwners.h"
#include "text/AnsiText.h"

// What a caller asks to get back from a script call.
enum class ResultKind { None, Variant, Text, Number, Boolean };

// The outcome of CallMethod: `ok` is false when the call or the conversion to
// the requested kind failed; the other fields then hold their empty values.
struct ScriptResult {
    bool ok = false;
    Variant variant;
    AnsiText text;
    double number = 0;
    bool boolean = false;
};

// A shared, reference-counted handle on one automation object (the script
// engine): copies share the object, the object ends with its last handle.
// All calls are late-bound by member name and happen on the creating thread.
class ScriptHost {
public:
    // Creates the object named by a ProgID, or by a "{...}" class id. On
    // failure the handle keeps what it held.
    bool CreateObject(const AnsiText& progId);

    bool WriteProperty(const AnsiText& name, const AnsiText& value);
    bool WriteProperty(const AnsiText& name, bool value);
    bool WriteProperty(const AnsiText& name, long value);

    ScriptResult CallMethod(const AnsiText& name, const AnsiText& argument, ResultKind kind);
    // For a text that was already converted (and checked) in UTF-16, so that
    // the engine receives exactly those characters.
    ScriptResult CallMethod(const AnsiText& name, std::wstring_view argument, ResultKind kind);

    void Release() { object_.Reset(); }
    bool IsEmpty() const { return !object_; }

private:
    bool Write(const AnsiText& name, VARIANT& value);

    ComPtr<IUnknown> object_;
};
