// The control against a stand-in engine that records each call: the order of
// the creation steps, what crosses the border in which encoding, the answers
// the engine gets, and what happens once a control is gone. Runs in a child
// whose program folder holds the stand-in as node.dll.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "form/ControlIds.h"
#include "form/EventTable.h"
#include "form/Form.h"
#include "webview/WebViewControl.h"
#include "engine/include/wke.h"
#include "tests/webview/FakeEngineAccess.h"
#include "tests/webview/WebViewTestSupport.h"

using namespace std::chrono_literals;

namespace {

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

std::string PointerText(const void* pointer)
{
    char text[32];
    std::snprintf(text, sizeof text, "%p", pointer);
    return text;
}

class FakeEngine : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(form.Handle()); }
    TestForm form;
};

TEST_F(FakeEngine, CreationSetsUpTheViewInOrder)
{
    size_t mark = Calls().size();
    HWND host = form.AddWebView(TestUnitId, 10, 20, 320, 240);
    ASSERT_TRUE(host);
    std::vector<std::string> lines = Lines(Calls().substr(mark));
    if (!lines.empty() && lines[0].rfind("wkeInitializeEx", 0) == 0)
        lines.erase(lines.begin());

    // Every registration carries the same user parameter: the control.
    ASSERT_GE(lines.size(), 5u);
    std::string param = lines[4].substr(lines[4].find(' ') + 1);
    EXPECT_NE("00000000", param);
    std::wstring folder = ProgramFolderPath();
    std::vector<std::string> expected = {
        "wkeCreateWebWindow 2 " + PointerText(host) + " 0 0 320 240",
        "wkeShowWindow 1",
        "wkeSetTransparent 0",
        "wkeGetWindowHandle",
        "wkeOnPaintUpdated " + param,
        "wkeSetCspCheckEnable 0",
        "wkeSetNpapiPluginsEnabled 1",
        "wkeSetNavigationToNewWindowEnable 1",
        "wkeSetLocalStorageFullPath " + Utf8(folder + L"缓存目录"),
        "wkeSetCookieJarPath " + Utf8(folder + L"cookie目录"),
        "wkeSetNavigationToNewWindowEnable 0",
    };
    for (const char* name :
         {"wkeOnTitleChanged", "wkeOnMouseOverUrlChanged", "wkeOnURLChanged2", "wkeOnAlertBox", "wkeOnConfirmBox",
          "wkeOnPromptBox", "wkeOnNavigation", "wkeOnCreateView", "wkeOnDocumentReady2", "wkeOnLoadingFinish",
          "wkeOnDownload", "wkeOnConsole", "wkeOnLoadUrlBegin", "wkeOnLoadUrlEnd"})
        expected.push_back(std::string(name) + " " + param);
    EXPECT_EQ(expected, lines);
}

TEST_F(FakeEngine, EngineStartsOnceWithTheSettingsRecord)
{
    ASSERT_TRUE(form.AddWebView(TestUnitId));
    ASSERT_TRUE(form.AddWebView(TestUnitId + 1, 400, 10));
    auto initializeCount = FakeExport<int (*)()>("fakeEngineInitializeCount");
    ASSERT_TRUE(initializeCount);
    EXPECT_EQ(1, initializeCount());
    std::string calls = Calls();
    size_t first = calls.find("wkeInitializeEx mask=4 zero\n");
    EXPECT_NE(std::string::npos, first) << calls.substr(0, 200);
    EXPECT_EQ(std::string::npos, calls.find("wkeInitializeEx", first + 1));
}

TEST_F(FakeEngine, HostAndEngineWindowsAreSetUp)
{
    HWND host = form.AddWebView(TestUnitId, 10, 20, 320, 240);
    ASSERT_TRUE(host);
    wchar_t className[64] = {};
    GetClassNameW(host, className, 64);
    EXPECT_STREQ(L"UlowkeCtrl", className);
    EXPECT_EQ(form.Handle(), GetParent(host));
    EXPECT_EQ(static_cast<int>(TestUnitId & 0xffff), GetDlgCtrlID(host));
    LONG style = GetWindowLongW(host, GWL_STYLE);
    LONG wanted = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | 0x100 | WS_TABSTOP;
    EXPECT_EQ(wanted, style & wanted) << std::hex << style;
    EXPECT_EQ(0, GetWindowLongW(host, GWL_EXSTYLE) & ~WS_EX_NOPARENTNOTIFY);

    HWND engineWindow = GetWindow(host, GW_CHILD);
    ASSERT_TRUE(engineWindow);
    EXPECT_TRUE(GetClassLongW(engineWindow, GCL_STYLE) & CS_DBLCLKS);
    auto viewProcedure = FakeExport<WNDPROC (*)()>("fakeEngineViewProcedure");
    ASSERT_TRUE(viewProcedure);
    // Subclassed, with the engine's own procedure kept in the user data slot.
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(viewProcedure()), GetWindowLongPtrW(engineWindow, GWLP_USERDATA));
    EXPECT_NE(reinterpret_cast<LONG_PTR>(viewProcedure()), GetWindowLongPtrW(engineWindow, GWLP_WNDPROC));

    // Host messages reach the engine: a resize, through the engine's API.
    size_t mark = Calls().size();
    MoveWindow(host, 10, 20, 200, 100, TRUE);
    EXPECT_NE(std::string::npos, Calls().find("wkeResize 200 100", mark));

    // On destruction the engine's procedure is back before it sees WM_DESTROY.
    form.Destroy();
    auto ownProcedure = FakeExport<bool (*)()>("fakeEngineDestroyedWithOwnProcedure");
    ASSERT_TRUE(ownProcedure);
    EXPECT_TRUE(ownProcedure());
}

TEST_F(FakeEngine, NavigateHandsBytesOverAndRaisesLoadingFinishedOnce)
{
    ASSERT_TRUE(form.AddWebView(TestUnitId));
    LoadRecorder loads(TestFormId, TestUnitId);
    EXPECT_EQ("", WebViewGetPageSource(TestFormId, TestUnitId, WebViewKindCode));

    // Not converted on the way in: code page 936 bytes arrive as they are.
    size_t mark = Calls().size();
    AnsiText rawUrl = "http://127.0.0.1/a?q=" + Cp936(L"中文");
    WebViewNavigate(TestFormId, TestUnitId, WebViewKindCode, rawUrl);
    EXPECT_NE(std::string::npos, Calls().find("wkeLoadURL " + rawUrl + "\n", mark));
    ASSERT_TRUE(loads.WaitFor(1, 5s));

    const std::string url = "http://127.0.0.1/page?x=1";
    WebViewNavigate(TestFormId, TestUnitId, WebViewKindCode, url);
    ASSERT_TRUE(loads.WaitFor(2, 5s));
    PumpFor(200ms);
    ASSERT_EQ(2u, loads.Records().size());
    const LoadRecord& load = loads.Records()[1];
    EXPECT_EQ(url, load.url);
    EXPECT_EQ(0, load.result);
    EXPECT_EQ("", load.reason);
    EXPECT_TRUE(load.argShapeOk);
    EXPECT_EQ("<html><body>" + url + "</body></html>", load.source);
}

TEST_F(FakeEngine, EventTextsAreCp936AndThePageSourceStaysUtf8)
{
    ASSERT_TRUE(form.AddWebView(TestUnitId));
    LoadRecorder loads(TestFormId, TestUnitId);
    wkeWebView view = LastView();
    auto setPage = FakeExport<void (*)(wkeWebView, const char*, const char*)>("fakeEngineSetPage");
    auto finish = FakeExport<void (*)(wkeWebView, const wchar_t*, int, const wchar_t*)>("fakeEngineFinish");
    ASSERT_TRUE(view && setPage && finish);

    std::string source = Utf8(L"<html><body>答案页面</body></html>");
    setPage(view, source.c_str(), Utf8(L"标题").c_str());
    finish(view, L"http://127.0.0.1/页面", WKE_LOADING_FAILED, L"连接被拒绝");
    ASSERT_EQ(1u, loads.Records().size());
    const LoadRecord& load = loads.Records()[0];
    EXPECT_EQ(Cp936(L"http://127.0.0.1/页面"), load.url);
    EXPECT_EQ(1, load.result);
    EXPECT_EQ(Cp936(L"连接被拒绝"), load.reason);
    EXPECT_EQ(source, load.source);

    WebViewPropertyValue title = WebViewGetProperty(TestFormId, TestUnitId, WebViewKindCode, 1);
    ASSERT_TRUE(std::holds_alternative<AnsiText>(title));
    EXPECT_EQ(Cp936(L"标题"), std::get<AnsiText>(title));
}

TEST_F(FakeEngine, UnboundCallbacksGetTheDefaultAnswersAndHandlersDecide)
{
    ASSERT_TRUE(form.AddWebView(TestUnitId));
    wkeWebView view = LastView();
    auto navigation = FakeExport<int (*)(wkeWebView, int, const wchar_t*)>("fakeEngineNavigation");
    auto confirm = FakeExport<int (*)(wkeWebView, const wchar_t*)>("fakeEngineConfirm");
    auto prompt = FakeExport<int (*)(wkeWebView, const wchar_t*, const wchar_t*)>("fakeEnginePrompt");
    auto download = FakeExport<int (*)(wkeWebView, const char*)>("fakeEngineDownload");
    auto loadBegin = FakeExport<int (*)(wkeWebView, const char*, void*)>("fakeEngineLoadUrlBegin");
    auto createView = FakeExport<int (*)(wkeWebView, const wchar_t*)>("fakeEngineCreateView");
    ASSERT_TRUE(view && navigation && confirm && prompt && download && loadBegin && createView);

    EXPECT_EQ(1, navigation(view, WKE_NAVIGATION_TYPE_LINKCLICK, L"http://127.0.0.1/"));
    EXPECT_EQ(1, confirm(view, L"确定吗"));
    EXPECT_EQ(1, prompt(view, L"输入", L"默认"));
    EXPECT_EQ(0, download(view, "http://127.0.0.1/file.zip"));
    EXPECT_EQ(0, loadBegin(view, "http://127.0.0.1/a.js", nullptr));
    EXPECT_EQ(0, createView(view, L"http://127.0.0.1/popup"));

    // A handler that returns no value leaves the default in place.
    BindEvent(TestFormId, TestUnitId, 8, [](const EventRecord&) -> std::optional<int32_t> { return std::nullopt; });
    EXPECT_EQ(1, confirm(view, L"确定吗"));

    AnsiText seenUrl;
    int32_t seenType = -1;
    BindEvent(TestFormId, TestUnitId, 3, [&](const EventRecord& record) -> std::optional<int32_t> {
        seenType = EventArgInt(record, 0);
        seenUrl = EventArgText(record, 1);
        return 0;
    });
    BindEvent(TestFormId, TestUnitId, 8, [](const EventRecord&) -> std::optional<int32_t> { return 0; });
    AnsiText downloadUrl;
    BindEvent(TestFormId, TestUnitId, 10, [&](const EventRecord& record) -> std::optional<int32_t> {
        downloadUrl = EventArgText(record, 0);
        return 1;
    });
    AnsiText beginUrl;
    BindEvent(TestFormId, TestUnitId, 11, [&](const EventRecord& record) -> std::optional<int32_t> {
        beginUrl = EventArgText(record, 0);
        return 1;
    });
    EXPECT_EQ(0, navigation(view, WKE_NAVIGATION_TYPE_FORMSUBMITTE, L"http://127.0.0.1/表单"));
    EXPECT_EQ(WKE_NAVIGATION_TYPE_FORMSUBMITTE, seenType);
    EXPECT_EQ(Cp936(L"http://127.0.0.1/表单"), seenUrl);
    EXPECT_EQ(0, confirm(view, L"确定吗"));
    // The download URL is the engine's bytes as they came; a resource URL is
    // converted from UTF-8.
    std::string utf8Url = Utf8(L"http://127.0.0.1/文件");
    EXPECT_EQ(1, download(view, utf8Url.c_str()));
    EXPECT_EQ(utf8Url, downloadUrl);
    EXPECT_EQ(1, loadBegin(view, utf8Url.c_str(), nullptr));
    EXPECT_EQ(Cp936(L"http://127.0.0.1/文件"), beginUrl);
    UnbindControlEvents(TestFormId, TestUnitId);
}

TEST_F(FakeEngine, OperationsReachOnlyTheAddressedControl)
{
    const uint32_t otherUnit = TestUnitId + 1;
    ASSERT_TRUE(form.AddWebView(TestUnitId));
    ASSERT_TRUE(form.AddWebView(otherUnit, 400, 10));
    LoadRecorder first(TestFormId, TestUnitId);
    LoadRecorder second(TestFormId, otherUnit);

    size_t mark = Calls().size();
    WebViewNavigate(TestFormId, TestUnitId, 0x00040006, "http://127.0.0.1/wrong-kind");
    WebViewNavigate(TestFormId + 1, TestUnitId, WebViewKindCode, "http://127.0.0.1/wrong-form");
    WebViewNavigate(TestFormId, TestUnitId + 2, WebViewKindCode, "http://127.0.0.1/no-such-unit");
    EXPECT_EQ(std::string::npos, Calls().find("wkeLoadURL", mark));
    EXPECT_TRUE(
        std::holds_alternative<std::monostate>(WebViewGetProperty(TestFormId, TestUnitId + 2, WebViewKindCode, 0)));

    WebViewNavigate(TestFormId, otherUnit, WebViewKindCode, "http://127.0.0.1/second");
    ASSERT_TRUE(second.WaitFor(1, 5s));
    PumpFor(100ms);
    EXPECT_EQ(0u, first.Records().size());
    EXPECT_EQ("http://127.0.0.1/second", second.Records()[0].url);
}

TEST_F(FakeEngine, ADestroyedControlIsNeverCalledBack)
{
    ASSERT_TRUE(form.AddWebView(TestUnitId));
    wkeWebView view = LastView();
    auto finish = FakeExport<void (*)(wkeWebView, const wchar_t*, int, const wchar_t*)>("fakeEngineFinish");
    auto confirm = FakeExport<int (*)(wkeWebView, const wchar_t*)>("fakeEngineConfirm");
    ASSERT_TRUE(view && finish && confirm);
    LoadRecorder loads(TestFormId, TestUnitId);

    // A load in flight when the window goes, and callbacks after it.
    WebViewNavigate(TestFormId, TestUnitId, WebViewKindCode, "http://127.0.0.1/late");
    form.Destroy();
    PumpFor(100ms);
    finish(view, L"http://127.0.0.1/late", WKE_LOADING_SUCCEEDED, L"");
    EXPECT_EQ(1, confirm(view, L"还在吗"));
    EXPECT_EQ(0u, loads.Records().size());

    size_t mark = Calls().size();
    WebViewNavigate(TestFormId, TestUnitId, WebViewKindCode, "http://127.0.0.1/after");
    EXPECT_EQ(std::string::npos, Calls().find("wkeLoadURL", mark));
    EXPECT_EQ("", WebViewGetPageSource(TestFormId, TestUnitId, WebViewKindCode));
}

TEST_F(FakeEngine, AHandlerMayDestroyTheControl)
{
    ASSERT_TRUE(form.AddWebView(TestUnitId));
    int calls = 0;
    BindEvent(TestFormId, TestUnitId, 5, [&](const EventRecord&) -> std::optional<int32_t> {
        ++calls;
        form.Destroy();
        return std::nullopt;
    });
    WebViewNavigate(TestFormId, TestUnitId, WebViewKindCode, "http://127.0.0.1/closing");
    EXPECT_TRUE(PumpUntil([&] { return calls > 0; }, 5s));
    PumpFor(100ms);
    EXPECT_EQ(1, calls);
    EXPECT_FALSE(IsWindow(form.Handle()));
    BindEvent(TestFormId, TestUnitId, 5, nullptr);
}

TEST_F(FakeEngine, PaintsReachTheHostWindow)
{
    HWND host = form.AddWebView(TestUnitId, 10, 20, 320, 240);
    ASSERT_TRUE(host);
    wkeWebView view = LastView();
    auto paint = FakeExport<void (*)(wkeWebView, COLORREF, int, int, int, int)>("fakeEnginePaint");
    ASSERT_TRUE(view && paint);
    // Keep the engine's window from painting over what the host shows.
    ShowWindow(GetWindow(host, GW_CHILD), SW_HIDE);
    PumpFor(100ms);

    auto hostPixel = [&](int x, int y) {
        HDC dc = GetDC(host);
        COLORREF colour = GetPixel(dc, x, y);
        ReleaseDC(host, dc);
        return colour;
    };
    // A partial update cannot start the buffer; a whole one does.
    paint(view, RGB(0, 0, 255), 0, 0, 100, 100);
    EXPECT_NE(RGB(0, 0, 255), hostPixel(5, 5));
    paint(view, RGB(255, 0, 0), 0, 0, 320, 240);
    EXPECT_EQ(RGB(255, 0, 0), hostPixel(5, 5));
    EXPECT_EQ(RGB(255, 0, 0), hostPixel(300, 200));
    paint(view, RGB(0, 255, 0), 0, 0, 10, 10);
    EXPECT_EQ(RGB(0, 255, 0), hostPixel(5, 5));
}

TEST_F(FakeEngine, PropertiesReadAndWriteByIndex)
{
    ASSERT_TRUE(form.AddWebView(TestUnitId));
    auto get = [](int index) { return WebViewGetProperty(TestFormId, TestUnitId, WebViewKindCode, index); };
    AnsiText folder = Cp936(ProgramFolderPath());
    EXPECT_EQ(WebViewPropertyValue(AnsiText()), get(0));
    EXPECT_EQ(WebViewPropertyValue(int32_t{0}), get(2));
    EXPECT_EQ(WebViewPropertyValue(int32_t{0}), get(3));
    EXPECT_EQ(WebViewPropertyValue(folder + Cp936(L"缓存目录")), get(4));
    EXPECT_EQ(WebViewPropertyValue(folder + Cp936(L"cookie目录")), get(5));
    EXPECT_EQ(WebViewPropertyValue(AnsiText()), get(6));
    EXPECT_EQ(WebViewPropertyValue(int32_t{0}), get(7));
    EXPECT_EQ(WebViewPropertyValue(int32_t{0}), get(8));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(get(9)));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(get(-1)));

    auto set = [](int index, WebViewPropertyValue value) {
        return WebViewSetProperty(TestFormId, TestUnitId, WebViewKindCode, index, value);
    };
    size_t mark = Calls().size();
    EXPECT_FALSE(set(1, AnsiText("title")));
    EXPECT_FALSE(set(0, int32_t{1}));
    EXPECT_FALSE(set(2, AnsiText("1")));
    EXPECT_FALSE(set(9, int32_t{1}));
    EXPECT_TRUE(set(6, AnsiText("KelvoraTest/1.0")));
    EXPECT_TRUE(set(2, int32_t{1}));
    EXPECT_TRUE(set(0, AnsiText("http://127.0.0.1/by-property")));
    EXPECT_EQ(WebViewPropertyValue(int32_t{1}), get(2));
    EXPECT_EQ(WebViewPropertyValue(AnsiText("KelvoraTest/1.0")), get(6));
    std::string calls = Calls().substr(mark);
    EXPECT_NE(std::string::npos, calls.find("wkeSetUserAgent KelvoraTest/1.0\n"));
    EXPECT_NE(std::string::npos, calls.find("wkeLoadURL http://127.0.0.1/by-property\n"));

    // CookiesEnabled and DesignPreview are kept and read back, and reach the engine in no way.
    mark = Calls().size();
    EXPECT_TRUE(set(3, int32_t{1}));
    EXPECT_TRUE(set(7, int32_t{1}));
    EXPECT_FALSE(set(3, AnsiText("1")));
    EXPECT_EQ(WebViewPropertyValue(int32_t{1}), get(3));
    EXPECT_EQ(WebViewPropertyValue(int32_t{1}), get(7));
    EXPECT_EQ("", Calls().substr(mark));
}

TEST(FakeEngineInForm, TheWindowFrameworkForgetsADestroyedHost)
{
    constexpr uint32_t formId = TestFormId + 5;
    constexpr uint32_t unitId = TestUnitId + 5;
    static const ControlLayout controls[] = {{unitId, ControlKind::WebView, 10, 10, 200, 100, "", true}};
    FormLayout layout;
    layout.formId = formId;
    layout.unitId = 0x06017777;
    layout.caption = "web view form";
    layout.width = 400;
    layout.height = 300;
    layout.controls = controls;
    layout.createWebView = CreateFormWebView;
    InitWindowFramework();
    ASSERT_TRUE(LoadWindow(layout, nullptr, false));
    HWND host = FindControlWindow(formId, unitId);
    ASSERT_TRUE(host);
    wchar_t className[64] = {};
    GetClassNameW(host, className, 64);
    EXPECT_STREQ(L"UlowkeCtrl", className);

    DestroyWindow(host);
    EXPECT_EQ(nullptr, FindControlWindow(formId, unitId));
    DestroyWindow(FindControlWindow(formId, layout.unitId));
}

TEST(WidePath, TheEngineGetsTheDefaultDirectoriesUnmangled)
{
    TestForm form;
    size_t mark = Calls().size();
    ASSERT_TRUE(form.AddWebView(TestUnitId));
    std::string calls = Calls().substr(mark);
    std::wstring folder = ProgramFolderPath();
    ASSERT_NE(std::wstring::npos, folder.find(L"한글")) << "the child runs from the odd folder";
    EXPECT_NE(std::string::npos, calls.find("wkeSetLocalStorageFullPath " + Utf8(folder + L"缓存目录") + "\n"))
        << calls;
    EXPECT_NE(std::string::npos, calls.find("wkeSetCookieJarPath " + Utf8(folder + L"cookie目录") + "\n")) << calls;
}

std::string BlockRecord(int index, const std::string& text)
{
    std::string record{static_cast<char>(index), 1};
    uint32_t cb = static_cast<uint32_t>(text.size());
    record.append(reinterpret_cast<const char*>(&cb), 4);
    return record + text;
}

TEST_F(FakeEngine, StoredPropertyBlockReplacesTheDefaults)
{
    std::string block = BlockRecord(6, "Agent/2") + BlockRecord(0, "http://127.0.0.1/start");
    size_t mark = Calls().size();
    ASSERT_TRUE(form.AddWebView(TestUnitId, 10, 10, 320, 240, block.data(), block.size()));
    std::string calls = Calls().substr(mark);
    size_t agent = calls.find("wkeSetUserAgent Agent/2\n");
    size_t load = calls.find("wkeLoadURL http://127.0.0.1/start\n");
    EXPECT_NE(std::string::npos, agent);
    EXPECT_NE(std::string::npos, load);
    EXPECT_LT(agent, load);

    // A block that cannot be read: no control, no window left behind.
    std::string truncated = block.substr(0, block.size() - 3);
    EXPECT_FALSE(form.AddWebView(TestUnitId + 1, 10, 10, 320, 240, truncated.data(), truncated.size()));
    std::string unknown = BlockRecord(1, "title");
    EXPECT_FALSE(form.AddWebView(TestUnitId + 1, 10, 10, 320, 240, unknown.data(), unknown.size()));
    EXPECT_EQ(1, WebViewHostCount(form.Handle()));
}

} // namespace
