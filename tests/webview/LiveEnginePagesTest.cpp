// Pages with scripts in the real engine, through the control: dialogs and the
// console reach their handlers and take their answers back, links report the
// hovered URL, window.open makes a popup only when new windows are allowed,
// and a page's script can neither create objects nor hang the window.
#include <gtest/gtest.h>

#include "engine/include/wke.h"
#include "tests/support/ScratchDirectory.h"
#include "tests/webview/LiveViewTest.h"

using namespace std::chrono_literals;

namespace {

constexpr auto LoadTimeout = 15s;

// A UTF-8 page with the given head and body.
Reply Page(const std::wstring& head, const std::wstring& body = L"x")
{
    return Reply::Ok(Utf8(L"<html><head>" + head + L"</head><body>" + body + L"</body></html>"),
                     "text/html; charset=utf-8");
}

// The dialogs' answers, as the page sees them, end up in its title.
const std::wstring DialogScript = L"<title>开始</title><script>"
                                  L"alert('提示消息');"
                                  L"var c = confirm('确定吗');"
                                  L"var p = prompt('请输入', '默认值');"
                                  L"console.log('控制台消息');"
                                  L"document.title = 'c=' + c + ' p=' + p;"
                                  L"</script>";

class RealEnginePages : public LiveViewTest {
protected:
    void SetUp() override
    {
        LiveViewTest::SetUp();
        server.AddRoute("/dialogs", Page(DialogScript));
    }

    // The page's title after its load has finished.
    AnsiText LoadAndReadTitle(EventRecorder& events, const std::string& path)
    {
        size_t before = events.Of(5).size();
        Navigate(server.Url(path));
        if (!events.WaitFor(5, before + 1, LoadTimeout))
            return "(no load)";
        WebViewPropertyValue title = WebViewGetProperty(TestFormId, TestUnitId, WebViewKindCode, 1);
        return std::holds_alternative<AnsiText>(title) ? std::get<AnsiText>(title) : AnsiText("(none)");
    }
};

TEST_F(RealEnginePages, DialogsAndTheConsoleReachTheirHandlersAndTakeTheirAnswersBack)
{
    EventRecorder events(TestFormId, TestUnitId, {1, 5, 6, 7, 8, 9});
    events.SetAnswer(8, 0);
    events.SetAnswer(9, 1);
    EXPECT_EQ(Cp936(L"c=false p=默认值"), LoadAndReadTitle(events, "/dialogs"));

    ASSERT_EQ(1u, events.Of(7).size());
    EXPECT_EQ("text&", events.Of(7)[0].shape);
    EXPECT_EQ(Cp936(L"提示消息"), events.Of(7)[0].texts[0]);
    ASSERT_EQ(1u, events.Of(8).size());
    EXPECT_EQ(Cp936(L"确定吗"), events.Of(8)[0].texts[0]);
    ASSERT_EQ(1u, events.Of(9).size());
    EXPECT_EQ("text& text&", events.Of(9)[0].shape);
    EXPECT_EQ((std::vector<AnsiText>{Cp936(L"请输入"), Cp936(L"默认值")}), events.Of(9)[0].texts);

    ASSERT_EQ(1u, events.Of(6).size());
    const SeenEvent console = events.Of(6)[0];
    EXPECT_EQ("int text text int text", console.shape);
    EXPECT_EQ(wkeLevelLog, console.numbers[0]);
    EXPECT_EQ(Cp936(L"控制台消息"), console.texts[1]);
    EXPECT_EQ(server.Url("/dialogs"), console.texts[2]);

    // The script's title write is a title change like any other.
    ASSERT_FALSE(events.Of(1).empty());
    EXPECT_EQ(Cp936(L"c=false p=默认值"), events.Of(1).back().texts[0]);

    // A prompt cancelled by its handler gives the page null.
    events.SetAnswer(8, 1);
    events.SetAnswer(9, 0);
    EXPECT_EQ("c=true p=null", LoadAndReadTitle(events, "/dialogs"));
}

TEST_F(RealEnginePages, UnboundDialogsAnswerTrueAndShowNothing)
{
    MessageBoxWatcher boxes;
    EventRecorder events(TestFormId, TestUnitId, {5});
    EXPECT_EQ(Cp936(L"c=true p=默认值"), LoadAndReadTitle(events, "/dialogs"));
    PumpFor(200ms);
    EXPECT_EQ(0u, boxes.Boxes().size());
}

TEST_F(RealEnginePages, AHoveredLinkReportsItsUrl)
{
    server.AddRoute("/links", Page(L"<title>links</title>", L"<a href=\"/target?x=1\">一个很长很长很长的链接文字</a>"));
    EventRecorder events(TestFormId, TestUnitId, {5, 13, 19});
    Navigate(server.Url("/links"));
    ASSERT_TRUE(events.WaitFor(5, 1, LoadTimeout));

    // The link is somewhere near the top left: sweep the mouse until the
    // engine reports it.
    bool hovered = false;
    for (int y = 2; y < 120 && !hovered; y += 4) {
        for (int x = 2; x < 300 && !hovered; x += 12) {
            PostMessageW(engineWindow, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
            PumpFor(1ms);
            hovered = !events.Of(13).empty();
        }
    }
    ASSERT_TRUE(hovered);
    EXPECT_EQ("text&", events.Of(13)[0].shape);
    EXPECT_EQ(server.Url("/target?x=1"), events.Of(13)[0].texts[0]);
    EXPECT_FALSE(events.Of(19).empty()) << "mouse moves are offered to the program too";
}

TEST_F(RealEnginePages, WindowOpenMakesNoPopupWhileNewWindowsAreOff)
{
    server.AddRoute("/opener", Page(L"<script>window.open('/popup', '_blank', 'width=300,height=200');</script>"));
    server.AddRoute("/popup", Page(L"<title>弹出标题</title>"));
    EventRecorder events(TestFormId, TestUnitId, {4, 5, 26, 27});
    Navigate(server.Url("/opener"));
    ASSERT_TRUE(events.WaitFor(5, 1, LoadTimeout));
    PumpFor(500ms);
    ASSERT_EQ(1u, events.Of(4).size());
    EXPECT_EQ("int text&", events.Of(4)[0].shape);
    EXPECT_EQ(server.Url("/popup"), events.Of(4)[0].texts[1]);
    EXPECT_EQ(0u, events.Of(26).size() + events.Of(27).size());
    EXPECT_EQ(0u, RequestsFor("/popup"));
}

TEST_F(RealEnginePages, APopupTakesItsPageTitleAndReportsItsClosing)
{
    server.AddRoute("/opener",
                    Page(L"<script>window.open('/popup', '_blank', 'left=20,top=30,width=300,height=200');</script>"));
    server.AddRoute("/popup", Page(L"<title>弹出标题</title>"));
    ASSERT_TRUE(WebViewSetProperty(TestFormId, TestUnitId, WebViewKindCode, 8, int32_t{1}));
    EventRecorder events(TestFormId, TestUnitId, {4, 5, 26, 27, 28, 29});
    Navigate(server.Url("/opener"));
    ASSERT_TRUE(events.WaitFor(27, 1, LoadTimeout));
    ASSERT_EQ(1u, events.Of(26).size());
    EXPECT_EQ((std::vector<int32_t>{0, 20, 30, 300, 200}), events.Of(26)[0].numbers);

    auto windowOf = reinterpret_cast<HWND (*)(wkeWebView)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"node.dll"), "wkeGetWindowHandle")));
    ASSERT_TRUE(windowOf);
    auto popup =
        reinterpret_cast<wkeWebView>(static_cast<uintptr_t>(static_cast<uint32_t>(events.Of(27)[0].numbers[0])));
    HWND popupWindow = windowOf(popup);
    ASSERT_TRUE(IsWindow(popupWindow));
    EXPECT_TRUE(IsWindowVisible(popupWindow));
    auto windowTitle = [&] {
        wchar_t text[256] = {};
        GetWindowTextW(popupWindow, text, 256);
        return std::wstring(text);
    };
    EXPECT_TRUE(PumpUntil([&] { return windowTitle() == L"弹出标题"; }, LoadTimeout)) << Utf8(windowTitle());
    EXPECT_EQ(1u, RequestsFor("/popup"));

    PostMessageW(popupWindow, WM_CLOSE, 0, 0);
    ASSERT_TRUE(events.WaitFor(29, 1, 10s));
    EXPECT_FALSE(IsWindow(popupWindow));
    EXPECT_EQ(1u, events.Of(28).size());
    EXPECT_EQ(events.Of(27)[0].numbers, events.Of(29)[0].numbers);
}

TEST_F(RealEnginePages, APageScriptCreatesNoObjects)
{
    ScratchDirectory scratch;
    ASSERT_FALSE(scratch.Path().empty());
    std::wstring victim = scratch.Path() + L"\\created-by-page.txt";
    std::wstring escaped;
    for (wchar_t c : victim)
        escaped += c == L'\\' ? std::wstring(L"\\\\") : std::wstring(1, c);
    server.AddRoute("/activex", Page(L"<title>start</title><script>"
                                     L"var made = 'none';"
                                     L"try { var fso = new ActiveXObject('Scripting.FileSystemObject');"
                                     L"      fso.CreateTextFile('" +
                                     escaped +
                                     L"').Close(); made = 'file'; } catch (e) {}"
                                     L"try { new ActiveXObject('WScript.Shell'); made += ' shell'; } catch (e) {}"
                                     L"document.title = made;"
                                     L"</script>"));
    EventRecorder events(TestFormId, TestUnitId, {5});
    EXPECT_EQ("none", LoadAndReadTitle(events, "/activex"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(victim.c_str()));
}

TEST_F(RealEnginePages, AnEndlessScriptIsStoppedAndTheWindowKeepsAnswering)
{
    server.AddRoute("/endless", Page(L"<title>endless</title><script>for (;;) {}</script>"));
    EventRecorder events(TestFormId, TestUnitId, {5, 6});
    Navigate(server.Url("/endless"));
    auto started = std::chrono::steady_clock::now();
    // While the script spins, the window still answers at once.
    PumpFor(1s);
    DWORD_PTR answer = 0;
    EXPECT_NE(0, SendMessageTimeoutW(engineWindow, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer));
    EXPECT_NE(0, SendMessageTimeoutW(form.Handle(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer));

    ASSERT_TRUE(events.WaitFor(5, 1, 20s));
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("endless script stopped, load finished after %.1f s\n", seconds);
    EXPECT_EQ(WKE_LOADING_SUCCEEDED, events.Of(5)[0].numbers[1]);
    EXPECT_FALSE(events.Of(6).empty()) << "the console tells that the script was stopped";

    // The view goes on loading pages.
    EXPECT_EQ(Cp936(L"c=true p=默认值"), LoadAndReadTitle(events, "/dialogs"));
}

} // namespace
