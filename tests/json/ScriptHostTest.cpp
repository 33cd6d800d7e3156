#include <windows.h>

#include <gtest/gtest.h>

#include "json/ScriptHost.h"

namespace {

const AnsiText ScriptControlProgId = "MSScriptControl.ScriptControl";

// Every test runs in its own apartment, as the window's thread does.
class ScriptHostTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    void TearDown() override { CoUninitialize(); }

    static ScriptHost NewEngine()
    {
        ScriptHost host;
        EXPECT_TRUE(host.CreateObject(ScriptControlProgId));
        EXPECT_TRUE(host.WriteProperty("Language", AnsiText("JavaScript")));
        return host;
    }

    static AnsiText EvalText(ScriptHost& host, const AnsiText& script)
    {
        return host.CallMethod("Eval", script, ResultKind::Text).text;
    }
};

TEST_F(ScriptHostTest, HandleIsEmptyUntilCreatedAndAfterRelease)
{
    ScriptHost host;
    EXPECT_TRUE(host.IsEmpty());
    ASSERT_TRUE(host.CreateObject(ScriptControlProgId));
    EXPECT_FALSE(host.IsEmpty());
    host.Release();
    EXPECT_TRUE(host.IsEmpty());
    host.Release();
    EXPECT_TRUE(host.IsEmpty());
}

TEST_F(ScriptHostTest, FailedCreateKeepsTheObjectHeld)
{
    ScriptHost host = NewEngine();
    EXPECT_TRUE(host.CallMethod("Eval", "var kept=7", ResultKind::None).ok);
    EXPECT_FALSE(host.CreateObject("Kelvora.NoSuchObject"));
    EXPECT_FALSE(host.CreateObject("{00000000-0000-0000-0000-000000000001}"));
    EXPECT_FALSE(host.CreateObject(""));
    EXPECT_FALSE(host.IsEmpty());
    EXPECT_EQ("7", EvalText(host, "kept"));
}

TEST_F(ScriptHostTest, CopiesShareOneEngine)
{
    ScriptHost first = NewEngine();
    ScriptHost second = first;
    EXPECT_TRUE(second.CallMethod("Eval", "var shared='yes'", ResultKind::None).ok);
    EXPECT_EQ("yes", EvalText(first, "shared"));
    first.Release();
    EXPECT_EQ("yes", EvalText(second, "shared"));

    ScriptHost moved = std::move(second);
    EXPECT_TRUE(second.IsEmpty());
    EXPECT_EQ("yes", EvalText(moved, "shared"));
}

TEST_F(ScriptHostTest, EmptyHandleFailsEveryCall)
{
    ScriptHost host;
    EXPECT_FALSE(host.WriteProperty("Language", AnsiText("JavaScript")));
    ScriptResult result = host.CallMethod("Eval", "1", ResultKind::Number);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(0, result.number);
}

TEST_F(ScriptHostTest, WritesOnlyPropertiesThatExist)
{
    ScriptHost host;
    ASSERT_TRUE(host.CreateObject(ScriptControlProgId));
    EXPECT_TRUE(host.WriteProperty("UseSafeSubset", true));
    EXPECT_TRUE(host.WriteProperty("AllowUI", false));
    EXPECT_TRUE(host.WriteProperty("Timeout", 5000L));
    EXPECT_TRUE(host.WriteProperty("Language", AnsiText("JavaScript")));
    EXPECT_FALSE(host.WriteProperty("NoSuchProperty", AnsiText("x")));
    EXPECT_FALSE(host.CallMethod("NoSuchMethod", "1", ResultKind::None).ok);
}

TEST_F(ScriptHostTest, EvalGivesTheCompletionValue)
{
    ScriptHost host = NewEngine();
    EXPECT_EQ("pass2", EvalText(host, "var s=''; for (var i=0;i<3;i++) {s='pass'+i;}"));
    EXPECT_EQ(0.25, host.CallMethod("Eval", "1/4", ResultKind::Number).number);
    EXPECT_TRUE(host.CallMethod("Eval", "1==1", ResultKind::Boolean).boolean);
    ScriptResult variant = host.CallMethod("Eval", "'v'", ResultKind::Variant);
    EXPECT_TRUE(variant.ok);
    EXPECT_EQ(VT_BSTR, variant.variant.Get()->vt);
}

TEST_F(ScriptHostTest, GlobalsPersistPerEngineOnly)
{
    ScriptHost host = NewEngine();
    EXPECT_TRUE(host.CallMethod("Eval", "var carried='here'", ResultKind::None).ok);
    EXPECT_TRUE(host.CallMethod("AddCode", "unDeclared=3", ResultKind::None).ok);
    EXPECT_EQ("here", EvalText(host, "carried"));
    EXPECT_EQ(3, host.CallMethod("Eval", "unDeclared", ResultKind::Number).number);

    ScriptHost other = NewEngine();
    EXPECT_EQ("undefined", EvalText(other, "typeof carried"));
}

TEST_F(ScriptHostTest, FailedScriptsGiveEmptyResults)
{
    ScriptHost host = NewEngine();
    EXPECT_TRUE(host.CallMethod("Eval", "var y=1", ResultKind::None).ok);
    ScriptResult syntax = host.CallMethod("Eval", "y=2; (", ResultKind::Text);
    EXPECT_FALSE(syntax.ok);
    EXPECT_EQ("", syntax.text);
    EXPECT_EQ("1", EvalText(host, "y"));

    // A run-time error keeps what ran before it.
    EXPECT_FALSE(host.CallMethod("Eval", "y=3; null.x", ResultKind::Text).ok);
    EXPECT_EQ("3", EvalText(host, "y"));

    // null and undefined convert to the empty result of every kind.
    EXPECT_FALSE(host.CallMethod("Eval", "null", ResultKind::Text).ok);
    EXPECT_EQ("", EvalText(host, "undefined"));
    EXPECT_EQ(0, host.CallMethod("Eval", "undefined", ResultKind::Number).number);
    EXPECT_FALSE(host.CallMethod("Eval", "undefined", ResultKind::Boolean).boolean);
}

TEST_F(ScriptHostTest, TextsCrossInCodePage936)
{
    ScriptHost host = NewEngine();
    // 答案 is B4 F0 B0 B8 in code page 936, U+7B54 U+6848 in UTF-16.
    EXPECT_EQ("\xB4\xF0\xB0\xB8", EvalText(host, "'\\u7b54\\u6848'"));
    EXPECT_EQ("7b54,6848", EvalText(host, "var t='\xB4\xF0\xB0\xB8'; t.charCodeAt(0).toString(16)+','+"
                                          "t.charCodeAt(1).toString(16)"));
    // Thai has no place in code page 936: its default character comes back.
    EXPECT_EQ("a?b", EvalText(host, "'a'+String.fromCharCode(0x0E01)+'b'"));
    // A zero character ends the text rather than putting a zero byte in it.
    EXPECT_EQ("ab", EvalText(host, "'ab'+String.fromCharCode(0)+'cd'"));
}

TEST_F(ScriptHostTest, ConfinedEngineCannotReachTheSystem)
{
    char path[MAX_PATH];
    DWORD cch = GetTempPathA(MAX_PATH, path);
    ASSERT_GT(cch, 0u);
    AnsiText target = AnsiText(path) + "kelvora_confined_probe.txt";
    DeleteFileA(target.c_str());
    AnsiText escaped;
    for (char c : target)
        escaped += c == '\\' ? AnsiText("\\\\") : AnsiText(1, c);

    ScriptHost host;
    ASSERT_TRUE(host.CreateObject(ScriptControlProgId));
    ASSERT_TRUE(host.WriteProperty("UseSafeSubset", true));
    ASSERT_TRUE(host.WriteProperty("Language", AnsiText("JavaScript")));
    ScriptResult result = host.CallMethod("AddCode",
                                          "var f=new ActiveXObject('Scripting.FileSystemObject').CreateTextFile('" +
                                              escaped + "',true); f.Close();",
                                          ResultKind::None);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(target.c_str())) << "the script wrote " << target;
    DeleteFileA(target.c_str());
}

} // namespace
