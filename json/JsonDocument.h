#pragma once
#include <cstdint>
#include <vector>

#include "json/ScriptHost.h"
#include "text/AnsiText.h"

// wingdi's GetObject macro would otherwise rename our member.
#ifdef GetObject
#undef GetObject
#endif

// The kind of a value, as GetType reports it. Code 3 is not used.
enum JsonKind : int32_t {
    JsonNull = 0,
    JsonBoolean = 1,
    JsonNumber = 2,
    JsonObject = 4,
    JsonArray = 5,
    JsonString = 6,
    JsonOther = -1,
};

// One JSON value held in a private script engine as the global variable
// VariableName, read and written by path. A path is script text appended to
// that name (data.list, list[0].name, [2]). Failures give empty results (empty
// text, 0, false) or no effect; nothing throws.
//
// Copies share the engine until one of them runs Parse, which gives that one a
// fresh engine. Use on the creating thread only.
class JsonDocument {
public:
    JsonDocument();
    JsonDocument(const JsonDocument& other);
    JsonDocument& operator=(const JsonDocument& other);
    ~JsonDocument();

    void Initialize();
    // Only data literals are evaluated; any other text leaves a null value and
    // gives false without running anything.
    bool Parse(const AnsiText& text);
    AnsiText ToText();
    void SetMember(const AnsiText& path, const AnsiText& value, bool valueIsJson = false);
    void SetMemberJson(const AnsiText& path, const AnsiText& json);
    void SetMemberNumber(const AnsiText& path, double number);
    double GetNumber(const AnsiText& path);
    AnsiText GetMemberJson(const AnsiText& path);
    AnsiText GetText(const AnsiText& path, bool asJson = false);
    JsonDocument GetObject(const AnsiText& path);
    int32_t GetCount(const AnsiText& path = {});
    void ArrayAppend(const AnsiText& value, const AnsiText& path = {}, bool valueIsJson = false);
    JsonDocument GetArrayItem(int32_t index, const AnsiText& path = {});
    AnsiText GetArrayItemText(int32_t index, const AnsiText& path = {}, bool asJson = false);
    void SetRootItem(int32_t index, const AnsiText& value, bool valueIsJson = false);
    void RemoveRootItem(int32_t index);
    void RemoveItem(const AnsiText& path);
    void Reset(int32_t kind);
    void SetRoot(const AnsiText& value, bool valueIsJson = false);
    bool HasMember(const AnsiText& path);
    int32_t GetMemberNames(std::vector<AnsiText>& names, const AnsiText& path = {});
    JsonKind GetType(const AnsiText& path = {});
    void Clear();

    AnsiText VariableName;

private:
    ScriptResult Eval(const AnsiText& script, ResultKind kind);
    AnsiText Dotted(const AnsiText& path) const;
    AnsiText DottedOrRoot(const AnsiText& path) const;
    AnsiText BracketAware(const AnsiText& path) const;
    AnsiText BracketAwareOrRoot(const AnsiText& path) const;
    void EnterApartment();

    ScriptHost engine_;
    // CoInitialize calls that succeeded for this document; each is undone once.
    int apartmentRefs_ = 0;
};
