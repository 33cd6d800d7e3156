// The control's events, input and popups against the stand-in engine: each
// engine callback raises its event with the right arguments, input in the
// engine's window is offered to the program before the engine sees it, and
// popups are made, titled and closed as the handlers decide.
#include <gtest/gtest.h>

#include "form/ControlIds.h"
#include "form/EventTable.h"
#include "tests/webview/FakeEngineAccess.h"
#include "tests/webview/WebViewTestSupport.h"

using namespace std::chrono_literals;

namespace {

size_t CountOf(const std::string& text, const std::string& part, size_t from = 0)
{
    size_t count = 0;
    for (size_t at = text.find(part, from); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

std::string InputLine(UINT message, WPARAM wParam)
{
    char line[40];
    std::snprintf(line, sizeof line, "input %04x %u ", message, static_cast<unsigned>(wParam));
    return line;
}

class FakeEngineEvents : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(form.Handle());
        host = form.AddWebView(TestUnitId);
        ASSERT_TRUE(host);
        view = LastView();
        engineWindow = GetWindow(host, GW_CHILD);
        ASSERT_TRUE(view && engineWindow);
    }

    // Posts input to the engine's window and waits until it has been handled.
    void Post(UINT message, WPARAM wParam, LPARAM lParam = 0)
    {
        PostMessageW(engineWindow, message, wParam, lParam);
        PumpFor(50ms);
    }

    bool EngineGot(UINT message, WPARAM wParam, size_t mark) const
    {
        return Calls().find(InputLine(message, wParam), mark) != std::string::npos;
    }

    TestForm form;
    HWND host = nullptr;
    wkeWebView view = nullptr;
    HWND engineWindow = nullptr;
};

TEST_F(FakeEngineEvents, EachEngineCallbackRaisesItsEventWithItsArguments)
{
    EventRecorder events(TestFormId, TestUnitId, {0, 1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13});
    auto title = FakeExport<void (*)(wkeWebView, const wchar_t*)>("fakeEngineTitle");
    auto urlChanged = FakeExport<void (*)(wkeWebView, const wchar_t*)>("fakeEngineUrlChanged");
    auto hover = FakeExport<void (*)(wkeWebView, const wchar_t*)>("fakeEngineHover");
    auto alert = FakeExport<void (*)(wkeWebView, const wchar_t*)>("fakeEngineAlert");
    auto ready = FakeExport<void (*)(wkeWebView)>("fakeEngineDocumentReady");
    auto console = FakeExport<void (*)(wkeWebView, int, const wchar_t*, const wchar_t*, unsigned, const wchar_t*)>(
        "fakeEngineConsole");
    auto loadEnd = FakeExport<void (*)(wkeWebView, const char*, void*, void*, int)>("fakeEngineLoadUrlEnd");
    auto navigation = FakeExport<int (*)(wkeWebView, int, const wchar_t*)>("fakeEngineNavigation");
    auto createView = FakeExport<int (*)(wkeWebView, const wchar_t*)>("fakeEngineCreateView");
    auto confirm = FakeExport<int (*)(wkeWebView, const wchar_t*)>("fakeEngineConfirm");
    auto prompt = FakeExport<int (*)(wkeWebView, const wchar_t*, const wchar_t*)>("fakeEnginePrompt");
    auto download = FakeExport<int (*)(wkeWebView, const char*)>("fakeEngineDownload");
    auto loadBegin = FakeExport<int (*)(wkeWebView, const char*, void*)>("fakeEngineLoadUrlBegin");
    ASSERT_TRUE(title && urlChanged && hover && alert && ready && console && loadEnd && navigation && createView &&
                confirm && prompt && download && loadBegin);

    std::string utf8Url = Utf8(L"http://127.0.0.1/资源");
    char buffer[16] = "body";
    ready(view);
    title(view, L"页面标题");
    urlChanged(view, L"http://127.0.0.1/新地址");
    navigation(view, WKE_NAVIGATION_TYPE_BACKFORWARD, L"http://127.0.0.1/回");
    createView(view, L"http://127.0.0.1/弹出");
    console(view, wkeLevelWarning, L"消息", L"来源.js", 42, L"栈");
    alert(view, L"提示");
    confirm(view, L"确定吗");
    prompt(view, L"请输入", L"默认值");
    download(view, utf8Url.c_str());
    loadBegin(view, utf8Url.c_str(), reinterpret_cast<void*>(0x1234));
    loadEnd(view, utf8Url.c_str(), reinterpret_cast<void*>(0x1234), buffer, 4);
    hover(view, L"http://127.0.0.1/链接");

    struct Expected {
        int32_t eventNumber;
        std::string shape;
        std::vector<int32_t> numbers;
        std::vector<AnsiText> texts;
    };
    const AnsiText none;
    const std::vector<Expected> expected = {
        {0, "int", {7}, {none}},
        {1, "text&", {0}, {Cp936(L"页面标题")}},
        {2, "text& int", {0, 7}, {Cp936(L"http://127.0.0.1/新地址"), none}},
        {3, "int text&", {WKE_NAVIGATION_TYPE_BACKFORWARD, 0}, {none, Cp936(L"http://127.0.0.1/回")}},
        {4, "int text&", {WKE_NAVIGATION_TYPE_LINKCLICK, 0}, {none, Cp936(L"http://127.0.0.1/弹出")}},
        {6,
         "int text text int text",
         {wkeLevelWarning, 0, 0, 42, 0},
         {none, Cp936(L"消息"), Cp936(L"来源.js"), none, Cp936(L"栈")}},
        {7, "text&", {0}, {Cp936(L"提示")}},
        {8, "text&", {0}, {Cp936(L"确定吗")}},
        {9, "text& text&", {0, 0}, {Cp936(L"请输入"), Cp936(L"默认值")}},
        // The download URL comes as the engine's bytes; resource URLs are
        // converted from UTF-8.
        {10, "text&", {0}, {utf8Url}},
        {11, "text& int", {0, 0x1234}, {Cp936(L"http://127.0.0.1/资源"), none}},
        {12,
         "text& int int int",
         {0, 0x1234, static_cast<int32_t>(reinterpret_cast<uintptr_t>(buffer)), 4},
         {Cp936(L"http://127.0.0.1/资源"), none, none, none}},
        {13, "text&", {0}, {Cp936(L"http://127.0.0.1/链接")}},
    };
    ASSERT_EQ(expected.size(), events.Events().size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("event " + std::to_string(expected[i].eventNumber));
        const SeenEvent& seen = events.Events()[i];
        EXPECT_EQ(expected[i].eventNumber, seen.eventNumber);
        EXPECT_EQ(expected[i].shape, seen.shape);
        EXPECT_EQ(expected[i].numbers, seen.numbers);
        EXPECT_EQ(expected[i].texts, seen.texts);
    }
}

TEST_F(FakeEngineEvents, UnboundInputReachesTheEngineUnchanged)
{
    size_t mark = Calls().size();
    Post(WM_KEYDOWN, 'A', 0x001e0001);
    Post(WM_CHAR, 0x4e2d); // a character beyond code page 936's single bytes
    Post(WM_SYSKEYUP, VK_MENU);
    Post(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(-5, 300));
    Post(WM_RBUTTONUP, 0, MAKELPARAM(1, 2));
    Post(WM_MOUSEMOVE, 0, MAKELPARAM(3, 4));
    std::string calls = Calls().substr(mark);
    EXPECT_NE(std::string::npos, calls.find("input 0100 65 001e0001")) << calls;
    EXPECT_NE(std::string::npos, calls.find("input 0102 20013 ")) << calls;
    EXPECT_NE(std::string::npos, calls.find("input 0105 18 ")) << calls;
    EXPECT_NE(std::string::npos, calls.find("input 0201 1 012cfffb")) << calls;
    EXPECT_NE(std::string::npos, calls.find("input 0205 0 00020001")) << calls;
    EXPECT_NE(std::string::npos, calls.find("input 0200 0 00040003")) << calls;

    // Right double-clicks and the middle button stop at the control; scroll
    // messages go on only with a non-zero position word.
    mark = Calls().size();
    Post(WM_RBUTTONDBLCLK, 0, 0);
    Post(WM_MBUTTONDOWN, 0, 0);
    Post(WM_MBUTTONUP, 0, 0);
    Post(WM_MBUTTONDBLCLK, 0, 0);
    Post(WM_VSCROLL, SB_LINEDOWN, 0);
    Post(WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 5), 0);
    calls = Calls().substr(mark);
    EXPECT_EQ(1u, CountOf(calls, "input ")) << calls;
    EXPECT_NE(std::string::npos, calls.find(InputLine(WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 5)))) << calls;
}

TEST_F(FakeEngineEvents, InputHandlersSeeTheMessageFirstAndDecide)
{
    EventRecorder events(TestFormId, TestUnitId, {14, 15, 16, 17, 18, 19, 22, 23, 24});
    events.SetAnswer(15, 0);
    events.SetAnswer(23, 1);
    size_t mark = Calls().size();
    Post(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(-5, 300));
    Post(WM_LBUTTONUP, 0, MAKELPARAM(-5, 300));
    Post(WM_LBUTTONDBLCLK, 0, MAKELPARAM(32767, -32768));
    Post(WM_RBUTTONDOWN, 0, MAKELPARAM(1, 2));
    Post(WM_RBUTTONUP, 0, MAKELPARAM(1, 2));
    Post(WM_MOUSEMOVE, 0, MAKELPARAM(3, 4));
    Post(WM_KEYUP, 'Q');
    Post(WM_SYSKEYDOWN, VK_F10);

    std::vector<std::pair<int32_t, std::vector<int32_t>>> seen;
    for (const SeenEvent& event : events.Events()) {
        EXPECT_EQ(event.numbers.size() == 3 ? "int int int" : "int int", event.shape);
        seen.push_back({event.eventNumber, {event.numbers.begin(), event.numbers.end() - 1}});
    }
    std::vector<std::pair<int32_t, std::vector<int32_t>>> expected = {
        {14, {-5, 300}}, {15, {-5, 300}}, {16, {32767, -32768}}, {17, {1, 2}},
        {18, {1, 2}},    {19, {3, 4}},    {23, {'Q'}},           {22, {VK_F10}}};
    EXPECT_EQ(expected, seen);
    // The left button's release was kept back by its handler; a non-zero
    // answer lets a message through.
    std::string calls = Calls().substr(mark);
    EXPECT_FALSE(EngineGot(WM_LBUTTONUP, 0, mark)) << calls;
    EXPECT_TRUE(EngineGot(WM_LBUTTONDBLCLK, 0, mark)) << calls;
    EXPECT_TRUE(EngineGot(WM_KEYUP, 'Q', mark)) << calls;
    EXPECT_TRUE(EngineGot(WM_SYSKEYDOWN, VK_F10, mark)) << calls;

    // A character handler replaces the character; 0 keeps it back.
    events.OnRaise(24, [&](const EventRecord& record) {
        int32_t code = EventArgInt(record, 0);
        events.SetAnswer(24, code == 'x'   ? std::optional<int32_t>('Y')
                             : code == 'z' ? std::optional<int32_t>(0)
                                           : std::nullopt);
    });
    mark = Calls().size();
    Post(WM_CHAR, 'x');
    Post(WM_CHAR, 'z');
    Post(WM_CHAR, 'k');
    EXPECT_TRUE(EngineGot(WM_CHAR, 'Y', mark));
    EXPECT_FALSE(EngineGot(WM_CHAR, 'x', mark));
    EXPECT_FALSE(EngineGot(WM_CHAR, 'z', mark));
    EXPECT_TRUE(EngineGot(WM_CHAR, 'k', mark));

    // Scroll messages come under the character event with the position word.
    events.Clear();
    events.OnRaise(24, nullptr);
    events.SetAnswer(24, 1);
    mark = Calls().size();
    Post(WM_VSCROLL, SB_LINEDOWN, 0);
    ASSERT_EQ(1u, events.Of(24).size());
    EXPECT_EQ("int int", events.Of(24)[0].shape);
    EXPECT_EQ(0, events.Of(24)[0].numbers[0]);
    EXPECT_TRUE(EngineGot(WM_VSCROLL, SB_LINEDOWN, mark));
}

TEST_F(FakeEngineEvents, RealKeysAreOfferedWithTheirModifiersAndCanBeSwallowed)
{
    ASSERT_TRUE(FocusEngineWindow(engineWindow));
    EventRecorder events(TestFormId, TestUnitId, {21, 22, 23});
    events.OnRaise(22, [&](const EventRecord& record) {
        events.SetAnswer(22, EventArgInt(record, 0) == 'B' ? std::optional<int32_t>(0) : std::nullopt);
    });
    // One key at a time: the modifier bits are read when a message is handled.
    size_t mark = Calls().size();
    SendKey(VK_SHIFT, true);
    ASSERT_TRUE(PumpUntil([&] { return EngineGot(WM_KEYDOWN, VK_SHIFT, mark); }, 5s)) << Calls().substr(mark);
    SendKey('B', true);
    ASSERT_TRUE(events.WaitFor(22, 2, 5s));
    SendKey('B', false);
    ASSERT_TRUE(PumpUntil([&] { return EngineGot(WM_KEYUP, 'B', mark); }, 5s)) << Calls().substr(mark);
    SendKey(VK_SHIFT, false);
    ASSERT_TRUE(PumpUntil([&] { return EngineGot(WM_KEYUP, VK_SHIFT, mark); }, 5s)) << Calls().substr(mark);
    EXPECT_FALSE(EngineGot(WM_KEYDOWN, 'B', mark)) << Calls().substr(mark);

    std::vector<SeenEvent> downs = events.Of(22);
    ASSERT_EQ(2u, downs.size());
    EXPECT_EQ((std::vector<int32_t>{'B', 2}), downs[1].numbers); // Shift held
    std::vector<SeenEvent> ups = events.Of(23);
    ASSERT_EQ(2u, ups.size());
    EXPECT_EQ((std::vector<int32_t>{VK_SHIFT, 0}), ups[1].numbers);

    // Focus leaving the view is an event too.
    SetFocus(form.Handle());
    EXPECT_TRUE(events.WaitFor(21, 1, 2s));
    EXPECT_EQ("", events.Of(21)[0].shape);
}

TEST_F(FakeEngineEvents, F5ReloadsBeforeTheKeyGoesOnUnlessTheRefreshKeyIsDisabled)
{
    EventRecorder events(TestFormId, TestUnitId, {22});
    size_t mark = Calls().size();
    Post(WM_KEYDOWN, VK_F5);
    std::string calls = Calls().substr(mark);
    size_t reload = calls.find("wkeReload");
    ASSERT_NE(std::string::npos, reload) << calls;
    EXPECT_LT(reload, calls.find(InputLine(WM_KEYDOWN, VK_F5)));
    EXPECT_EQ(1u, events.Of(22).size());

    // Other keys and system F5 do not reload.
    mark = Calls().size();
    Post(WM_KEYDOWN, VK_F6);
    Post(WM_SYSKEYDOWN, VK_F5);
    EXPECT_EQ(std::string::npos, Calls().find("wkeReload", mark));

    ASSERT_TRUE(WebViewSetProperty(TestFormId, TestUnitId, WebViewKindCode, 2, int32_t{1}));
    mark = Calls().size();
    Post(WM_KEYDOWN, VK_F5);
    EXPECT_EQ(std::string::npos, Calls().find("wkeReload", mark));
    EXPECT_TRUE(EngineGot(WM_KEYDOWN, VK_F5, mark));
}

TEST_F(FakeEngineEvents, AnInputHandlerMayCloseTheView)
{
    EventRecorder events(TestFormId, TestUnitId, {22, 24});
    events.OnRaise(22, [&](const EventRecord&) { form.Destroy(); });
    size_t mark = Calls().size();
    Post(WM_KEYDOWN, VK_F5);
    EXPECT_FALSE(IsWindow(engineWindow));
    EXPECT_EQ(1u, events.Of(22).size());
    EXPECT_EQ(std::string::npos, Calls().find("wkeReload", mark));
    EXPECT_FALSE(EngineGot(WM_KEYDOWN, VK_F5, mark));
}

// Popups

class FakeEnginePopups : public FakeEngineEvents {
protected:
    void SetUp() override
    {
        FakeEngineEvents::SetUp();
        createViewAt =
            FakeExport<wkeWebView (*)(wkeWebView, const wchar_t*, int, int, int, int)>("fakeEngineCreateViewAt");
        windowOf = FakeExport<HWND (*)(wkeWebView)>("fakeEngineWindow");
        title = FakeExport<void (*)(wkeWebView, const wchar_t*)>("fakeEngineTitle");
        ASSERT_TRUE(createViewAt && windowOf && title);
    }

    static std::wstring WindowTitle(HWND window)
    {
        wchar_t text[256] = {};
        GetWindowTextW(window, text, 256);
        return text;
    }

    wkeWebView (*createViewAt)(wkeWebView, const wchar_t*, int, int, int, int) = nullptr;
    HWND (*windowOf)(wkeWebView) = nullptr;
    void (*title)(wkeWebView, const wchar_t*) = nullptr;
};

TEST_F(FakeEnginePopups, NoPopupWhileNewWindowsAreOffOrAHandlerRefuses)
{
    EventRecorder events(TestFormId, TestUnitId, {4, 26, 27});
    size_t mark = Calls().size();
    EXPECT_EQ(nullptr, createViewAt(view, L"http://127.0.0.1/popup", 10, 10, 300, 200));
    EXPECT_EQ(1u, events.Of(4).size());

    ASSERT_TRUE(WebViewSetProperty(TestFormId, TestUnitId, WebViewKindCode, 8, int32_t{1}));
    EXPECT_NE(std::string::npos, Calls().find("wkeSetNavigationToNewWindowEnable 1", mark));
    events.SetAnswer(4, 0);
    EXPECT_EQ(nullptr, createViewAt(view, L"http://127.0.0.1/popup", 10, 10, 300, 200));
    EXPECT_EQ(2u, events.Of(4).size());
    EXPECT_EQ(0u, events.Of(26).size() + events.Of(27).size());
    EXPECT_EQ(std::string::npos, Calls().find("wkeCreateWebWindow", mark));
}

TEST_F(FakeEnginePopups, APopupIsPlacedTitledAndClosedAsHandlersSay)
{
    ASSERT_TRUE(WebViewSetProperty(TestFormId, TestUnitId, WebViewKindCode, 8, int32_t{1}));
    EventRecorder events(TestFormId, TestUnitId, {4, 26, 27, 28, 29});
    events.SetAnswer(4, 1);
    // The placement arrives by reference: the handler makes the window wider.
    events.OnRaise(26, [](const EventRecord& record) {
        *reinterpret_cast<int32_t*>(static_cast<uintptr_t>(record.args[3].value)) = 333;
    });
    size_t mark = Calls().size();
    wkeWebView popup = createViewAt(view, L"http://127.0.0.1/popup", 30, 40, 300, 200);
    ASSERT_TRUE(popup);
    HWND popupWindow = windowOf(popup);
    ASSERT_TRUE(IsWindow(popupWindow));

    ASSERT_EQ(1u, events.Of(26).size());
    EXPECT_EQ("int& int& int& int& int&", events.Of(26)[0].shape);
    EXPECT_EQ((std::vector<int32_t>{0, 30, 40, 300, 200}), events.Of(26)[0].numbers);
    ASSERT_EQ(1u, events.Of(27).size());
    EXPECT_EQ(static_cast<int32_t>(reinterpret_cast<uintptr_t>(popup)), events.Of(27)[0].numbers[0]);

    std::string calls = Calls().substr(mark);
    EXPECT_NE(std::string::npos, calls.find("wkeCreateWebWindow 0 00000000 30 40 333 200\n")) << calls;
    for (const char* registration :
         {"wkeOnCreateView", "wkeOnTitleChanged", "wkeOnWindowClosing", "wkeOnWindowDestroy"})
        EXPECT_NE(std::string::npos, calls.find(registration)) << registration;
    EXPECT_NE(std::string::npos, calls.find("wkeSetNavigationToNewWindowEnable 1")) << calls;
    EXPECT_TRUE(IsWindowVisible(popupWindow));
    EXPECT_FALSE(WindowTitle(popupWindow).empty());

    // The window title follows the popup page's title, Chinese intact.
    title(popup, L"弹出页面 ☆");
    EXPECT_EQ(L"弹出页面 ☆", WindowTitle(popupWindow));

    // A page in the popup that asks for a window is asked about on the control.
    events.SetAnswer(4, 0);
    EXPECT_EQ(nullptr, createViewAt(popup, L"http://127.0.0.1/nested", 0, 0, 100, 100));
    EXPECT_EQ(2u, events.Of(4).size());

    // A closing handler that answers false keeps the window.
    events.SetAnswer(28, 0);
    SendMessageW(popupWindow, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(popupWindow));
    EXPECT_EQ(1u, events.Of(28).size());
    EXPECT_EQ(0u, events.Of(29).size());
    events.SetAnswer(28, std::nullopt);
    SendMessageW(popupWindow, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(popupWindow));
    ASSERT_EQ(1u, events.Of(29).size());
    EXPECT_EQ(static_cast<int32_t>(reinterpret_cast<uintptr_t>(popup)), events.Of(29)[0].numbers[0]);
}

TEST_F(FakeEnginePopups, APopupOutlivingItsControlClosesQuietly)
{
    ASSERT_TRUE(WebViewSetProperty(TestFormId, TestUnitId, WebViewKindCode, 8, int32_t{1}));
    wkeWebView popup = createViewAt(view, L"http://127.0.0.1/popup", 0, 0, 0, 0);
    ASSERT_TRUE(popup);
    HWND popupWindow = windowOf(popup);
    RECT bounds{};
    GetWindowRect(popupWindow, &bounds);
    // A page that names no size still gets a usable window.
    EXPECT_GT(bounds.right - bounds.left, 100);
    EXPECT_GT(bounds.bottom - bounds.top, 100);

    EventRecorder events(TestFormId, TestUnitId, {28, 29});
    form.Destroy();
    title(popup, L"还在");
    EXPECT_EQ(L"还在", WindowTitle(popupWindow));
    SendMessageW(popupWindow, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(popupWindow));
    EXPECT_EQ(0u, events.Events().size());
}

} // namespace
