#include <string>

#include <gtest/gtest.h>

#include "json/JsonLiteral.h"

namespace {

std::u16string Wide(const std::string& ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

bool Evaluable(const std::string& ascii)
{
    return IsEvaluableLiteral(Wide(ascii));
}

TEST(JsonLiteral, AcceptsJsonValues)
{
    for (const char* text : {"{}", "[]", "null", "true", "false", "0", "-1.5e-3", "[\"\"]", "[\"a\\u00e9\\n\"]",
                             " { \"a\" : [1, {\"b\": null}], \"c\": \"x\\\"y\" } ", "[[[]]]", "\t\r\n[1]\n"}) {
        EXPECT_TRUE(Evaluable(text)) << text;
    }
}

TEST(JsonLiteral, AcceptsScriptStyleDataLiterals)
{
    for (const char* text : {"{title:'abc'}", "{'a':1,$b_2:+3,_:.5}", "{1:2, 2.5:'x'}", "['it\\'s', \"q'\"]",
                             "{a:'\\x41\\/'}", "+.5e+2", "{if:1}"}) {
        EXPECT_TRUE(Evaluable(text)) << text;
    }
}

TEST(JsonLiteral, RefusesAnythingThatRuns)
{
    for (const char* text : {"", "   ", "alert(1)", "new ActiveXObject('Scripting.FileSystemObject')",
                             "(function(){for(;;){}})()", "{a:b}", "[1,x]", "{a:1}+1", "1,2", "(1)", "[1]//",
                             "[1]/*x*/", "{a:1}.a", "[1][0]", "{a:function(){}}", "{get a(){return 1}}",
                             "Infinity", "NaN", "undefined", "0x10", "1a", "1.2.3", "- 1", "--1", "[1,]", "[,1]",
                             "{,}", "{a:1,}", "{a}", "{\"a\" 1}", "[1 2]", "'a", "\"a", "{", "]", "{]", "[}",
                             "truex", "nul", "\"a\"\"b\"", "'\\v'", "'\\0'", "'\\1'", "'\\u12'", "'\\x4'",
                             "'\\q'", "{-1:2}", "{a-b:1}"}) {
        EXPECT_FALSE(Evaluable(text)) << text;
    }
}

TEST(JsonLiteral, RefusesLineBreaksAndControlsInsideStrings)
{
    EXPECT_FALSE(Evaluable("'a\nb'"));
    EXPECT_FALSE(Evaluable("'a\\\nb'"));
    EXPECT_FALSE(Evaluable(std::string("'a\x01'")));
    EXPECT_FALSE(IsEvaluableLiteral(u"'a\u2028b'"));
    EXPECT_FALSE(IsEvaluableLiteral(std::u16string(u"[0,'a") + char16_t(0) + u"']"));
    EXPECT_TRUE(Evaluable("['a\tb']"));
    EXPECT_TRUE(IsEvaluableLiteral(u"{\u7b54:'\u6848'}") == false);
    EXPECT_TRUE(IsEvaluableLiteral(u"{'\u7b54':'\u6848'}"));
}

// A string at the top is run once more by eval: its content must be data too.
TEST(JsonLiteral, LooksIntoATopLevelString)
{
    EXPECT_TRUE(Evaluable("\"{a:1}\""));
    EXPECT_TRUE(Evaluable("\"'inner'\""));
    EXPECT_TRUE(Evaluable("'[1,\"x\"]'"));
    EXPECT_TRUE(Evaluable("\"\\\"alert(1)\\\"\""));
    EXPECT_FALSE(Evaluable("\"\""));
    EXPECT_FALSE(Evaluable("\"alert(1)\""));
    EXPECT_FALSE(Evaluable("\"while(1){}\""));
    EXPECT_FALSE(Evaluable("'\\x61lert(1)'"));
    EXPECT_FALSE(Evaluable("\"\\u0061lert(1)\""));
    EXPECT_FALSE(Evaluable("\"'a' + alert(1)\""));
    // Only the top level is looked into: inner strings stay plain values.
    EXPECT_TRUE(Evaluable("[\"alert(1)\"]"));
}

TEST(JsonLiteral, BoundsNesting)
{
    std::string limit = std::string(kMaxLiteralDepth, '[') + std::string(kMaxLiteralDepth, ']');
    EXPECT_TRUE(Evaluable(limit));
    EXPECT_FALSE(Evaluable("[" + limit + "]"));
    std::string objects;
    for (size_t i = 0; i < kMaxLiteralDepth; ++i)
        objects += "{a:";
    objects += "1" + std::string(kMaxLiteralDepth, '}');
    EXPECT_TRUE(Evaluable(objects));
    EXPECT_FALSE(Evaluable("{b:" + objects + "}"));
}

}
