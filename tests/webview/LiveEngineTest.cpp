// The control with the real engine beside the program, against a loopback
// server: what LoadingFinished reports and what the page source holds.
#include <gtest/gtest.h>

#include <initializer_list>

#include "form/ControlIds.h"
#include "tests/support/LoopbackServer.h"
#include "tests/webview/WebViewTestSupport.h"

using namespace std::chrono_literals;

namespace {

constexpr auto LoadTimeout = 15s;

void Navigate(uint32_t unitId, const std::string& url)
{
    WebViewNavigate(TestFormId, unitId, WebViewKindCode, url);
}

class RealEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        server.AddRoute("/page", Reply::Ok(pageBody, "text/html; charset=utf-8"));
        ASSERT_TRUE(server.Start());
        ASSERT_TRUE(form.AddWebView(TestUnitId));
    }

    // Waits for `count` loads, then a little longer: true when exactly that many came.
    bool ExactlyLoads(size_t count)
    {
        if (!loads.WaitFor(count, LoadTimeout))
            return false;
        PumpFor(300ms);
        return loads.Records().size() == count;
    }

    const std::string pageBody = Utf8(L"<html><head><title>页面标题</title></head><body>中文页面</body></html>");
    LoopbackServer server;
    TestForm form;
    LoadRecorder loads{TestFormId, TestUnitId};
};

TEST_F(RealEngine, TheViewIsBlankUntilTheFirstNavigate)
{
    PumpFor(300ms);
    EXPECT_EQ(0u, loads.Records().size());
    EXPECT_EQ("", WebViewGetPageSource(TestFormId, TestUnitId, WebViewKindCode));
    EXPECT_EQ(0u, server.RequestCount());
}

TEST_F(RealEngine, ANavigateRaisesOneLoadingFinishedWithTheUtf8Source)
{
    Navigate(TestUnitId, server.Url("/page"));
    ASSERT_TRUE(ExactlyLoads(1)) << loads.Records().size() << " loads";
    const LoadRecord& load = loads.Records()[0];
    EXPECT_EQ(server.Url("/page"), load.url);
    EXPECT_EQ(0, load.result);
    EXPECT_EQ("", load.reason);
    EXPECT_TRUE(load.argShapeOk);
    EXPECT_NE(std::string::npos, load.source.find(Utf8(L"<body>中文页面</body>"))) << load.source;

    WebViewPropertyValue title = WebViewGetProperty(TestFormId, TestUnitId, WebViewKindCode, 1);
    EXPECT_EQ(WebViewPropertyValue(Cp936(L"页面标题")), title);
}

TEST_F(RealEngine, AGbkPageComesBackAsUtf8)
{
    AnsiText gbkBody = Cp936(L"<html><head><meta charset=\"gbk\"></head><body>中文页面</body></html>");
    server.AddRoute("/gbk", Reply::Ok(gbkBody, "text/html; charset=gbk"));
    Navigate(TestUnitId, server.Url("/gbk"));
    ASSERT_TRUE(loads.WaitFor(1, LoadTimeout));
    const LoadRecord& load = loads.Records()[0];
    EXPECT_EQ(0, load.result);
    EXPECT_NE(std::string::npos, load.source.find(Utf8(L"<body>中文页面</body>"))) << load.source;
    EXPECT_EQ(std::string::npos, load.source.find(Cp936(L"中文页面")));
}

TEST_F(RealEngine, AClosedPortGivesOneFailedLoadWithAReason)
{
    ClosedPort closed;
    Navigate(TestUnitId, closed.Url("/nothing"));
    ASSERT_TRUE(ExactlyLoads(1)) << loads.Records().size() << " loads";
    EXPECT_EQ(closed.Url("/nothing"), loads.Records()[0].url);
    EXPECT_EQ(1, loads.Records()[0].result);
    EXPECT_NE("", loads.Records()[0].reason);
}

TEST_F(RealEngine, ASecondNavigateCancelsASlowLoad)
{
    server.AddRoute("/slow", Reply::HoldOpen());
    Navigate(TestUnitId, server.Url("/slow"));
    ASSERT_TRUE(PumpUntil([&] { return server.RequestCount() >= 1; }, LoadTimeout));
    Navigate(TestUnitId, server.Url("/page"));
    ASSERT_TRUE(ExactlyLoads(2)) << loads.Records().size() << " loads";
    EXPECT_EQ(server.Url("/slow"), loads.Records()[0].url);
    EXPECT_EQ(2, loads.Records()[0].result);
    EXPECT_EQ(server.Url("/page"), loads.Records()[1].url);
    EXPECT_EQ(0, loads.Records()[1].result);
}

TEST_F(RealEngine, AMetaRefreshGivesTwoLoads)
{
    server.AddRoute(
        "/refresh",
        Reply::Ok("<html><head><meta http-equiv=\"refresh\" content=\"0;url=/page\"></head><body>wait</body></html>"));
    Navigate(TestUnitId, server.Url("/refresh"));
    ASSERT_TRUE(ExactlyLoads(2)) << loads.Records().size() << " loads";
    EXPECT_EQ(server.Url("/refresh"), loads.Records()[0].url);
    EXPECT_EQ(server.Url("/page"), loads.Records()[1].url);
    EXPECT_EQ(0, loads.Records()[1].result);
}

TEST_F(RealEngine, TwoViewsLoadSideBySide)
{
    const uint32_t otherUnit = TestUnitId + 1;
    ASSERT_TRUE(form.AddWebView(otherUnit, 400, 10));
    LoadRecorder other(TestFormId, otherUnit);
    server.AddRoute("/other", Reply::Ok("<html><body>other</body></html>"));
    Navigate(TestUnitId, server.Url("/page"));
    Navigate(otherUnit, server.Url("/other"));
    ASSERT_TRUE(loads.WaitFor(1, LoadTimeout));
    ASSERT_TRUE(other.WaitFor(1, LoadTimeout));
    EXPECT_EQ(server.Url("/page"), loads.Records()[0].url);
    EXPECT_EQ(server.Url("/other"), other.Records()[0].url);
    EXPECT_NE(std::string::npos, other.Records()[0].source.find("<body>other</body>"));
}

// The two halves of the restart check; the parent holds the server.
std::string ParentServer()
{
    std::wstring base = EnvironmentText(L"KELVORA_WEBVIEW_SERVER");
    return std::string(base.begin(), base.end());
}

// Loads the paths of the parent's server one after the other in a fresh
// view; the last load's result (0: the page came), -1 when a load never ended.
int32_t LastResultOfLoading(std::initializer_list<const char*> paths)
{
    const std::string server = ParentServer();
    TestForm form;
    if (server.empty() || !form.AddWebView(TestUnitId)) {
        ADD_FAILURE() << "no server from the parent, or no view";
        return -1;
    }
    LoadRecorder loads(TestFormId, TestUnitId);
    for (const char* path : paths) {
        Navigate(TestUnitId, server + path);
        if (!loads.WaitFor(loads.Records().size() + 1, LoadTimeout))
            return -1;
    }
    return loads.Records().back().result;
}

TEST(Cookies, FirstRunGetsACookie)
{
    // The page that sets it, then one that demands it in the same run.
    EXPECT_EQ(0, LastResultOfLoading({"/set-cookie", "/same-run"}));
}

TEST(Cookies, SecondRunSendsIt)
{
    EXPECT_EQ(0, LastResultOfLoading({"/after-restart"}));
}

std::wstring BuiltEngine()
{
    std::wstring path = EnvironmentText(L"KELVORA_ENGINE");
    return path.empty() ? path : WindowsPathOf(std::string(path.begin(), path.end()));
}

TEST(WebViewProcess, RealEngineBesideTheProgram)
{
    ProgramFolder folder;
    ASSERT_FALSE(BuiltEngine().empty());
    ASSERT_TRUE(folder.CopyIn(BuiltEngine(), L"node.dll"));
    ExpectChildPasses(folder, L"RealEngine.*");
    // The engine was told to keep its cookies beside the program.
    EXPECT_TRUE(folder.Exists(L"cookie目录"));
}

TEST(WebViewProcess, CookiesSurviveARestart)
{
    LoopbackServer server;
    Reply setCookie = Reply::Ok("<html><body>set</body></html>");
    setCookie.headers.push_back({"Set-Cookie", "kelvora=jar42; Expires=Wed, 01 Jan 2031 00:00:00 GMT; Path=/"});
    server.AddRoute("/set-cookie", setCookie);
    server.SetFallback(Reply::Ok("<html><body>plain</body></html>"));
    ASSERT_TRUE(server.Start());
    std::string baseUrl = server.BaseUrl();
    SetEnvironmentVariableW(L"KELVORA_WEBVIEW_SERVER", std::wstring(baseUrl.begin(), baseUrl.end()).c_str());

    ProgramFolder folder;
    ASSERT_TRUE(folder.CopyIn(BuiltEngine(), L"node.dll"));
    ExpectChildPasses(folder, L"Cookies.FirstRunGetsACookie");
    ExpectChildPasses(folder, L"Cookies.SecondRunSendsIt");
    SetEnvironmentVariableW(L"KELVORA_WEBVIEW_SERVER", nullptr);

    auto cookieOf = [&](const std::string& path) {
        for (const RecordedRequest& request : server.Requests())
            if (request.Path() == path)
                return request.Header("Cookie");
        return std::string("(no request)");
    };
    EXPECT_EQ("", cookieOf("/set-cookie"));
    EXPECT_NE(std::string::npos, cookieOf("/same-run").find("kelvora=jar42")) << cookieOf("/same-run");
    EXPECT_NE(std::string::npos, cookieOf("/after-restart").find("kelvora=jar42")) << cookieOf("/after-restart");
}

} // namespace
