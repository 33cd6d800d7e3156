// Cookies live in the engine's own jar in the view's cookie directory: sent
// on later requests, and still there for a view in a new process.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/engine/EngineHarness.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ScratchDirectory.h"

namespace {

constexpr wchar_t ChildDirVar[] = L"KELVORA_ENGINE_CHILD_COOKIE_DIR";
constexpr char ChildUrlVar[] = "KELVORA_ENGINE_CHILD_URL";

// Runs this test program again with a filter and extra environment; its exit
// code, or -1 when it could not start or did not end in time (it is killed).
int RunChild(const std::string& filter, const std::wstring& cookieDir, const std::string& url)
{
    SetEnvironmentVariableW(ChildDirVar, cookieDir.c_str());
    SetEnvironmentVariableA(ChildUrlVar, url.c_str());
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine =
        L"\"" + std::wstring(self) + L"\" --gtest_filter=" + std::wstring(filter.begin(), filter.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const BOOL started =
        CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableW(ChildDirVar, nullptr);
    SetEnvironmentVariableA(ChildUrlVar, nullptr);
    if (!started)
        return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 5000);
    } else {
        GetExitCodeProcess(process.hProcess, &code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

class EngineCookies : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, EngineApi::Get());
        Reply set = Reply::Ok("<body>set</body>");
        set.headers.emplace_back("Set-Cookie", "sid=abc123; Path=/");
        set.headers.emplace_back("Set-Cookie", "pref=zh; Max-Age=3600; HttpOnly");
        set.headers.emplace_back("Set-Cookie", "narrow=1; Path=/private");
        server.AddRoute("/set", set);
        server.AddRoute("/check", Reply::Ok("<body>check</body>"));
        ASSERT_TRUE(server.Start());
    }
    LoopbackServer server;
};

TEST_F(EngineCookies, CookiesSetByOnePageAreSentWithTheNext)
{
    const ScratchDirectory scratch;
    const std::wstring cookieDir = scratch / L"cookie\u76ee\u5f55";
    const std::wstring storageDir = scratch / L"\u7f13\u5b58\\nested";
    ViewHarness view;
    view.Api().setCookieJarPath(view.View(), cookieDir.c_str());
    view.Api().setLocalStorageFullPath(view.View(), storageDir.c_str());
    EXPECT_TRUE(FileExists(storageDir)) << "the local storage directory is created";

    view.Load(server.Url("/set"));
    ASSERT_TRUE(view.WaitForFinishes(1));
    view.Load(server.Url("/check"));
    ASSERT_TRUE(view.WaitForFinishes(2));
    const auto requests = server.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_FALSE(requests[0].HasHeader("Cookie"));
    const std::string cookie = requests[1].Header("Cookie");
    EXPECT_NE(std::string::npos, cookie.find("sid=abc123")) << cookie;
    EXPECT_NE(std::string::npos, cookie.find("pref=zh")) << cookie;
    EXPECT_EQ(std::string::npos, cookie.find("narrow")) << "a cookie for another path stays home";
    EXPECT_EQ(1u, requests[1].HeaderCount("Cookie"));
    EXPECT_TRUE(FileExists(cookieDir + L"\\cookies.dat"));
}

TEST_F(EngineCookies, CookiesSurviveForAViewInANewProcess)
{
    const ScratchDirectory scratch;
    const std::wstring cookieDir = scratch / L"cookie\u76ee\u5f55";
    {
        ViewHarness view;
        view.Api().setCookieJarPath(view.View(), cookieDir.c_str());
        view.Load(server.Url("/set"));
        ASSERT_TRUE(view.WaitForFinishes(1));
    }
    EXPECT_EQ(0, RunChild("EngineCookieChild.LoadsWithStoredCookies", cookieDir, server.Url("/check")));
    ASSERT_TRUE(server.WaitForRequests(2, std::chrono::seconds(5)));
    const auto requests = server.Requests();
    const std::string cookie = requests.back().Header("Cookie");
    EXPECT_EQ("/check", requests.back().target);
    EXPECT_NE(std::string::npos, cookie.find("sid=abc123")) << cookie;
    EXPECT_NE(std::string::npos, cookie.find("pref=zh")) << cookie;
}

// The child half of the restart test: does nothing unless started by it.
TEST(EngineCookieChild, LoadsWithStoredCookies)
{
    const char* url = std::getenv(ChildUrlVar);
    wchar_t dir[MAX_PATH] = L"";
    if (!url || !GetEnvironmentVariableW(ChildDirVar, dir, MAX_PATH))
        GTEST_SKIP() << "runs only as the child of CookiesSurviveForAViewInANewProcess";
    ASSERT_NE(nullptr, EngineApi::Get());
    ViewHarness view;
    view.Api().setCookieJarPath(view.View(), dir);
    view.Load(url);
    ASSERT_TRUE(view.WaitForFinishes(1));
    EXPECT_EQ(WKE_LOADING_SUCCEEDED, view.finishes[0].result);
}

} // namespace
