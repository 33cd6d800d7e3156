#pragma once
#include <gtest/gtest.h>

#include <string>

#include "form/ControlIds.h"
#include "tests/support/LoopbackServer.h"
#include "tests/webview/WebViewTestSupport.h"

// A web view in a test form with the real engine and a loopback server for
// its pages; derived fixtures add their routes in SetUp.
class LiveViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.Start());
        host = form.AddWebView(TestUnitId);
        ASSERT_TRUE(host);
        engineWindow = GetWindow(host, GW_CHILD);
        ASSERT_TRUE(engineWindow);
    }

    void Navigate(const std::string& url) { WebViewNavigate(TestFormId, TestUnitId, WebViewKindCode, url); }

    size_t RequestsFor(const std::string& path) const
    {
        size_t count = 0;
        for (const RecordedRequest& request : server.Requests())
            count += request.Path() == path;
        return count;
    }

    LoopbackServer server;
    TestForm form;
    HWND host = nullptr;
    HWND engineWindow = nullptr;
};
