#include <optional>
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
    for (const char* text : {"",
                             "   ",
                             "alert(1)",
                             "new ActiveXObject('Scripting.FileSystemObject')",
                             "(function(){for(;;){}})()",
                             "{a:b}",
                             "[1,x]",
                             "{a:1}+1",
                             "1,2",
                             "(1)",
                             "[1]//",
                             "[1]/*x*/",
                             "{a:1}.a",
                             "[1][0]",
                             "{a:function(){}}",
                             "{get a(){return 1}}",
                             "Infinity",
                             "NaN",
                             "undefined",
                             "0x10",
                             "1a",
                             "1.2.3",
                             "- 1",
                             "--1",
                             "[1,]",
                             "[,1]",
                             "{,}",
                             "{a:1,}",
                             "{a}",
                             "{\"a\" 1}",
                             "[1 2]",
                             "'a",
                             "\"a",
                             "{",
                             "]",
                             "{]",
                             "[}",
                             "truex",
                             "nul",
                             "\"a\"\"b\"",
                             "'\\v'",
                             "'\\0'",
                             "'\\1'",
                             "'\\u12'",
                             "'\\x4'",
                             "'\\q'",
                             "{-1:2}",
                             "{a-b:1}"}) {
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
    std::string limit = std::string(MaxLiteralDepth, '[') + std::string(MaxLiteralDepth, ']');
    EXPECT_TRUE(Evaluable(limit));
    EXPECT_FALSE(Evaluable("[" + limit + "]"));
    std::string objects;
    for (size_t i = 0; i < MaxLiteralDepth; ++i)
        objects += "{a:";
    objects += "1" + std::string(MaxLiteralDepth, '}');
    EXPECT_TRUE(Evaluable(objects));
    EXPECT_FALSE(Evaluable("{b:" + objects + "}"));
}

// What the engine is given in place of the text: numbers in their canonical
// form, everything else as it came.
std::u16string EvaluableOf(const std::string& ascii)
{
    std::optional<std::u16string> evaluable = EvaluableLiteral(Wide(ascii));
    return evaluable ? *evaluable : u"(refused)";
}

TEST(JsonLiteral, NumbersReachTheEngineInTheirShortestForm)
{
    EXPECT_EQ(u"{\"a\": [1, 2.5, 'x']}", EvaluableOf("{\"a\": [1, 2.5, 'x']}"));
    EXPECT_EQ(u"[0,0,0,0]", EvaluableOf("[0e1,-0e1,0E+1,-0]"));
    EXPECT_EQ(u"[100,0.01,1.5,0.5,1]", EvaluableOf("[1E+02,1e-2,+1.50,.5,1.]"));
    EXPECT_EQ(u"[1e999,-1e999,0]", EvaluableOf("[1e2147483650,-1e400,1e-2147483650]"));
    EXPECT_EQ(u"[1e+21,1.2345678901234568e+29]", EvaluableOf("[1e21,123456789012345678901234567890]"));
    EXPECT_EQ(u"{100:1, 2.5:'x'}", EvaluableOf("{1e2:1, 2.50:'x'}"));
    // A text of digits far beyond any double stays linear and reads as one.
    EXPECT_EQ(u"[1e999]", EvaluableOf("[1" + std::string(100000, '0') + "]"));
    EXPECT_EQ(u"[0.1]", EvaluableOf("[0." + std::string(100000, '0') + "1e100000]"));
}

TEST(JsonLiteral, RefusesNumbersEnginesReadDifferently)
{
    for (const char* text : {"[012]", "[-01]", "[00]", "[00.5]", "{012:1}", "[1e-300]", "[-5e-324]", "[1e-310]"})
        EXPECT_EQ(u"(refused)", EvaluableOf(text)) << text;
}

TEST(JsonLiteral, RefusesZerosLoneSurrogatesAndThePrototypeName)
{
    for (const char* text :
         {"{\"answer\":\"real\",\"answer\\u0000x\":\"spoof\"}", "['a\\x00']", "['\\ud800']", "['\\udc00\\ud800']",
          "['\\ud800\\ud800\\udc00']", "{\"__proto__\":{}}", "{__proto__:1}", "{'__pro\\x74o__':1}"})
        EXPECT_FALSE(Evaluable(text)) << text;
    EXPECT_FALSE(IsEvaluableLiteral(u"['\xD800']"));
    EXPECT_TRUE(IsEvaluableLiteral(u"['\xD83D\xDE00', '\\ud83d\\ude00', '\xD83D\\ude00']"));
    EXPECT_TRUE(Evaluable("{\"__proto\":1,\"proto__\":2,\"a\":\"__proto__\"}"));
}

// Numbers inside a string that eval runs once more are rewritten too; the
// string then holds the rewritten content.
TEST(JsonLiteral, RewritesNumbersInsideATopLevelString)
{
    EXPECT_EQ(u"\"[1e999]\"", EvaluableOf("'[1e2147483650]'"));
    EXPECT_EQ(u"\"{\\\"a\\\":0,\\\"b\\\":\\\"\\\\n\\\"}\"", EvaluableOf("\"{\\\"a\\\":0e1,\\\"b\\\":\\\"\\\\n\\\"}\""));
    EXPECT_EQ(u"'[1,2]'", EvaluableOf("'[1,2]'"));
    EXPECT_EQ(u"(refused)", EvaluableOf("'[012]'"));
}

} // namespace
