#include <windows.h>

#include <gtest/gtest.h>

#include "json/JsonDocument.h"

namespace {

TEST(JsonDocumentParse, NewDocumentHoldsAnEmptyObject)
{
    JsonDocument doc;
    EXPECT_EQ("da", doc.VariableName);
    EXPECT_EQ("{}", doc.ToText());
    EXPECT_EQ(JsonObject, doc.GetType());
}

TEST(JsonDocumentParse, ObjectsAndScriptStyleLiterals)
{
    JsonDocument doc;
    EXPECT_TRUE(doc.Parse("{\"title\":\"t1\",\"answer\":\"a\"}"));
    EXPECT_EQ("t1", doc.GetText("title"));
    EXPECT_TRUE(doc.Parse("{title:'abc', n: -1.5, 'q':[1]}"));
    EXPECT_EQ("abc", doc.GetText("title"));
    EXPECT_EQ("-1.5", doc.GetText("n"));
    EXPECT_EQ("[1]", doc.GetText("q", true));
    EXPECT_TRUE(doc.Parse("0"));
    EXPECT_TRUE(doc.Parse("false"));
}

TEST(JsonDocumentParse, NullEmptyAndEmptyStringGiveFalse)
{
    JsonDocument doc;
    for (const char* text : {"null", "", "\"\"", "   "}) {
        SCOPED_TRACE(text);
        ASSERT_TRUE(doc.Parse("{\"a\":\"x\"}"));
        EXPECT_FALSE(doc.Parse(text));
        EXPECT_EQ("", doc.GetText("a"));
        EXPECT_FALSE(doc.HasMember("a"));
        EXPECT_EQ(JsonOther, doc.GetType("a"));
        EXPECT_EQ(JsonNull, doc.GetType());
    }
}

TEST(JsonDocumentParse, TopLevelStringIsReadAsItsContent)
{
    JsonDocument doc;
    EXPECT_TRUE(doc.Parse("\"[1,2]\""));
    EXPECT_EQ(JsonArray, doc.GetType());
    EXPECT_EQ(2, doc.GetCount());
    EXPECT_TRUE(doc.Parse("\"'inner'\""));
    EXPECT_EQ("\"inner\"", doc.ToText());
}

TEST(JsonDocumentParse, ChineseTextsRoundTrip)
{
    JsonDocument doc;
    ASSERT_TRUE(doc.Parse("{\"escaped\":\"\\u7b54\\u6848\",\"raw\":\"\xB4\xF0\xB0\xB8\",\"thai\":\"\\u0e01\"}"));
    EXPECT_EQ("\xB4\xF0\xB0\xB8", doc.GetText("escaped"));
    EXPECT_EQ("\xB4\xF0\xB0\xB8", doc.GetText("raw"));
    EXPECT_EQ("?", doc.GetText("thai"));
}

TEST(JsonDocumentRead, GetTextOfNumbersAndAbsentValues)
{
    JsonDocument doc;
    ASSERT_TRUE(doc.Parse("{\"five\":5,\"quarter\":0.25,\"sum\":0.30000000000000004,\"big\":1e21,\"z\":null,"
                          "\"list\":[\"p\",7]}"));
    EXPECT_EQ("5", doc.GetText("five"));
    EXPECT_EQ("0.25", doc.GetText("quarter"));
    EXPECT_EQ("0.3", doc.GetText("sum"));
    EXPECT_EQ("1e+21", doc.GetText("big"));
    EXPECT_EQ("", doc.GetText("missing"));
    EXPECT_EQ("", doc.GetText("z"));
    EXPECT_EQ("", doc.GetText("missing.deeper"));
    EXPECT_EQ("p", doc.GetText("list[0]"));
    EXPECT_EQ("7", doc.GetArrayItemText(1, "list"));
    EXPECT_EQ("\"p\"", doc.GetArrayItemText(0, "list", true));
    EXPECT_EQ(5, doc.GetNumber("five"));
}

TEST(JsonDocumentRead, KindsOfValues)
{
    JsonDocument doc;
    ASSERT_TRUE(doc.Parse("{\"arr\":[],\"obj\":{},\"s\":\"x\",\"n\":1,\"b\":true,\"z\":null}"));
    EXPECT_EQ(JsonArray, doc.GetType("arr"));
    EXPECT_EQ(JsonObject, doc.GetType("obj"));
    EXPECT_EQ(JsonString, doc.GetType("s"));
    EXPECT_EQ(JsonNumber, doc.GetType("n"));
    EXPECT_EQ(JsonBoolean, doc.GetType("b"));
    EXPECT_EQ(JsonNull, doc.GetType("z"));
    EXPECT_EQ(JsonNull, doc.GetType("missing"));
    EXPECT_EQ(JsonObject, doc.GetType());
    doc.SetMember("f", "(function(){})", true);
    EXPECT_EQ(JsonOther, doc.GetType("f"));
    // The root is classified like a member.
    doc.Reset(JsonArray);
    EXPECT_EQ(JsonArray, doc.GetType());
}

TEST(JsonDocumentRead, CountsAndNames)
{
    JsonDocument doc;
    ASSERT_TRUE(doc.Parse("{\"a\":1,\"b\":{\"x\":1,\"y\":2,\"z\":3},\"e\":[],\"l\":[4,5]}"));
    EXPECT_EQ(4, doc.GetCount());
    EXPECT_EQ(3, doc.GetCount("b"));
    EXPECT_EQ(0, doc.GetCount("e"));
    EXPECT_EQ(2, doc.GetCount("l"));

    std::vector<AnsiText> names = {"stale"};
    EXPECT_EQ(4, doc.GetMemberNames(names));
    EXPECT_EQ((std::vector<AnsiText>{"a", "b", "e", "l"}), names);
    EXPECT_EQ(3, doc.GetMemberNames(names, "b"));
    EXPECT_EQ((std::vector<AnsiText>{"x", "y", "z"}), names);
    EXPECT_EQ(0, doc.GetMemberNames(names, "e"));
    EXPECT_TRUE(names.empty());

    ASSERT_TRUE(doc.Parse("{}"));
    names = {"stale"};
    EXPECT_EQ(0, doc.GetMemberNames(names));
    EXPECT_TRUE(names.empty());
}

TEST(JsonDocumentRead, HasMemberTreatsNullAsAbsent)
{
    JsonDocument doc;
    ASSERT_TRUE(doc.Parse("{\"z\":null,\"zero\":0,\"o\":{\"inner\":false}}"));
    EXPECT_FALSE(doc.HasMember("z"));
    EXPECT_FALSE(doc.HasMember("missing"));
    EXPECT_FALSE(doc.HasMember(""));
    EXPECT_TRUE(doc.HasMember("zero"));
    EXPECT_TRUE(doc.HasMember("o.inner"));
}

TEST(JsonDocumentWrite, MembersAndArrays)
{
    JsonDocument doc;
    ASSERT_TRUE(doc.Parse("{\"a\":5,\"list\":[1,2,3]}"));
    doc.ArrayAppend("x", "a");
    EXPECT_EQ("[\"x\"]", doc.GetText("a", true));
    doc.ArrayAppend("{\"k\":1}", "a", true);
    EXPECT_EQ("[\"x\",{\"k\":1}]", doc.GetText("a", true));

    doc.RemoveItem("list[1]");
    EXPECT_EQ("[1,3]", doc.GetText("list", true));

    doc.SetMember("m", "", true);
    EXPECT_EQ("{}", doc.GetMemberJson("m"));
    doc.SetMember("s", "plain");
    EXPECT_EQ("plain", doc.GetText("s"));
    doc.SetMember("bad", "it's");
    EXPECT_FALSE(doc.HasMember("bad"));
    doc.SetMemberJson("j", "[true]");
    EXPECT_EQ("[true]", doc.GetMemberJson("j"));
    doc.SetMemberNumber("n", 1.0 / 3.0);
    EXPECT_EQ("0.3333333333333", doc.GetText("n"));
}

TEST(JsonDocumentWrite, RootOperations)
{
    JsonDocument doc;
    doc.Reset(3);
    EXPECT_EQ("{}", doc.ToText());
    doc.Reset(JsonArray);
    EXPECT_EQ("[]", doc.ToText());
    doc.SetRootItem(0, "a");
    doc.SetRootItem(1, "2", true);
    doc.SetRootItem(2, "c");
    EXPECT_EQ("[\"a\",2,\"c\"]", doc.ToText());
    doc.RemoveRootItem(1);
    EXPECT_EQ("[\"a\",\"c\"]", doc.ToText());
    EXPECT_EQ("c", doc.GetText("[1]"));
    doc.Reset(42);
    EXPECT_EQ("[\"a\",\"c\"]", doc.ToText());
    doc.SetRoot("{\"r\":1}", true);
    EXPECT_EQ("{\"r\":1}", doc.ToText());
    doc.Clear();
    EXPECT_EQ("{}", doc.ToText());
    doc.Reset(JsonNull);
    EXPECT_EQ("{}", doc.ToText());
}

TEST(JsonDocumentCopy, SharesStateUntilParse)
{
    JsonDocument first;
    ASSERT_TRUE(first.Parse("{\"v\":1}"));
    JsonDocument second = first;
    second.SetMember("added", "yes");
    EXPECT_EQ("yes", first.GetText("added"));

    ASSERT_TRUE(second.Parse("{\"v\":2}"));
    EXPECT_EQ("yes", first.GetText("added"));
    EXPECT_EQ("1", first.GetText("v"));
    EXPECT_EQ("", second.GetText("added"));
    first.SetMember("later", "x");
    EXPECT_FALSE(second.HasMember("later"));
}

TEST(JsonDocumentCopy, SubDocumentsAreIndependent)
{
    JsonDocument doc;
    ASSERT_TRUE(doc.Parse("{\"o\":{\"a\":1,\"f\":null},\"list\":[{\"n\":\"first\"},{\"n\":\"second\"}]}"));
    JsonDocument sub = doc.GetObject("o");
    EXPECT_EQ("1", sub.GetText("a"));
    sub.SetMember("a", "changed");
    EXPECT_EQ("1", doc.GetText("o.a"));
    JsonDocument item = doc.GetArrayItem(1, "list");
    EXPECT_EQ("second", item.GetText("n"));
    EXPECT_EQ("{\"n\":\"first\"}", doc.GetObject("list[0]").ToText());
}

struct CopyOutcome {
    AnsiText text;
    bool apartmentOpen = false;
};

// Runs on a thread of its own, so that only the documents hold its apartment.
DWORD WINAPI UseCopyAfterSourceIsGone(void* param)
{
    auto* out = static_cast<CopyOutcome*>(param);
    auto* source = new JsonDocument;
    source->SetMember("k", "kept");
    JsonDocument copy = *source;
    delete source;
    HRESULT probe = CoInitialize(nullptr);
    out->apartmentOpen = probe == S_FALSE;
    if (SUCCEEDED(probe))
        CoUninitialize();
    out->text = copy.GetText("k");
    return 0;
}

// A copy keeps the thread's apartment open for the engine it shares, even when
// the document that created the engine goes first.
TEST(JsonDocumentCopy, CopyOutlivesItsSource)
{
    CopyOutcome outcome;
    HANDLE thread = CreateThread(nullptr, 0, UseCopyAfterSourceIsGone, &outcome, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
    CloseHandle(thread);
    EXPECT_TRUE(outcome.apartmentOpen);
    EXPECT_EQ("kept", outcome.text);
}

} // namespace
