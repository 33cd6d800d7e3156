// The control's other events with the real engine beside the program, for
// pages served from a loopback server: what a bound handler sees and decides,
// and what the engine gets with no handler bound.
#include <gtest/gtest.h>

#include "engine/include/wke.h"
#include "tests/webview/LiveViewTest.h"

using namespace std::chrono_literals;

namespace {

constexpr auto LoadTimeout = 15s;

class RealEngineEvents : public LiveViewTest {
protected:
    void SetUp() override
    {
        LiveViewTest::SetUp();
        server.AddRoute("/page", Reply::Ok(pageBody, "text/html; charset=utf-8"));
    }

    const std::string pageBody = Utf8(L"<html><head><title>页面标题</title></head><body>中文页面</body></html>");
};

TEST_F(RealEngineEvents, APageLoadRaisesItsEventsInOrderWithTheirArguments)
{
    EventRecorder events(TestFormId, TestUnitId, {0, 1, 2, 3, 5, 11, 12});
    Navigate(server.Url("/page"));
    ASSERT_TRUE(events.WaitFor(5, 1, LoadTimeout));
    PumpFor(200ms);

    std::vector<int32_t> order;
    for (const SeenEvent& event : events.Events())
        order.push_back(event.eventNumber);
    EXPECT_EQ((std::vector<int32_t>{3, 11, 12, 2, 1, 0, 5}), order);
    const AnsiText url = server.Url("/page");
    ASSERT_EQ(7u, events.Events().size());

    const SeenEvent navigation = events.Of(3)[0];
    EXPECT_EQ("int text&", navigation.shape);
    EXPECT_EQ(WKE_NAVIGATION_TYPE_OTHER, navigation.numbers[0]);
    EXPECT_EQ(url, navigation.texts[1]);

    const SeenEvent begin = events.Of(11)[0];
    const SeenEvent end = events.Of(12)[0];
    EXPECT_EQ("text& int", begin.shape);
    EXPECT_EQ(url, begin.texts[0]);
    EXPECT_EQ("text& int int int", end.shape);
    EXPECT_EQ(url, end.texts[0]);
    EXPECT_EQ(begin.numbers[1], end.numbers[1]) << "one job from begin to end";
    EXPECT_NE(0, end.numbers[2]);
    EXPECT_EQ(static_cast<int32_t>(pageBody.size()), end.numbers[3]);

    EXPECT_EQ("text& int", events.Of(2)[0].shape);
    EXPECT_EQ(url, events.Of(2)[0].texts[0]);
    EXPECT_EQ("text&", events.Of(1)[0].shape);
    EXPECT_EQ(Cp936(L"页面标题"), events.Of(1)[0].texts[0]);
    EXPECT_EQ("int", events.Of(0)[0].shape);
    EXPECT_EQ(events.Of(2)[0].numbers[1], events.Of(0)[0].numbers[0]) << "the same frame";
}

TEST_F(RealEngineEvents, HandlersThatRefuseStopTheLoadBeforeAnyRequest)
{
    EventRecorder events(TestFormId, TestUnitId, {3, 5, 11});
    events.SetAnswer(3, 0);
    Navigate(server.Url("/page"));
    ASSERT_TRUE(events.WaitFor(5, 1, LoadTimeout));
    EXPECT_EQ(WKE_LOADING_CANCELED, events.Of(5)[0].numbers[1]);
    EXPECT_EQ(0u, events.Of(11).size());

    // A resource-load handler that takes the URL over: the engine fetches nothing.
    events.SetAnswer(3, std::nullopt);
    events.SetAnswer(11, 1);
    Navigate(server.Url("/page"));
    ASSERT_TRUE(events.WaitFor(5, 2, LoadTimeout));
    EXPECT_EQ(WKE_LOADING_CANCELED, events.Of(5)[1].numbers[1]);
    EXPECT_EQ(1u, events.Of(11).size());
    EXPECT_EQ(0u, server.RequestCount());
}

TEST_F(RealEngineEvents, ADownloadIsRefusedUnlessAHandlerTakesIt)
{
    Reply file = Reply::Ok("PK\x03\x04 not really a zip", "application/zip");
    file.headers.push_back({"Content-Disposition", "attachment; filename=\"a.zip\""});
    server.AddRoute("/file.zip", file);
    EventRecorder events(TestFormId, TestUnitId, {5});
    Navigate(server.Url("/page"));
    ASSERT_TRUE(events.WaitFor(5, 1, LoadTimeout));

    // Unbound: refused, the page stays.
    Navigate(server.Url("/file.zip"));
    ASSERT_TRUE(events.WaitFor(5, 2, LoadTimeout));
    EXPECT_EQ(WKE_LOADING_CANCELED, events.Of(5)[1].numbers[1]);
    EXPECT_NE(std::string::npos, WebViewGetPageSource(TestFormId, TestUnitId, WebViewKindCode).find(Utf8(L"中文页面")));

    // Bound: the handler sees the URL's bytes as the engine gave them.
    EventRecorder downloads(TestFormId, TestUnitId, {10});
    downloads.SetAnswer(10, 1);
    Navigate(server.Url("/file.zip"));
    ASSERT_TRUE(downloads.WaitFor(10, 1, LoadTimeout));
    EXPECT_EQ("text&", downloads.Of(10)[0].shape);
    EXPECT_EQ(server.Url("/file.zip"), downloads.Of(10)[0].texts[0]);
}

TEST_F(RealEngineEvents, F5InTheViewReloadsThePage)
{
    EventRecorder events(TestFormId, TestUnitId, {3, 5, 22});
    Navigate(server.Url("/page"));
    ASSERT_TRUE(events.WaitFor(5, 1, LoadTimeout));
    ASSERT_TRUE(FocusEngineWindow(engineWindow));
    SendKey(VK_F5, true);
    SendKey(VK_F5, false);
    ASSERT_TRUE(events.WaitFor(5, 2, LoadTimeout));
    EXPECT_EQ(VK_F5, events.Of(22)[0].numbers[0]);
    EXPECT_EQ(WKE_NAVIGATION_TYPE_RELOAD, events.Of(3)[1].numbers[0]);
    EXPECT_EQ(WKE_LOADING_SUCCEEDED, events.Of(5)[1].numbers[1]);
    EXPECT_EQ(2u, RequestsFor("/page"));

    // With the refresh key disabled, F5 is only a key.
    ASSERT_TRUE(WebViewSetProperty(TestFormId, TestUnitId, WebViewKindCode, 2, int32_t{1}));
    SendKey(VK_F5, true);
    SendKey(VK_F5, false);
    ASSERT_TRUE(events.WaitFor(22, 2, 5s));
    PumpFor(500ms);
    EXPECT_EQ(2u, events.Of(5).size());
    EXPECT_EQ(2u, RequestsFor("/page"));
}

TEST(WebViewProcess, RealEngineEventsAndPageScripts)
{
    std::wstring engine = EnvironmentText(L"KELVORA_ENGINE");
    ASSERT_FALSE(engine.empty());
    ProgramFolder folder;
    ASSERT_TRUE(folder.CopyIn(WindowsPathOf(std::string(engine.begin(), engine.end())), L"node.dll"));
    ExpectChildPasses(folder, L"RealEngineEvents.*:RealEnginePages.*");
}

} // namespace
