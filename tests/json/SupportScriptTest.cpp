#include <windows.h>

#include <cstring>

#include <gtest/gtest.h>

#include "json/JsonSupportScript.h"
#include "json/ScriptHost.h"

namespace {

// An engine as documents make it: the support script loaded first.
class SupportScriptTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        ASSERT_TRUE(host_.CreateObject("MSScriptControl.ScriptControl"));
        ASSERT_TRUE(host_.WriteProperty("Language", AnsiText("JavaScript")));
        ASSERT_TRUE(host_.CallMethod("AddCode", AnsiText(JsonSupportScript), ResultKind::None).ok);
    }
    void TearDown() override
    {
        host_.Release();
        CoUninitialize();
    }

    AnsiText Text(const AnsiText& script) { return host_.CallMethod("Eval", script, ResultKind::Text).text; }
    bool Fails(const AnsiText& script) { return !host_.CallMethod("Eval", script, ResultKind::Text).ok; }

    ScriptHost host_;
};

TEST(SupportScriptText, IsOneAsciiLineStartingWithTheCounter)
{
    const char* counter = "function get__count(c){var i=-2;for(v in c)i++;return i}";
    EXPECT_EQ(0, std::strncmp(JsonSupportScript, counter, std::strlen(counter)));
    for (const char* p = JsonSupportScript; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        ASSERT_TRUE(c >= 0x20 && c < 0x7F) << "byte " << static_cast<int>(c) << " at " << (p - JsonSupportScript);
    }
}

// Our own JSON and counter are what documents use (the engine has none in
// this mode), and what JSON.stringify (and toJSONString) gives for a value.
TEST_F(SupportScriptTest, ProvidesJsonAndCounterAndStringifies)
{
    const struct {
        const char* expected;
        const char* script;
    } cases[] = {
        {"function", "typeof JSON.stringify"},
        {"function", "typeof JSON.parse"},
        {"3", "get__count({a:1,b:2,c:3})"},
        {"2", "get__count([7,8])"},
        {"a,b,toJSONString,parseJSON,", "var s=''; for (var k in {a:1,b:2}) {s=s+k+',';}"},
        // Compact, with no spaces.
        {"{\"a\":1,\"b\":[true,false,null],\"c\":{\"d\":\"x\"},\"e\":[]}",
         "JSON.stringify({a:1,b:[true,false,null],c:{d:'x'},e:[]})"},
        {"[1.5,-2,0,null,null,null]", "JSON.stringify([1.5,-2,-0,NaN,1/0,-1/0])"},
        // Functions and undefined are left out of objects and become null in arrays.
        {"{\"k\":1}", "JSON.stringify({f:function(){},u:undefined,k:1})"},
        {"[null,null]", "JSON.stringify([function(){},undefined])"},
        {"", "JSON.stringify(undefined)"},
        {"\"s\"", "JSON.stringify('s')"},
        // Escapes in strings and names.
        {"\"q\\\"b\\\\n\\nt\\tc\\u0001\\u001f\\b\\f\\r\\u2028\"",
         "JSON.stringify('q\"b\\\\n\\nt\\tc\\x01\\x1f\\b\\f\\r\\u2028')"},
        {"{\"a\\\"b\":1}", "var o={}; o['a\"b']=1; JSON.stringify(o)"},
        {"\"'\\u007f\"", "JSON.stringify(\"'\\x7f\")"},
        // toJSON of dates, wrappers and objects; toJSONString.
        {"\"2001-02-03T04:05:06.007Z\"", "JSON.stringify(new Date(Date.UTC(2001,1,3,4,5,6,7)))"},
        {"[\"s\",3,true]", "JSON.stringify([new String('s'),new Number(3),new Boolean(true)])"},
        {"{\"v\":\"own\"}", "JSON.stringify({v:{toJSON:function(){return 'own'}}})"},
        {"{\"a\":[1]}", "({a:[1]}).toJSONString()"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, Text(c.script)) << c.script;
}

TEST_F(SupportScriptTest, RefusesCyclesWithAnError)
{
    EXPECT_TRUE(Fails("var c={}; c.self=c; JSON.stringify(c)"));
    EXPECT_EQ("{\"x\":[1],\"y\":[1]}", Text("var s=[1]; JSON.stringify({x:s,y:s})"));
}

TEST_F(SupportScriptTest, ParsesJsonOnly)
{
    EXPECT_EQ("x|2|true|null|-0.5",
              Text("var p=JSON.parse(' {\"a\" : [\"x\", {\"b\":2}], \"c\":true, \"d\":null, \"e\":-5e-1} ');"
                   "p.a[0]+'|'+p.a[1].b+'|'+p.c+'|'+p.d+'|'+p.e"));
    EXPECT_EQ("a\"\\/\b\f\n\r\t\xB4\xF0",
              Text("JSON.parse('\"a\\\\\"\\\\\\\\\\\\/\\\\b\\\\f\\\\n\\\\r\\\\t\\\\u7b54\"')"));
    EXPECT_EQ("[1,[2,[]]]", Text("JSON.stringify(JSON.parse('[1,[2,[]]]'))"));
    EXPECT_EQ("{}", Text("JSON.stringify('{}'.parseJSON())"));
    for (const char* bad : {"JSON.parse('{a:1}')", "JSON.parse(\"{'a':1}\")", "JSON.parse('[1,]')", "JSON.parse('01')",
                            "JSON.parse('1 2')", "JSON.parse('')", "JSON.parse('tru')", "JSON.parse('\"\\\\x41\"')",
                            "JSON.parse('[1]x')", "JSON.parse('alert(1)')"}) {
        EXPECT_TRUE(Fails(bad)) << bad;
    }
}

TEST_F(SupportScriptTest, ParseAppliesTheReviver)
{
    EXPECT_EQ("{\"a\":2,\"c\":{\"d\":8}}", Text("JSON.stringify(JSON.parse('{\"a\":1,\"b\":0,\"c\":{\"d\":4}}',"
                                                "function(k,v){return v===0?undefined:(typeof v==='number'?v*2:v)}))"));
}

} // namespace
