// What the user sees when node.dll is missing or incomplete. Each suite runs
// in a child whose program folder is set up for it.
#include <gtest/gtest.h>

#include "form/ControlIds.h"
#include "tests/webview/WebViewTestSupport.h"

using namespace std::chrono_literals;

namespace {

// The one box that came, after a short wait to see that no second follows;
// a failure and an empty box when not exactly one came.
MessageBoxWatcher::Box TheOneBox(const MessageBoxWatcher& watcher)
{
    PumpUntil([&] { return !watcher.Boxes().empty(); }, 5s);
    PumpFor(300ms);
    const std::vector<MessageBoxWatcher::Box> boxes = watcher.Boxes();
    EXPECT_EQ(1u, boxes.size()) << "boxes shown";
    return boxes.size() == 1 ? boxes[0] : MessageBoxWatcher::Box{};
}

std::vector<MessageBoxWatcher::Box> BoxesAfterAWhile(const MessageBoxWatcher& watcher)
{
    PumpFor(1s);
    return watcher.Boxes();
}

// The program folder holds an engine that lacks wkeSetCspCheckEnable.
TEST(LackingEngine, OneBoxNamesTheMissingEntryAndTheRestWorks)
{
    MessageBoxWatcher watcher;
    TestForm form;
    ASSERT_TRUE(form.AddWebView(TestUnitId));
    const MessageBoxWatcher::Box box = TheOneBox(watcher);
    EXPECT_EQ(L"请使用配套的node.dll", box.caption);
    EXPECT_EQ(L"\"wkeSetCspCheckEnable\"命令未找到,请使用发布时配套或更高版本的node.dll", box.text);

    LoadRecorder loads(TestFormId, TestUnitId);
    WebViewNavigate(TestFormId, TestUnitId, WebViewKindCode, "http://127.0.0.1/works");
    ASSERT_TRUE(loads.WaitFor(1, 5s));
    EXPECT_EQ("http://127.0.0.1/works", loads.Records()[0].url);

    // A second view neither binds again nor repeats the box.
    ASSERT_TRUE(form.AddWebView(TestUnitId + 1, 400, 10));
    EXPECT_EQ(1u, BoxesAfterAWhile(watcher).size());
}

// No node.dll beside the program; the working directory holds one that must
// not be picked up.
TEST(NoEngine, OneBoxNoViewAndNothingLoadedFromTheWorkingDirectory)
{
    wchar_t workingDir[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, workingDir);
    std::wstring planted = std::wstring(workingDir) + L"\\node.dll";
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(planted.c_str())) << "the working directory holds a node.dll";

    MessageBoxWatcher watcher;
    TestForm form;
    EXPECT_FALSE(form.AddWebView(TestUnitId));
    const MessageBoxWatcher::Box box = TheOneBox(watcher);
    EXPECT_EQ(L"错误", box.caption);
    EXPECT_EQ(L"请把node.dll放在[" + ProgramFolderPath() + L"node.dll]位置", box.text);

    EXPECT_EQ(nullptr, GetModuleHandleW(L"node.dll"));
    EXPECT_EQ(0, WebViewHostCount(form.Handle()));
    LoadRecorder loads(TestFormId, TestUnitId);
    WebViewNavigate(TestFormId, TestUnitId, WebViewKindCode, "http://127.0.0.1/nothing");
    EXPECT_EQ("", WebViewGetPageSource(TestFormId, TestUnitId, WebViewKindCode));
    PumpFor(200ms);
    EXPECT_EQ(0u, loads.Records().size());

    // Creating another view does not ask again.
    EXPECT_FALSE(form.AddWebView(TestUnitId + 1));
    EXPECT_EQ(1u, BoxesAfterAWhile(watcher).size());
    EXPECT_EQ(nullptr, GetModuleHandleW(L"node.dll"));
}

// No node.dll beside the program, but one in a folder of the DLL search
// path: after the box, the engine is loaded from there by name.
TEST(FallbackEngine, ALibraryOnTheSearchPathIsLoadedByName)
{
    std::wstring searchDir = EnvironmentText(L"KELVORA_WEBVIEW_SEARCH_DIR");
    ASSERT_FALSE(searchDir.empty());
    ASSERT_TRUE(AddDllDirectory(searchDir.c_str()));
    MessageBoxWatcher watcher;
    TestForm form;
    ASSERT_TRUE(form.AddWebView(TestUnitId));
    const MessageBoxWatcher::Box box = TheOneBox(watcher);
    EXPECT_EQ(L"请把node.dll放在[" + ProgramFolderPath() + L"node.dll]位置", box.text);
    LoadRecorder loads(TestFormId, TestUnitId);
    WebViewNavigate(TestFormId, TestUnitId, WebViewKindCode, "http://127.0.0.1/fallback");
    ASSERT_TRUE(loads.WaitFor(1, 5s));
}

} // namespace
