// Our conformance corpus for JsonDocument::Parse, by the parts of RFC 8259's
// grammar: valid documents must parse and read back with the value a JSON
// reader gives them, invalid ones must give false and the null document, and
// the traps of the platform's script engine must neither hang it nor read
// differently. Every document is parsed on a thread of its own with a time
// limit, so an engine that never returns fails its case instead of the run.
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "json/JsonDocument.h"

namespace {

constexpr DWORD ParseLimitMs = 5000;
constexpr double Inf = std::numeric_limits<double>::infinity();

// What a path must read after the parse: a number (GetNumber, compared bit
// for bit, so -0 differs from 0) or a text (GetText).
using Expected = std::variant<double, AnsiText>;

struct Read {
    AnsiText path;
    Expected value;
};

struct Case {
    AnsiText text;
    bool parses = true;
    std::vector<Read> reads;
};

struct Outcome {
    bool finished = false;
    bool parsed = false;
    AnsiText json;
    std::vector<Expected> values;
};

struct Job {
    const Case* c = nullptr;
    Outcome outcome;
};

DWORD WINAPI ParseAndRead(void* param)
{
    auto* job = static_cast<Job*>(param);
    JsonDocument doc;
    job->outcome.parsed = doc.Parse(job->c->text);
    job->outcome.json = doc.ToText();
    for (const Read& read : job->c->reads) {
        if (std::holds_alternative<double>(read.value))
            job->outcome.values.emplace_back(doc.GetNumber(read.path));
        else
            job->outcome.values.emplace_back(doc.GetText(read.path));
    }
    return 0;
}

bool SameNumber(double a, double b)
{
    if (std::isnan(a) || std::isnan(b))
        return false;
    return a == b && std::signbit(a) == std::signbit(b);
}

std::string Shown(const Expected& value)
{
    if (const double* number = std::get_if<double>(&value)) {
        char text[40];
        std::snprintf(text, sizeof text, "%.17g", *number);
        return text;
    }
    return "\"" + std::get<AnsiText>(value) + "\"";
}

std::string Excerpt(const AnsiText& text)
{
    return text.size() <= 80 ? text : text.substr(0, 60) + "... (" + std::to_string(text.size()) + " bytes)";
}

// Runs every case; a case whose parse does not return in time is reported
// and its thread left to the end of the process.
void RunCorpus(const std::vector<Case>& corpus)
{
    for (const Case& c : corpus) {
        SCOPED_TRACE(Excerpt(c.text));
        Job job;
        job.c = &c;
        HANDLE thread = CreateThread(nullptr, 0, ParseAndRead, &job, 0, nullptr);
        ASSERT_NE(nullptr, thread);
        const bool finished = WaitForSingleObject(thread, ParseLimitMs) == WAIT_OBJECT_0;
        CloseHandle(thread);
        if (!finished) {
            ADD_FAILURE() << "Parse did not return within " << ParseLimitMs << " ms";
            // The stuck thread still owns the job.
            new Job(std::move(job));
            continue;
        }
        const Outcome& outcome = job.outcome;
        EXPECT_EQ(c.parses, outcome.parsed);
        if (!c.parses) {
            EXPECT_EQ("null", outcome.json);
            continue;
        }
        ASSERT_EQ(c.reads.size(), outcome.values.size());
        for (size_t i = 0; i < c.reads.size(); ++i) {
            const Expected& expected = c.reads[i].value;
            const Expected& got = outcome.values[i];
            const bool same = std::holds_alternative<double>(expected)
                                  ? SameNumber(std::get<double>(expected), std::get<double>(got))
                                  : expected == got;
            EXPECT_TRUE(same) << c.reads[i].path << ": expected " << Shown(expected) << ", got " << Shown(got);
        }
    }
}

// {"v":<number>} reads as `value`.
Case Number(const AnsiText& number, double value)
{
    return {"{\"v\":" + number + "}", true, {{"v", value}}};
}

// {"v":<string literal>} reads as `value`, `length` UTF-16 units long.
Case String(const AnsiText& literal, const AnsiText& value, double length)
{
    return {"{\"v\":" + literal + "}", true, {{"v", value}, {"v.length", length}}};
}

Case Refused(const AnsiText& text)
{
    return {text, false, {}};
}

TEST(JsonConformance, Literals)
{
    RunCorpus({
        {"true", true, {}},
        {"false", true, {}},
        {"{\"a\":[true,false,null]}", true, {{"a.length", 3.0}, {"a[2]", AnsiText()}}},
        // The null document parses to nothing, as the contract says.
        {"null", false, {}},
        Refused("True"),
        Refused("nul"),
        Refused("nulll"),
        Refused("undefined"),
        Refused("NaN"),
        Refused("Infinity"),
        Refused("-Infinity"),
        Refused("[true false]"),
    });
}

TEST(JsonConformance, Objects)
{
    RunCorpus({
        {"{}", true, {{"a", AnsiText()}}},
        {"{\"a\":\"x\",\"b\":{\"c\":[1,2]}}", true, {{"a", AnsiText("x")}, {"b.c[1]", 2.0}, {"b.c.length", 2.0}}},
        {" { \"a\" : 1 , \"b\" : 2 } ", true, {{"a", 1.0}, {"b", 2.0}}},
        // Duplicate names: the last member wins, also when the names differ
        // only in their escapes.
        {"{\"answer\":\"first\",\"answer\":\"last\"}", true, {{"answer", AnsiText("last")}}},
        {"{\"answer\":\"first\",\"answ\\u0065r\":\"last\"}", true, {{"answer", AnsiText("last")}}},
        {"{\"a\":1,\"b\":2,\"a\":3}", true, {{"a", 3.0}, {"b", 2.0}}},
        // Names that are not identifiers are members like any other.
        {"{\"\":\"e\",\"a b\":\"s\",\"1\":\"n\"}",
         true,
         {{"['']", AnsiText("e")}, {"['a b']", AnsiText("s")}, {"[1]", AnsiText("n")}}},
        Refused("{\"a\"}"),
        Refused("{\"a\":1,}"),
        Refused("{,}"),
        Refused("{\"a\" 1}"),
        Refused("{\"a\":1 \"b\":2}"),
        Refused("{\"a\":1"),
        Refused("{\"a\":1]"),
        Refused("{a:b}"),
    });
}

TEST(JsonConformance, Arrays)
{
    RunCorpus({
        {"[]", true, {{"length", 0.0}}},
        {"{\"a\":[1,\"a\",null,true,[],{}]}", true, {{"a.length", 6.0}, {"a[1]", AnsiText("a")}, {"a[4].length", 0.0}}},
        {"[[[\"deep\"]]]", true, {{"[0][0][0]", AnsiText("deep")}}},
        Refused("[1,]"),
        Refused("[,1]"),
        Refused("[1 2]"),
        Refused("[1"),
        Refused("[1}"),
        Refused("[1,,2]"),
    });
}

TEST(JsonConformance, Numbers)
{
    const AnsiText manyDigits = "1" + AnsiText(400, '0');
    const AnsiText longFraction = "0." + AnsiText(1000, '0') + "1e1000";
    RunCorpus({
        Number("0", 0.0),
        Number("-0", 0.0),
        Number("1", 1.0),
        Number("-1", -1.0),
        Number("12345", 12345.0),
        Number("1.5", 1.5),
        Number("-1.25e-3", -0.00125),
        Number("0.1", 0.1),
        Number("1E2", 100.0),
        Number("1e+2", 100.0),
        Number("1e-2", 0.01),
        Number("1E-02", 0.01),
        Number("2.50", 2.5),
        Number("0.30000000000000004", 0.30000000000000004),
        // Rounded to the nearest double: a JSON reader's value.
        Number("9007199254740993", 9007199254740992.0),
        Number("123456789012345678901234567890", 1.2345678901234568e29),
        Number("1.7976931348623157e308", 1.7976931348623157e308),
        Number("1e300", 1e300),
        Number("4.9e-290", 4.9e-290),
        // Many digits, and digits balanced by the exponent.
        Number(manyDigits, Inf),
        Number(longFraction, 0.1),
        Number("1" + AnsiText(300, '0') + "e-300", 1.0),
        // Beyond the largest double: Infinity, as JSON readers read it; below
        // the smallest: zero, which never keeps a sign.
        Number("1e400", Inf),
        Number("-1e400", -Inf),
        Number("1.8e308", Inf),
        Number("1e-400", 0.0),
        Number("-1e-400", 0.0),
        // The script engine's own extensions that stay: a plus sign, a bare
        // fraction, a bare point.
        Number("+1", 1.0),
        Number(".5", 0.5),
        Number("1.", 1.0),
        Refused("[0x10]"),
        Refused("[1e]"),
        Refused("[1e+]"),
        Refused("[-]"),
        Refused("[--1]"),
        Refused("[1.2.3]"),
        Refused("[- 1]"),
        Refused("[1a]"),
        Refused("[.]"),
        Refused("[e1]"),
        // Leading zeros are not JSON.
        Refused("[00]"),
        Refused("[-01]"),
        Refused("[01.5]"),
        Refused("[007e1]"),
        // Not zero, but too small for every engine to read alike.
        Refused("[1e-300]"),
        Refused("[5e-324]"),
        Refused("[2.2250738585072014e-308]"),
    });
}

TEST(JsonConformance, Strings)
{
    RunCorpus({
        String("\"\"", "", 0),
        String("\"abc\"", "abc", 3),
        String("\"\\\" \\\\ \\/ \\b\\f\\n\\r\\t\"", "\" \\ / \b\f\n\r\t", 11),
        String("\"\\u0041\\u00e9\"", "A\xA8\xA6", 2),          // A, é in code page 936
        String("\"\\u7B54\\u6848\"", "\xB4\xF0\xB0\xB8", 2),   // 答案
        String("\"\xB4\xF0\xB0\xB8\"", "\xB4\xF0\xB0\xB8", 2), // 答案 unescaped
        // A pair of escaped surrogates is one character outside code page 936.
        {"{\"v\":\"\\ud83d\\ude00\"}",
         true,
         {{"v.length", 2.0}, {"v.charCodeAt(0)", 55357.0}, {"v.charCodeAt(1)", 56832.0}}},
        // The line terminators, escaped, are ordinary characters.
        String("\"a\\u2028b\\u2029\"", "a?b?", 4),
        String("'single'", "single", 6),
        Refused("{\"v\":\"a\nb\"}"),
        Refused("{\"v\":\"a\rb\"}"),
        Refused("{\"v\":\"\\v\"}"),
        Refused("{\"v\":\"\\0\"}"),
        Refused("{\"v\":\"\\u12\"}"),
        Refused("{\"v\":\"\\x4\"}"),
        Refused("{\"v\":\"\\q\"}"),
        Refused("{\"v\":\"open}"),
        Refused("{\"v\":\"a\\\nb\"}"),
        // A zero character, escaped in any way, is refused: engines cut the
        // text there or not.
        Refused("{\"v\":\"a\\u0000b\"}"),
        Refused("{\"v\":\"\\x00\"}"),
        Refused("[\"\\u0000\"]"),
        // Lone surrogates: no character at all.
        Refused("{\"v\":\"\\ud800\"}"),
        Refused("{\"v\":\"\\udc00\"}"),
        Refused("{\"v\":\"\\ud800x\"}"),
        Refused("{\"v\":\"\\ud800\\u0041\"}"),
        Refused("{\"v\":\"\\ude00\\ud83d\"}"),
        Refused("{\"v\":\"\\ud83d\\ud83d\\ude00\"}"),
    });
}

TEST(JsonConformance, Whitespace)
{
    RunCorpus({
        {" \t\r\n{ \"a\" :\n[ 1 ,\t2\r\n] }\n ", true, {{"a[1]", 2.0}}},
        Refused("\f[1]"),
        Refused("[1\v]"),
        Refused("[\xA1\xA1"
                "1]"), // form feed, vertical tab, ideographic space
    });
}

// Inputs on which the platform's script engine, given them as they are,
// hangs, misreads or refuses valid JSON.
TEST(JsonConformance, EngineTraps)
{
    RunCorpus({
        // An exponent of ten digits or more: the engine never returned, or read 0.
        {"{\"answer\":1e2147483650}", true, {{"answer", Inf}}},
        {"{\"answer\":1e2147483649}", true, {{"answer", Inf}}},
        {"{\"answer\":-1e99999999999999999999}", true, {{"answer", -Inf}}},
        {"{\"answer\":1e-2147483650}", true, {{"answer", 0.0}}},
        {"{\"answer\":1.5e0000000000000000000002}", true, {{"answer", 150.0}}},
        // A member name with a zero in it was cut there: a second "answer".
        Refused("{\"answer\":\"real\",\"answer\\u0000x\":\"spoof\"}"),
        Refused("{\"answer\\u0000\":\"spoof\",\"answer\":\"real\"}"),
        // Leading zeros were read as octal.
        Refused("[012]"),
        Refused("{\"answer\":012}"),
        Refused("{012:1}"),
        // Zero with an exponent was refused by the engine.
        {"{\"a\":[0e1,-0e1,0E+1,0.0e5,-0.0E-0]}",
         true,
         {{"a[0]", 0.0}, {"a[1]", 0.0}, {"a[2]", 0.0}, {"a[3]", 0.0}, {"a[4]", 0.0}}},
        {"{0e1:\"zero\"}", true, {{"[0]", AnsiText("zero")}}},
        // Numbers inside a string that eval runs once more are rewritten too.
        {"\"{\\\"answer\\\":1e2147483650}\"", true, {{"answer", Inf}}},
        {"\"{\\\"a\\\":[0e1]}\"", true, {{"a[0]", 0.0}}},
        Refused("\"[012]\""),
        // A member that would set the prototype in some engines.
        Refused("{\"__proto__\":{\"answer\":\"spoof\"}}"),
        Refused("{__proto__:1}"),
        Refused("{\"__prot\\u006f__\":1}"),
    });
}

} // namespace
