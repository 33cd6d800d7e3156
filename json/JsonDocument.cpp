#include "json/JsonDocument.h"

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "json/JsonLiteral.h"
#include "json/JsonSupportScript.h"
#include "text/WideText.h"
#include "text/TextOps.h"

namespace {

const AnsiText EngineProgId = "MSScriptControl.ScriptControl";

// Long enough for any reply the service sends; where the engine honours it,
// a runaway script ends with an error instead of a question to the user.
constexpr long ScriptTimeoutMs = 5000;

AnsiText NumberText(double number)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.13g", number);
    return buffer;
}

AnsiText IndexText(int32_t index)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%d", static_cast<int>(index));
    return buffer;
}

AnsiText Quote(bool valueIsJson)
{
    return valueIsJson ? AnsiText() : AnsiText("'");
}

} // namespace

JsonDocument::JsonDocument() : VariableName("da")
{
    Initialize();
}

JsonDocument::JsonDocument(const JsonDocument& other) : VariableName(other.VariableName), engine_(other.engine_)
{
    // The shared engine may outlive the document that made it: the copy keeps
    // the apartment open for itself.
    EnterApartment();
}

JsonDocument& JsonDocument::operator=(const JsonDocument& other)
{
    if (this != &other) {
        VariableName = other.VariableName;
        engine_ = other.engine_;
        if (apartmentRefs_ == 0)
            EnterApartment();
    }
    return *this;
}

JsonDocument::~JsonDocument()
{
    engine_.Release();
    for (; apartmentRefs_ > 0; --apartmentRefs_)
        CoUninitialize();
}

void JsonDocument::EnterApartment()
{
    if (SUCCEEDED(CoInitialize(nullptr)))
        ++apartmentRefs_;
}

void JsonDocument::Initialize()
{
    EnterApartment();
    engine_.CreateObject(EngineProgId);
    // The engine gets no host facilities (no ActiveXObject) and never asks
    // the user anything; these must be set before the language.
    engine_.WriteProperty("UseSafeSubset", true);
    engine_.WriteProperty("AllowUI", false);
    engine_.WriteProperty("Timeout", ScriptTimeoutMs);
    engine_.WriteProperty("Language", AnsiText("JavaScript"));
    engine_.CallMethod("AddCode", AnsiText(JsonSupportScript), ResultKind::Number);
    Eval("var " + VariableName + "={}", ResultKind::Number);
}

bool JsonDocument::Parse(const AnsiText& text)
{
    if (!engine_.IsEmpty()) {
        engine_.Release();
        Initialize();
    }
    if (engine_.IsEmpty())
        return false;
    Eval("var " + VariableName + "=null", ResultKind::Number);

    // The text comes from the network: it is checked in exactly the form the
    // engine will receive, and only a data literal is evaluated, in the form
    // that every engine reads alike.
    std::wstring wideText = WideFromAnsi(text);
    std::optional<std::u16string> evaluable = EvaluableLiteral(std::u16string(wideText.begin(), wideText.end()));
    if (!evaluable)
        return false;
    std::wstring script =
        L"var " + WideFromAnsi(VariableName) + L"=eval(" + std::wstring(evaluable->begin(), evaluable->end()) + L")";
    engine_.CallMethod("AddCode", std::wstring_view(script), ResultKind::Number);
    return Eval("null !=" + VariableName, ResultKind::Boolean).boolean;
}

AnsiText JsonDocument::ToText()
{
    return Eval("JSON.stringify(" + VariableName + ")", ResultKind::Text).text;
}

void JsonDocument::SetMember(const AnsiText& path, const AnsiText& value, bool valueIsJson)
{
    if (valueIsJson)
        Eval(VariableName + "." + path + "= eval(" + (value.empty() ? AnsiText("{}") : value) + ")", ResultKind::None);
    else
        Eval(VariableName + "." + path + "='" + value + "'", ResultKind::None);
}

void JsonDocument::SetMemberJson(const AnsiText& path, const AnsiText& json)
{
    Eval(VariableName + "." + path + "= eval(" + json + ")", ResultKind::None);
}

void JsonDocument::SetMemberNumber(const AnsiText& path, double number)
{
    Eval(VariableName + "." + path + "=" + NumberText(number), ResultKind::None);
}

double JsonDocument::GetNumber(const AnsiText& path)
{
    return Eval(Dotted(path), ResultKind::Number).number;
}

AnsiText JsonDocument::GetMemberJson(const AnsiText& path)
{
    return Eval("JSON.stringify(" + Dotted(path) + ")", ResultKind::Text).text;
}

AnsiText JsonDocument::GetText(const AnsiText& path, bool asJson)
{
    AnsiText target = BracketAware(path);
    if (asJson)
        return Eval("JSON.stringify(" + target + ")", ResultKind::Text).text;
    if (engine_.IsEmpty())
        return {};
    if (GetType(path) == JsonNumber)
        return NumberText(GetNumber(path));
    return Eval(target, ResultKind::Text).text;
}

JsonDocument JsonDocument::GetObject(const AnsiText& path)
{
    JsonDocument item;
    item.Parse(Eval("JSON.stringify(" + BracketAware(path) + ")", ResultKind::Text).text);
    return item;
}

int32_t JsonDocument::GetCount(const AnsiText& path)
{
    double count = Eval("get__count(" + BracketAwareOrRoot(path) + ")", ResultKind::Number).number;
    if (!std::isfinite(count) || std::fabs(count) >= 2147483648.0)
        return 0;
    return static_cast<int32_t>(count);
}

void JsonDocument::ArrayAppend(const AnsiText& value, const AnsiText& path, bool valueIsJson)
{
    AnsiText target = DottedOrRoot(path);
    AnsiText q = Quote(valueIsJson);
    Eval("if (Object.prototype.toString.call(" + target + ") != '[object Array]') { " + target + "=new Array();} " +
             target + ".push(" + q + value + q + ")",
         ResultKind::None);
}

JsonDocument JsonDocument::GetArrayItem(int32_t index, const AnsiText& path)
{
    JsonDocument item;
    item.Parse(Eval("JSON.stringify(" + DottedOrRoot(path) + "[" + IndexText(index) + "])", ResultKind::Text).text);
    return item;
}

AnsiText JsonDocument::GetArrayItemText(int32_t index, const AnsiText& path, bool asJson)
{
    AnsiText item = DottedOrRoot(path) + "[" + IndexText(index) + "]";
    if (asJson)
        return Eval("JSON.stringify(" + item + ")", ResultKind::Text).text;
    return Eval(item, ResultKind::Text).text;
}

void JsonDocument::SetRootItem(int32_t index, const AnsiText& value, bool valueIsJson)
{
    AnsiText q = Quote(valueIsJson);
    Eval(VariableName + "[" + IndexText(index) + "]=" + q + value + q, ResultKind::None);
}

void JsonDocument::RemoveRootItem(int32_t index)
{
    Eval(VariableName + ".splice(" + IndexText(index) + ",1)", ResultKind::None);
}

// The path names an array element (list[2]); the array is taken out as JSON,
// shortened in a scratch document and written back. Only the first pair of
// brackets counts.
void JsonDocument::RemoveItem(const AnsiText& path)
{
    AnsiText arrayPath = TextBefore(path, "[");
    int32_t index = std::atoi(TextBetween(path, "[", "]").c_str());
    JsonDocument scratch;
    scratch.Parse(GetText(arrayPath, true));
    scratch.RemoveRootItem(index);
    SetMemberJson(arrayPath, scratch.ToText());
}

void JsonDocument::Reset(int32_t kind)
{
    if (kind == JsonNull || kind == JsonObject)
        Eval("var " + VariableName + "={}", ResultKind::Number);
    else if (kind == JsonArray)
        Eval("var " + VariableName + "=new Array()", ResultKind::Number);
}

void JsonDocument::SetRoot(const AnsiText& value, bool valueIsJson)
{
    AnsiText q = Quote(valueIsJson);
    Eval(VariableName + "=" + q + value + q, ResultKind::Boolean);
}

bool JsonDocument::HasMember(const AnsiText& path)
{
    return Eval(Dotted(path) + " !=null", ResultKind::Boolean).boolean;
}

// The engine lists every enumerable name, inherited ones included; the two
// that the support script adds to every object are taken out again.
int32_t JsonDocument::GetMemberNames(std::vector<AnsiText>& names, const AnsiText& path)
{
    AnsiText list =
        Eval("var ary=''; for (var key in " + BracketAwareOrRoot(path) + ") {ary=ary+ key+','; }", ResultKind::Text)
            .text;
    list = ReplaceText(list, "toJSONString,", "");
    list = ReplaceText(list, "parseJSON,", "");
    Eval("ary=null", ResultKind::Variant);

    names.clear();
    size_t start = 0;
    for (size_t comma = list.find(','); comma != AnsiText::npos; comma = list.find(',', start)) {
        names.push_back(list.substr(start, comma - start));
        start = comma + 1;
    }
    if (start < list.size())
        names.push_back(list.substr(start));
    return static_cast<int32_t>(names.size());
}

// An object is told from an array by its JSON text. That text is taken from
// the same expression that typeof looked at, so the root value is classified
// like any member.
JsonKind JsonDocument::GetType(const AnsiText& path)
{
    AnsiText target = DottedOrRoot(path);
    if (Eval(target + "==null", ResultKind::Boolean).boolean)
        return JsonNull;
    AnsiText type = Eval("typeof (" + target + ")", ResultKind::Text).text;
    if (type == "string")
        return JsonString;
    if (type == "object") {
        AnsiText json = Eval("JSON.stringify(" + target + ")", ResultKind::Text).text;
        return !json.empty() && json[0] == '[' ? JsonArray : JsonObject;
    }
    if (type == "number")
        return JsonNumber;
    if (type == "boolean")
        return JsonBoolean;
    return JsonOther;
}

void JsonDocument::Clear()
{
    Eval(VariableName + "={}", ResultKind::None);
}

ScriptResult JsonDocument::Eval(const AnsiText& script, ResultKind kind)
{
    return engine_.CallMethod("Eval", script, kind);
}

AnsiText JsonDocument::Dotted(const AnsiText& path) const
{
    return VariableName + "." + path;
}

AnsiText JsonDocument::DottedOrRoot(const AnsiText& path) const
{
    return path.empty() ? VariableName : Dotted(path);
}

AnsiText JsonDocument::BracketAware(const AnsiText& path) const
{
    return !path.empty() && path[0] == '[' ? VariableName + path : Dotted(path);
}

AnsiText JsonDocument::BracketAwareOrRoot(const AnsiText& path) const
{
    return path.empty() ? VariableName : BracketAware(path);
}
