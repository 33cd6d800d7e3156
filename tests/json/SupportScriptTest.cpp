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

// Our own JSON is what documents use: the engine has none in this mode.
TEST_F(SupportScriptTest, ProvidesJsonAndCounter)
{
    EXPECT_EQ("function", Text("typeof JSON.stringify"));
    EXPECT_EQ("function", Text("typeof JSON.parse"));
    EXPECT_EQ("3", Text("get__count({a:1,b:2,c:3})"));
    EXPECT_EQ("2", Text("get__count([7,8])"));
    EXPECT_EQ("a,b,toJSONString,parseJSON,", Text("var s=''; for (var k in {a:1,b:2}) {s=s+k+',';}"));
}

TEST_F(SupportScriptTest, StringifiesCompactly)
{
    EXPECT_EQ("{\"a\":1,\"b\":[true,false,null],\"c\":{\"d\":\"x\"},\"e\":[]}",
              Text("JSON.stringify({a:1,b:[true,false,null],c:{d:'x'},e:[]})"));
    EXPECT_EQ("[1.5,-2,0,null,null,null]", Text("JSON.stringify([1.5,-2,-0,NaN,1/0,-1/0])"));
    // Functions and undefined are left out of objects and become null in arrays.
    EXPECT_EQ("{\"k\":1}", Text("JSON.stringify({f:function(){},u:undefined,k:1})"));
    EXPECT_EQ("[null,null]", Text("JSON.stringify([function(){},undefined])"));
    EXPECT_EQ("", Text("JSON.stringify(undefined)"));
    EXPECT_EQ("\"s\"", Text("JSON.stringify('s')"));
}

TEST_F(SupportScriptTest, EscapesStrings)
{
    EXPECT_EQ("\"q\\\"b\\\\n\\nt\\tc\\u0001\\u001f\\b\\f\\r\\u2028\"",
              Text("JSON.stringify('q\"b\\\\n\\nt\\tc\\x01\\x1f\\b\\f\\r\\u2028')"));
    EXPECT_EQ("{\"a\\\"b\":1}", Text("var o={}; o['a\"b']=1; JSON.stringify(o)"));
    EXPECT_EQ("\"'\\u007f\"", Text("JSON.stringify(\"'\\x7f\")"));
}

TEST_F(SupportScriptTest, UsesToJson)
{
    EXPECT_EQ("\"2001-02-03T04:05:06.007Z\"", Text("JSON.stringify(new Date(Date.UTC(2001,1,3,4,5,6,7)))"));
    EXPECT_EQ("[\"s\",3,true]", Text("JSON.stringify([new String('s'),new Number(3),new Boolean(true)])"));
    EXPECT_EQ("{\"v\":\"own\"}", Text("JSON.stringify({v:{toJSON:function(){return 'own'}}})"));
    EXPECT_EQ("{\"a\":[1]}", Text("({a:[1]}).toJSONString()"));
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
