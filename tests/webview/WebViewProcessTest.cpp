// The web view looks for node.dll beside the program, so each group of tests
// runs in a child copy of this program in a folder set up for it: a stand-in
// engine that records calls, one lacking an entry point, or no engine at all
// (the real engine's groups are in LiveEngineTest.cpp).
#include <gtest/gtest.h>

#include "tests/webview/WebViewTestSupport.h"

namespace {

TEST(WebViewProcess, StandInEngineBesideTheProgram)
{
    ProgramFolder folder;
    ASSERT_TRUE(folder.CopyIn(WindowsPathOf(KELVORA_FAKE_ENGINE), L"node.dll"));
    ExpectChildPasses(folder, L"FakeEngine*");
}

// A program folder whose name code page 936 cannot hold: the engine still
// gets the real directories.
TEST(WebViewProcess, ProgramFolderNameOutsideCodePage936)
{
    ProgramFolder folder(L"한글 程序");
    ASSERT_TRUE(folder.CopyIn(WindowsPathOf(KELVORA_FAKE_ENGINE), L"node.dll"));
    ExpectChildPasses(folder, L"WidePath.*");
}

TEST(WebViewProcess, EngineLackingAnEntryPoint)
{
    ProgramFolder folder;
    ASSERT_TRUE(folder.CopyIn(WindowsPathOf(KELVORA_FAKE_ENGINE_LACKING), L"node.dll"));
    ExpectChildPasses(folder, L"LackingEngine.*");
}

TEST(WebViewProcess, NoEngineBesideTheProgram)
{
    ProgramFolder folder;
    ProgramFolder workingDir;
    ASSERT_TRUE(workingDir.CopyIn(WindowsPathOf(KELVORA_FAKE_ENGINE), L"node.dll"));
    ExpectChildPasses(folder, L"NoEngine.*", workingDir.Path());
}

TEST(WebViewProcess, EngineOnlyOnTheSearchPath)
{
    ProgramFolder folder;
    ProgramFolder searchDir;
    ASSERT_TRUE(searchDir.CopyIn(WindowsPathOf(KELVORA_FAKE_ENGINE), L"node.dll"));
    SetEnvironmentVariableW(L"KELVORA_WEBVIEW_SEARCH_DIR", searchDir.Path().c_str());
    ExpectChildPasses(folder, L"FallbackEngine.*");
    SetEnvironmentVariableW(L"KELVORA_WEBVIEW_SEARCH_DIR", nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    // A plain run is the parent: it runs the child groups in their folders.
    if (!IsChildRun() && GTEST_FLAG_GET(filter) == "*")
        GTEST_FLAG_SET(filter, "WebViewProcess.*");
    return RUN_ALL_TESTS();
}
