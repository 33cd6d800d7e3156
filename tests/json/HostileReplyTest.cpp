#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "json/JsonDocument.h"

namespace {

struct ParseOutcome {
    AnsiText reply;
    bool finished = false;
    bool parsed = true;
    AnsiText textAfter;
};

DWORD WINAPI ParseInFreshDocument(void* param)
{
    auto* out = static_cast<ParseOutcome*>(param);
    JsonDocument doc;
    out->parsed = doc.Parse(out->reply);
    out->textAfter = doc.ToText();
    return 0;
}

// Parses a reply in a fresh document on its own thread, as the window's
// thread would, and waits a bounded time: a hang fails the test instead of
// stalling the run.
ParseOutcome ParseOnThread(const AnsiText& reply, DWORD limitMs)
{
    ParseOutcome outcome;
    outcome.reply = reply;
    HANDLE thread = CreateThread(nullptr, 0, ParseInFreshDocument, &outcome, 0, nullptr);
    if (!thread)
        return outcome;
    outcome.finished = WaitForSingleObject(thread, limitMs) == WAIT_OBJECT_0;
    if (!outcome.finished) {
        // The thread is stuck in the engine; leave it to process exit.
        ADD_FAILURE() << "Parse did not return within " << limitMs << " ms";
        CloseHandle(thread);
        return ParseOutcome{};
    }
    CloseHandle(thread);
    return outcome;
}

AnsiText ProbeFilePath()
{
    char dir[MAX_PATH];
    DWORD cch = GetTempPathA(MAX_PATH, dir);
    return cch ? AnsiText(dir) + "kelvora_reply_probe.txt" : AnsiText("C:\\kelvora_reply_probe.txt");
}

AnsiText ScriptPath(const AnsiText& path)
{
    AnsiText escaped;
    for (char c : path)
        escaped += c == '\\' ? AnsiText("\\\\") : AnsiText(1, c);
    return escaped;
}

TEST(HostileReply, ScriptInARepliesNeverRuns)
{
    AnsiText probe = ProbeFilePath();
    AnsiText write = "new ActiveXObject('Scripting.FileSystemObject').CreateTextFile('" + ScriptPath(probe) + "',true)";
    for (const AnsiText& reply :
         {write, "{a:" + write + "}", "[1," + write + "]", "(" + write + ")", "\"" + write + "\"", "'" + write + "'"}) {
        SCOPED_TRACE(reply);
        DeleteFileA(probe.c_str());
        ParseOutcome outcome = ParseOnThread(reply, 5000);
        EXPECT_TRUE(outcome.finished);
        EXPECT_FALSE(outcome.parsed);
        EXPECT_EQ("null", outcome.textAfter);
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(probe.c_str())) << "the reply wrote " << probe;
    }
    DeleteFileA(probe.c_str());
}

TEST(HostileReply, EndlessLoopsReturnPromptly)
{
    for (const AnsiText& reply : {AnsiText("(function(){for(;;){}})()"), AnsiText("\"while(true){}\""),
                                  AnsiText("{a:(function(){while(1){}})()}")}) {
        SCOPED_TRACE(reply);
        DWORD start = GetTickCount();
        ParseOutcome outcome = ParseOnThread(reply, 5000);
        EXPECT_TRUE(outcome.finished);
        EXPECT_FALSE(outcome.parsed);
        EXPECT_LT(GetTickCount() - start, 1000u);
    }
}

TEST(HostileReply, DeepNestingNeitherCrashesNorStalls)
{
    const size_t megabyte = 1 << 20;
    DWORD start = GetTickCount();
    ParseOutcome open = ParseOnThread(AnsiText(megabyte, '['), 5000);
    EXPECT_TRUE(open.finished);
    EXPECT_FALSE(open.parsed);

    ParseOutcome balanced = ParseOnThread(AnsiText(megabyte / 2, '[') + AnsiText(megabyte / 2, ']'), 5000);
    EXPECT_TRUE(balanced.finished);
    EXPECT_FALSE(balanced.parsed);
    EXPECT_LT(GetTickCount() - start, 2000u);
}

TEST(HostileReply, NestingUpToTheLimitStillParses)
{
    const size_t depth = 512;
    AnsiText nested = AnsiText(depth - 1, '[') + "\"deep\"" + AnsiText(depth - 1, ']');
    ParseOutcome outcome = ParseOnThread(nested, 10000);
    EXPECT_TRUE(outcome.finished);
    EXPECT_TRUE(outcome.parsed);
    EXPECT_EQ(nested, outcome.textAfter);
}

} // namespace
