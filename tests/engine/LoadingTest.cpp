// How loads run and end: one loading-finished per load, on the view's thread,
// with the right result code, whatever the server does.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/engine/EngineHarness.h"
#include "tests/support/LoopbackServer.h"

namespace {

const std::string LookupPageText = "<html><head><title>Lookup</title></head><body>KEY-123</body></html>";

class EngineLoading : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, EngineApi::Get()) << "node.dll could not be loaded from KELVORA_ENGINE";
        ASSERT_TRUE(server.Start());
    }
    LoopbackServer server;
};

TEST_F(EngineLoading, EngineReportsItselfInitialised)
{
    EXPECT_TRUE(EngineApi::Get()->isInitialize());
}

TEST_F(EngineLoading, NavigationEndsInOneSucceededFinishOnTheViewsThread)
{
    server.AddRoute("/page", Reply::Ok(LookupPageText));
    ViewHarness view;
    ASSERT_NE(nullptr, view.View());
    EXPECT_TRUE(IsWindow(view.Api().getWindowHandle(view.View())));

    view.Load(server.Url("/page"));
    EXPECT_TRUE(view.events.empty()) << "a callback ran inside wkeLoadURL";
    ASSERT_TRUE(view.WaitForFinishes(1));
    view.PumpFor(300);

    ASSERT_EQ(1u, view.finishes.size());
    EXPECT_EQ(server.Url("/page"), view.finishes[0].url);
    EXPECT_EQ(WKE_LOADING_SUCCEEDED, view.finishes[0].result);
    EXPECT_EQ("", view.finishes[0].reason);
    EXPECT_FALSE(view.wrongThread);
    EXPECT_EQ(LookupPageText, view.Source());
    EXPECT_STREQ("Lookup", view.Api().getTitle(view.View()));
    ASSERT_EQ(1u, view.titles.size());
    EXPECT_EQ("Lookup", view.titles[0]);
    ASSERT_EQ(1u, view.urlChanges.size());
    EXPECT_EQ(server.Url("/page"), view.urlChanges[0]);

    // The document's events come in a browser's order, the finish last.
    auto position = [&](const char* name) {
        return std::find(view.events.begin(), view.events.end(), name) - view.events.begin();
    };
    EXPECT_LT(position("navigation"), position("begin"));
    EXPECT_LT(position("begin"), position("url"));
    EXPECT_LT(position("url"), position("ready"));
    EXPECT_LT(position("ready"), position("finish"));
}

TEST_F(EngineLoading, SourceIsNullUntilTheFirstLoad)
{
    ViewHarness view;
    ASSERT_NE(nullptr, view.View());
    EXPECT_EQ("<null>", view.Source());
    EXPECT_STREQ("", view.Api().getTitle(view.View()));
    view.PumpFor(100);
    EXPECT_TRUE(view.finishes.empty());
}

TEST_F(EngineLoading, ClosedPortFailsOnceWithAReason)
{
    ClosedPort closed;
    ViewHarness view;
    view.Load(closed.Url("/nothing"));
    ASSERT_TRUE(view.WaitForFinishes(1, 30000));
    view.PumpFor(200);
    ASSERT_EQ(1u, view.finishes.size());
    EXPECT_EQ(WKE_LOADING_FAILED, view.finishes[0].result);
    EXPECT_FALSE(view.finishes[0].reason.empty());
    EXPECT_FALSE(view.wrongThread);
}

TEST_F(EngineLoading, TlsFailureFailsOnceWithAReason)
{
    // A plain HTTP server cannot complete a TLS handshake.
    ViewHarness view;
    view.Load("https://127.0.0.1:" + std::to_string(server.Port()) + "/secure");
    ASSERT_TRUE(view.WaitForFinishes(1, 60000));
    view.PumpFor(200);
    ASSERT_EQ(1u, view.finishes.size());
    EXPECT_EQ(WKE_LOADING_FAILED, view.finishes[0].result);
    EXPECT_FALSE(view.finishes[0].reason.empty());
    EXPECT_EQ(0u, server.RequestCount()) << "nothing went out in clear text";
}

TEST_F(EngineLoading, FailedLoadDoesNotLeaveThePreviousPageAsSource)
{
    server.AddRoute("/page", Reply::Ok(LookupPageText));
    ClosedPort closed;
    ViewHarness view;
    view.Load(server.Url("/page"));
    ASSERT_TRUE(view.WaitForFinishes(1));
    view.Load(closed.Url("/gone"));
    ASSERT_TRUE(view.WaitForFinishes(2, 30000));
    EXPECT_EQ(WKE_LOADING_FAILED, view.finishes[1].result);
    EXPECT_EQ("", view.Source());
}

TEST_F(EngineLoading, NewerLoadCancelsTheSlowOneThenSucceeds)
{
    server.AddRoute("/slow", Reply::HoldOpen());
    server.AddRoute("/fast", Reply::Ok("<body>fast</body>"));
    ViewHarness view;
    view.Load(server.Url("/slow"));
    // The fetch starts from the view's messages, so the loop must run meanwhile.
    ASSERT_TRUE(view.PumpUntil([&] { return server.ConnectionCount() >= 1; }));
    view.Load(server.Url("/fast"));
    ASSERT_TRUE(view.WaitForFinishes(2));
    view.PumpFor(300);

    ASSERT_EQ(2u, view.finishes.size());
    EXPECT_EQ(server.Url("/slow"), view.finishes[0].url);
    EXPECT_EQ(WKE_LOADING_CANCELED, view.finishes[0].result);
    EXPECT_EQ(server.Url("/fast"), view.finishes[1].url);
    EXPECT_EQ(WKE_LOADING_SUCCEEDED, view.finishes[1].result);
    EXPECT_EQ("<body>fast</body>", view.Source());
}

TEST_F(EngineLoading, LoadsStartedBackToBackEachFinishOnce)
{
    server.AddRoute("/a", Reply::Ok("<body>a</body>"));
    ViewHarness view;
    for (int i = 0; i < 5; ++i)
        view.Load(server.Url("/a?n=" + std::to_string(i)));
    ASSERT_TRUE(view.WaitForFinishes(5));
    view.PumpFor(500);
    ASSERT_EQ(5u, view.finishes.size());
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(WKE_LOADING_CANCELED, view.finishes[i].result) << i;
    EXPECT_EQ(WKE_LOADING_SUCCEEDED, view.finishes[4].result);
    EXPECT_EQ(server.Url("/a?n=4"), view.finishes[4].url);
}

TEST_F(EngineLoading, MetaRefreshLoadsThePageAgain)
{
    server.AddRoute(
        "/again", Reply::Ok("<html><head><meta http-equiv=\"refresh\" content=\"0\"></head><body>again</body></html>"));
    ViewHarness view;
    view.Load(server.Url("/again"));
    ASSERT_TRUE(view.WaitForFinishes(2));
    EXPECT_EQ(WKE_LOADING_SUCCEEDED, view.finishes[0].result);
    EXPECT_EQ(WKE_LOADING_SUCCEEDED, view.finishes[1].result);
    EXPECT_GE(server.RequestCount(), 2u);
    // A zero-second refresh loop still leaves the thread its messages.
    const DWORD start = GetTickCount();
    view.PumpFor(1000);
    EXPECT_LT(GetTickCount() - start, 3000u);
    EXPECT_LE(view.finishes.size(), 12u) << "refreshes are paced by a timer";
}

TEST_F(EngineLoading, MetaRefreshFollowsItsUrl)
{
    server.AddRoute("/first", Reply::Ok("<meta http-equiv='Refresh' content='0; URL=/second'><body>first</body>"));
    server.AddRoute("/second", Reply::Ok("<body>second</body>"));
    ViewHarness view;
    view.Load(server.Url("/first"));
    ASSERT_TRUE(view.WaitForFinishes(2));
    EXPECT_EQ(server.Url("/second"), view.finishes[1].url);
    EXPECT_EQ("<body>second</body>", view.Source());
}

TEST_F(EngineLoading, RedirectIsFollowedAndALoopFails)
{
    server.AddRoute("/moved", Reply::Redirect("/target?x=1"));
    server.AddRoute("/target", Reply::Ok("<body>target</body>"));
    server.AddRoute("/loop", Reply::Redirect("/loop"));
    ViewHarness view;
    view.Load(server.Url("/moved"));
    ASSERT_TRUE(view.WaitForFinishes(1));
    EXPECT_EQ(WKE_LOADING_SUCCEEDED, view.finishes[0].result);
    EXPECT_EQ(server.Url("/target?x=1"), view.finishes[0].url);
    EXPECT_EQ("<body>target</body>", view.Source());

    view.Load(server.Url("/loop"));
    ASSERT_TRUE(view.WaitForFinishes(2, 30000));
    EXPECT_EQ(WKE_LOADING_FAILED, view.finishes[1].result);
    EXPECT_FALSE(view.finishes[1].reason.empty());
}

TEST_F(EngineLoading, RefusedNavigationFetchesNothing)
{
    ViewHarness view;
    view.navigationAnswer = false;
    view.Load(server.Url("/never"));
    ASSERT_TRUE(view.WaitForFinishes(1));
    view.PumpFor(300);
    ASSERT_EQ(1u, view.finishes.size());
    EXPECT_EQ(WKE_LOADING_CANCELED, view.finishes[0].result);
    EXPECT_EQ(0u, server.ConnectionCount());
}

TEST_F(EngineLoading, AttachmentAndNonPageRepliesAreDownloads)
{
    server.AddRoute("/page", Reply::Ok(LookupPageText));
    Reply attachment = Reply::Ok("<html>file</html>");
    attachment.headers.emplace_back("Content-Disposition", "attachment; filename=a.html");
    server.AddRoute("/attachment", attachment);
    server.AddRoute("/zip", Reply::Ok(std::string("PK\x03\x04", 4), "application/zip"));
    ViewHarness view;
    view.Load(server.Url("/page"));
    ASSERT_TRUE(view.WaitForFinishes(1));

    view.Load(server.Url("/attachment"));
    ASSERT_TRUE(view.WaitForFinishes(2));
    view.Load(server.Url("/zip"));
    ASSERT_TRUE(view.WaitForFinishes(3));
    ASSERT_EQ(2u, view.downloads.size());
    EXPECT_EQ(server.Url("/attachment"), view.downloads[0]);
    EXPECT_EQ(server.Url("/zip"), view.downloads[1]);
    EXPECT_NE(WKE_LOADING_SUCCEEDED, view.finishes[1].result);
    EXPECT_NE(WKE_LOADING_SUCCEEDED, view.finishes[2].result);
    EXPECT_EQ(LookupPageText, view.Source()) << "a refused download leaves the page as it was";
}

TEST_F(EngineLoading, ReloadFetchesAgain)
{
    server.AddRoute("/page", Reply::Ok(LookupPageText));
    ViewHarness view;
    view.Load(server.Url("/page"));
    ASSERT_TRUE(view.WaitForFinishes(1));
    view.Api().reload(view.View());
    ASSERT_TRUE(view.WaitForFinishes(2));
    EXPECT_EQ(WKE_LOADING_SUCCEEDED, view.finishes[1].result);
    EXPECT_EQ(2u, server.RequestCount());
}

TEST_F(EngineLoading, DestroyingTheViewMidLoadIsQuiet)
{
    server.AddRoute("/slow", Reply::Trickle("<body>" + std::string(2000, 'x') + "</body>", 100, 20));
    server.AddRoute("/held", Reply::HoldOpen());
    ViewHarness view;
    view.Load(server.Url("/slow"));
    ViewHarness second;
    second.Load(server.Url("/held"));
    ASSERT_TRUE(view.PumpUntil([&] { return server.ConnectionCount() >= 2; }));
    view.DestroyParent();
    second.DestroyParent();
    // The workers finish (the trickle ends, the held one is closed by Stop)
    // and bring their results to windows that are gone.
    view.PumpFor(1500);
    server.Stop();
    view.PumpFor(500);
    EXPECT_TRUE(view.finishes.empty());
    EXPECT_TRUE(second.finishes.empty());
}

TEST_F(EngineLoading, FinishCallbackMayLoadAgainAndThenDestroyTheView)
{
    server.AddRoute("/first", Reply::Ok("<body>first</body>"));
    server.AddRoute("/second", Reply::Ok("<body>second</body>"));
    ViewHarness view;
    struct Host {
        ViewHarness* view;
        std::string secondUrl;
        std::vector<std::string> sources; // read inside the callback, as the program does
    } host{&view, server.Url("/second"), {}};
    view.Api().onLoadingFinish(
        view.View(),
        [](wkeWebView webView, void* param, const wkeString, wkeLoadingResult, const wkeString) {
            auto* h = static_cast<Host*>(param);
            const char* source = h->view->Api().getSource(webView);
            h->sources.push_back(source ? source : "<null>");
            if (h->sources.size() == 1)
                h->view->Api().loadUrl(webView, h->secondUrl.c_str());
            else
                h->view->DestroyParent();
        },
        &host);
    view.Load(server.Url("/first"));
    ASSERT_TRUE(view.PumpUntil([&] { return host.sources.size() >= 2; }));
    view.PumpFor(300);
    ASSERT_EQ(2u, host.sources.size());
    EXPECT_EQ("<body>first</body>", host.sources[0]);
    EXPECT_EQ("<body>second</body>", host.sources[1]);
    EXPECT_EQ(nullptr, view.Api().getWindowHandle(view.View()));
}

TEST_F(EngineLoading, UnsupportedAddressFailsQuietly)
{
    ViewHarness view;
    view.Load("ftp://127.0.0.1/file");
    ASSERT_TRUE(view.WaitForFinishes(1));
    EXPECT_EQ(WKE_LOADING_FAILED, view.finishes[0].result);
    view.Load("");
    ASSERT_TRUE(view.WaitForFinishes(2));
    EXPECT_EQ(WKE_LOADING_FAILED, view.finishes[1].result);
    view.Load("http://127.0.0.1:" + std::to_string(server.Port()) + "\x01/\xFF");
    ASSERT_TRUE(view.WaitForFinishes(3));
    EXPECT_EQ(WKE_LOADING_FAILED, view.finishes[2].result);
    view.Api().loadUrl(view.View(), nullptr);
    view.Api().loadUrl(nullptr, "http://127.0.0.1/");
    ASSERT_TRUE(view.WaitForFinishes(4));
    EXPECT_EQ(nullptr, view.Api().getSource(nullptr));
}

} // namespace
