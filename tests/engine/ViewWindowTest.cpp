// The view's windows: a child filling the host's area or a top-level popup,
// and a window a host may subclass the way the web view control does.
#include <gtest/gtest.h>

#include "tests/engine/EngineHarness.h"
#include "tests/support/LoopbackServer.h"

namespace {

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int g_subclassMessages = 0;

// A host's subclass: the previous procedure kept in GWLP_USERDATA.
LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    ++g_subclassMessages;
    const auto previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_DESTROY)
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
    return CallWindowProcW(previous, window, message, wParam, lParam);
}

TEST(EngineWindow, ControlViewIsAVisibleChildOfTheGivenSize)
{
    ASSERT_NE(nullptr, EngineApi::Get());
    ViewHarness view(333, 222);
    const HWND window = view.Api().getWindowHandle(view.View());
    ASSERT_TRUE(IsWindow(window));
    EXPECT_EQ(view.Parent(), GetParent(window));
    const LONG style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_TRUE(style & WS_CHILD);
    EXPECT_TRUE(style & WS_VISIBLE);
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(333, client.right);
    EXPECT_EQ(222, client.bottom);
    EXPECT_EQ(0, GetWindowLongPtrW(window, GWLP_USERDATA)) << "the user data slot is left to the host";

    view.Api().resize(view.View(), 150, 90);
    GetClientRect(window, &client);
    EXPECT_EQ(150, client.right);
    EXPECT_EQ(90, client.bottom);
    view.Api().showWindow(view.View(), false);
    EXPECT_FALSE(GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE);

    EXPECT_EQ(nullptr, view.Api().createWebWindow(WKE_WINDOW_TYPE_CONTROL, nullptr, 0, 0, 10, 10))
        << "a control needs a parent";
}

TEST(EngineWindow, PopupIsTopLevelAndObeysTheClosingCallback)
{
    const EngineApi* api = EngineApi::Get();
    ASSERT_NE(nullptr, api);
    const wkeWebView popup = api->createWebWindow(WKE_WINDOW_TYPE_POPUP, nullptr, 10, 10, 300, 200);
    ASSERT_NE(nullptr, popup);
    const HWND window = api->getWindowHandle(popup);
    ASSERT_TRUE(IsWindow(window));
    EXPECT_FALSE(GetWindowLongW(window, GWL_STYLE) & WS_CHILD);
    EXPECT_FALSE(IsWindowVisible(window)) << "shown only when asked";
    api->showWindow(popup, true);
    EXPECT_TRUE(IsWindowVisible(window));
    api->setWindowTitleW(popup, L"\u5f39\u51fa");
    wchar_t title[16] = L"";
    GetWindowTextW(window, title, 16);
    EXPECT_STREQ(L"\u5f39\u51fa", title);

    struct Flags {
        bool allowClose = false;
        int closing = 0;
        int destroyed = 0;
    } flags;
    api->onWindowClosing(
        popup,
        [](wkeWebView, void* param) {
            auto* f = static_cast<Flags*>(param);
            ++f->closing;
            return f->allowClose;
        },
        &flags);
    api->onWindowDestroy(
        popup, [](wkeWebView, void* param) { ++static_cast<Flags*>(param)->destroyed; }, &flags);
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(1, flags.closing);
    EXPECT_TRUE(IsWindow(window)) << "the closing callback kept the window";
    flags.allowClose = true;
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(1, flags.destroyed);
    EXPECT_EQ(nullptr, api->getWindowHandle(popup)) << "a destroyed view's handle is no longer served";
}

TEST(EngineWindow, SubclassedViewStillLoadsAndPaints)
{
    ASSERT_NE(nullptr, EngineApi::Get());
    LoopbackServer server;
    server.AddRoute("/page", Reply::Ok("<body>subclassed</body>"));
    ASSERT_TRUE(server.Start());
    ViewHarness view;
    const HWND window = view.Api().getWindowHandle(view.View());
    const LONG_PTR previous = SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountingProc));
    SetWindowLongPtrW(window, GWLP_USERDATA, previous);
    g_subclassMessages = 0;

    view.Load(server.Url("/page"));
    ASSERT_TRUE(view.WaitForFinishes(1));
    EXPECT_EQ(WKE_LOADING_SUCCEEDED, view.finishes[0].result);
    EXPECT_GT(g_subclassMessages, 0) << "the engine's own messages pass through the host's subclass";
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
    view.DestroyParent();
}

} // namespace
