// Pages with scripts: what a script asks of the view reaches the host's
// callbacks on the view's thread, the host's answers reach the script, and a
// hostile script is confined (no objects, no endless run).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "tests/engine/EngineHarness.h"
#include "tests/support/LoopbackServer.h"

namespace {

struct ConsoleRecord {
    wkeConsoleLevel level;
    std::string message, source;
    unsigned line;
};

// A view with the script callbacks recorded and answered as the test says.
class ScriptedView : public ViewHarness {
public:
    ScriptedView()
    {
        const EngineApi& api = Api();
        api.onAlertBox(
            View(), [](wkeWebView, void* p, const wkeString msg) { NoteText(p, "alert", &ScriptedView::alerts, msg); },
            this);
        api.onConfirmBox(
            View(),
            [](wkeWebView, void* p, const wkeString msg) {
                NoteText(p, "confirm", &ScriptedView::confirms, msg);
                return static_cast<ScriptedView*>(p)->confirmAnswer;
            },
            this);
        api.onPromptBox(
            View(),
            [](wkeWebView, void* p, const wkeString msg, const wkeString def, wkeString result) {
                auto* self = static_cast<ScriptedView*>(p);
                self->OnCallback("prompt");
                self->prompts.push_back(Utf8(self->Api(), msg) + "|" + Utf8(self->Api(), def) + "|" +
                                        Utf8(self->Api(), result));
                return self->promptAnswer;
            },
            this);
        api.onConsole(
            View(),
            [](wkeWebView, void* p, wkeConsoleLevel level, const wkeString msg, const wkeString source, unsigned line,
               const wkeString) {
                auto* self = static_cast<ScriptedView*>(p);
                self->OnCallback("console");
                self->console.push_back({level, Utf8(self->Api(), msg), Utf8(self->Api(), source), line});
            },
            this);
        api.onMouseOverUrlChanged(
            View(),
            [](wkeWebView, void* p, const wkeString url) {
                auto* self = static_cast<ScriptedView*>(p);
                self->hovered.push_back(Utf8(self->Api(), url));
            },
            this);
        api.onNavigation(
            View(),
            [](wkeWebView, void* p, wkeNavigationType type, wkeString url) {
                auto* self = static_cast<ScriptedView*>(p);
                const std::string target = Utf8(self->Api(), url);
                self->navigations.push_back({type, target});
                return target.find("refused") == std::string::npos;
            },
            this);
    }

    std::string Title() const { return Api().getTitle(View()); }
    bool WaitForTitle(const std::string& title, DWORD timeoutMs = 10000)
    {
        return PumpUntil([&] { return Title() == title; }, timeoutMs);
    }
    const ConsoleRecord* FindConsole(const std::string& fragment) const
    {
        for (const ConsoleRecord& record : console) {
            if (record.message.find(fragment) != std::string::npos)
                return &record;
        }
        return nullptr;
    }

    std::vector<std::string> alerts, confirms, prompts, hovered;
    std::vector<ConsoleRecord> console;
    std::vector<std::pair<wkeNavigationType, std::string>> navigations;
    bool confirmAnswer = true;
    bool promptAnswer = true;
};

class EngineScripts : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, EngineApi::Get()) << "node.dll could not be loaded from KELVORA_ENGINE";
        ASSERT_TRUE(server.Start());
    }
    std::string Page(const std::string& body)
    {
        return "<html><head><title>T</title></head><body>" + body + "</body></html>";
    }
    // Serves the page at `path`, loads it in a fresh view and gives the title
    // its scripts left; each script error is a failure of the test.
    std::string TitleOfScriptedPage(const std::string& path, const std::string& page)
    {
        server.AddRoute(path, Reply::Ok(page));
        ScriptedView view;
        view.Load(server.Url(path));
        if (!view.WaitForFinishes(1)) {
            ADD_FAILURE() << path << " did not finish loading";
            return {};
        }
        for (const ConsoleRecord& record : view.console)
            ADD_FAILURE() << path << " line " << record.line << ": " << record.message;
        return view.Title();
    }

    LoopbackServer server;
};

TEST_F(EngineScripts, DialogAnswersReachTheScript)
{
    server.AddRoute("/d",
                    Reply::Ok(Page("<script>alert('\xE4\xBD\xA0\xE5\xA5\xBD'); var c = confirm('sure?');"
                                   "var p = prompt('name?', 'def'); document.title = 'c=' + c + ',p=' + p;</script>")));
    {
        ScriptedView view;
        view.confirmAnswer = false;
        view.promptAnswer = true;
        view.Load(server.Url("/d"));
        ASSERT_TRUE(view.WaitForFinishes(1));
        EXPECT_EQ(WKE_LOADING_SUCCEEDED, view.finishes[0].result);
        EXPECT_EQ(std::vector<std::string>{"\xE4\xBD\xA0\xE5\xA5\xBD"}, view.alerts);
        EXPECT_EQ(std::vector<std::string>{"sure?"}, view.confirms);
        EXPECT_EQ(std::vector<std::string>{"name?|def|def"}, view.prompts) << "the result holds the default on entry";
        EXPECT_EQ("c=false,p=def", view.Title());
        ASSERT_FALSE(view.titles.empty());
        EXPECT_EQ("c=false,p=def", view.titles.back()) << "a title write fires the title callback";
        EXPECT_FALSE(view.wrongThread);
    }
    {
        ScriptedView view;
        view.promptAnswer = false;
        view.Load(server.Url("/d"));
        ASSERT_TRUE(view.WaitForFinishes(1));
        EXPECT_EQ("c=true,p=null", view.Title()) << "a cancelled prompt gives null";
    }
    {
        // Nobody registered: alert does nothing, confirm is true, prompt gives the default.
        ViewHarness view;
        view.Load(server.Url("/d"));
        ASSERT_TRUE(view.WaitForFinishes(1));
        EXPECT_STREQ("c=true,p=def", view.Api().getTitle(view.View()));
    }
}

TEST_F(EngineScripts, ConsoleAndErrorsCarryLevelSourceAndLine)
{
    const std::string page = "<html><body>\n"
                             "<script>console.log('one', 1)</script>\n"
                             "<script>console.info('two'); console.warn('three')</script>\n"
                             "<script>\nconsole.error('four')</script>\n"
                             "<script>var x = ;</script>\n"
                             "<script>\n\nnoSuchFunction();</script>\n"
                             "<script>document.title = 'went on'</script>\n"
                             "</body></html>";
    server.AddRoute("/c", Reply::Ok(page));
    ScriptedView view;
    view.Load(server.Url("/c"));
    ASSERT_TRUE(view.WaitForFinishes(1));
    EXPECT_EQ(WKE_LOADING_SUCCEEDED, view.finishes[0].result) << "script errors do not fail the load";
    EXPECT_EQ("went on", view.Title()) << "a failing block does not stop the next one";
    ASSERT_GE(view.console.size(), 6u);
    EXPECT_EQ(wkeLevelLog, view.console[0].level);
    EXPECT_EQ("one 1", view.console[0].message);
    EXPECT_EQ(server.Url("/c"), view.console[0].source);
    EXPECT_EQ(2u, view.console[0].line);
    EXPECT_EQ(wkeLevelInfo, view.console[1].level);
    EXPECT_EQ(wkeLevelWarning, view.console[2].level);
    EXPECT_EQ("three", view.console[2].message);
    EXPECT_EQ(wkeLevelError, view.console[3].level);
    EXPECT_EQ("four", view.console[3].message);
    // The syntax error and the run-time error, with their lines in the page.
    EXPECT_EQ(wkeLevelError, view.console[4].level);
    EXPECT_FALSE(view.console[4].message.empty());
    EXPECT_EQ(6u, view.console[4].line);
    EXPECT_EQ(wkeLevelError, view.console[5].level);
    EXPECT_EQ(9u, view.console[5].line);
    EXPECT_EQ(server.Url("/c"), view.console[5].source);
}

TEST_F(EngineScripts, DocumentWriteIsShownWhereTheScriptStands)
{
    const std::string page =
        "<html><body><script>document.write('<a href=\"/written\">WRITTEN LINK TEXT</a>')</script></body></html>";
    server.AddRoute("/w", Reply::Ok(page));
    server.AddRoute("/written", Reply::Ok("<body>followed</body>"));
    ScriptedView view;
    view.Load(server.Url("/w"));
    ASSERT_TRUE(view.WaitForFinishes(1));
    EXPECT_EQ(page, view.Source()) << "the source stays as served";
    // The written link is the page's first text: hover and click it.
    const HWND window = view.Api().getWindowHandle(view.View());
    SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(14, 14));
    ASSERT_EQ(1u, view.hovered.size());
    EXPECT_EQ(server.Url("/written"), view.hovered[0]);
    SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(390, 290));
    ASSERT_EQ(2u, view.hovered.size());
    EXPECT_EQ("", view.hovered[1]) << "leaving the link clears it";
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(14, 14));
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(14, 14));
    ASSERT_TRUE(view.WaitForFinishes(2));
    EXPECT_EQ(WKE_LOADING_SUCCEEDED, view.finishes[1].result);
    ASSERT_EQ(2u, view.navigations.size());
    EXPECT_EQ(WKE_NAVIGATION_TYPE_LINKCLICK, view.navigations[1].first);
    EXPECT_EQ(server.Url("/written"), view.navigations[1].second);
    EXPECT_EQ("<body>followed</body>", view.Source());
}

TEST_F(EngineScripts, LinkClickIsCancellableAndPressElsewhereIsNoClick)
{
    server.AddRoute("/l", Reply::Ok("<body><a href=\"/refused\">REFUSED LINK TEXT</a></body>"));
    ScriptedView view;
    view.Load(server.Url("/l"));
    ASSERT_TRUE(view.WaitForFinishes(1));
    const HWND window = view.Api().getWindowHandle(view.View());
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(390, 290));
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(14, 14));
    view.PumpFor(200);
    EXPECT_EQ(1u, view.navigations.size()) << "press outside, release on the link: no click";
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(14, 14));
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(14, 14));
    ASSERT_TRUE(view.WaitForFinishes(2));
    EXPECT_EQ(WKE_LOADING_CANCELED, view.finishes[1].result);
    EXPECT_EQ(1u, server.RequestCount()) << "a refused link is not fetched";
    EXPECT_EQ("<body><a href=\"/refused\">REFUSED LINK TEXT</a></body>", view.Source()) << "the page stays";
}

TEST_F(EngineScripts, LocationNavigatesThroughTheNormalPathAndCanBeRefused)
{
    server.AddRoute("/from", Reply::Ok(Page("<script>location.href = 'to?x=1'</script>")));
    server.AddRoute("/to", Reply::Ok("<body>arrived</body>"));
    server.AddRoute("/stay", Reply::Ok(Page("<script>location.assign('/refused')</script>")));
    ScriptedView view;
    view.Load(server.Url("/from"));
    ASSERT_TRUE(view.WaitForFinishes(2));
    EXPECT_EQ(WKE_LOADING_SUCCEEDED, view.finishes[0].result) << "the page with the script finishes first";
    EXPECT_EQ(server.Url("/to?x=1"), view.finishes[1].url);
    EXPECT_EQ("<body>arrived</body>", view.Source());

    view.Load(server.Url("/stay"));
    ASSERT_TRUE(view.WaitForFinishes(4));
    EXPECT_EQ(WKE_LOADING_CANCELED, view.finishes[3].result);
    EXPECT_EQ(server.Url("/refused"), view.navigations.back().second);
    for (const RecordedRequest& request : server.Requests())
        EXPECT_NE("/refused", request.Path());
}

TEST_F(EngineScripts, CookiesReadAndWrittenByScript)
{
    Reply page = Reply::Ok(Page("<script>document.title = document.cookie; document.cookie = 'js=3; path=/';"
                                "setTimeout(function () { location.href = '/next' }, 10)</script>"));
    page.headers.push_back({"Set-Cookie", "a=1; path=/"});
    page.headers.push_back({"Set-Cookie", "h=2; path=/; HttpOnly"});
    server.AddRoute("/set", page);
    server.AddRoute("/next", Reply::Ok("<body>next</body>"));
    ScriptedView view;
    view.Load(server.Url("/set"));
    ASSERT_TRUE(view.WaitForFinishes(2));
    EXPECT_EQ("<body>next</body>", view.Source());
    const auto requests = server.Requests();
    ASSERT_EQ(2u, requests.size());
    const std::string sent = requests[1].Header("Cookie");
    EXPECT_NE(std::string::npos, sent.find("js=3")) << sent;
    EXPECT_NE(std::string::npos, sent.find("h=2")) << sent;
    // The script read exactly the cookie it may see: HttpOnly ones are not for scripts.
    EXPECT_NE(view.titles.end(), std::find(view.titles.begin(), view.titles.end(), "a=1"));
}

TEST_F(EngineScripts, TimersRunLaterAndCanBeCleared)
{
    server.AddRoute("/t",
                    Reply::Ok(Page("<script>var order = '';"
                                   "setTimeout(function () { order += 'a'; document.title = order }, 30);"
                                   "var never = setTimeout(function () { order += 'x' }, 10); clearTimeout(never);"
                                   "setTimeout(\"order += 'b'; document.title = order\", 120);"
                                   "document.title = 'loaded'</script>")));
    ScriptedView view;
    view.Load(server.Url("/t"));
    ASSERT_TRUE(view.WaitForFinishes(1));
    EXPECT_EQ("loaded", view.Title()) << "no timer runs before the page's own scripts end";
    EXPECT_TRUE(view.WaitForTitle("ab", 5000)) << view.Title();
    view.PumpFor(150);
    EXPECT_EQ("ab", view.Title());
}

TEST_F(EngineScripts, WindowOpenAsksTheHostForAView)
{
    server.AddRoute("/opener",
                    Reply::Ok(Page("<script>var w = window.open('/popup', 'n', 'width=320,height=240,left=5,top=6');"
                                   "document.title = w ? 'opened' : 'none'</script>")));
    server.AddRoute("/popup", Reply::Ok("<body>popup</body>"));
    struct Request {
        std::string url;
        wkeWindowFeatures features{};
        wkeWebView made = nullptr;
        bool give = true;
    } request;
    ScriptedView view;
    view.Api().onCreateView(
        view.View(),
        [](wkeWebView, void* p, wkeNavigationType, const wkeString url, const wkeWindowFeatures* features) {
            auto* r = static_cast<Request*>(p);
            const wchar_t* wide = EngineApi::Get()->getStringW(url);
            r->url.assign(wide, wide + wcslen(wide));
            r->features = *features;
            if (r->give)
                r->made = EngineApi::Get()->createWebWindow(WKE_WINDOW_TYPE_POPUP, nullptr, features->x, features->y,
                                                            features->width, features->height);
            return r->give ? r->made : nullptr;
        },
        &request);
    view.Load(server.Url("/opener"));
    ASSERT_TRUE(view.WaitForFinishes(1));
    EXPECT_EQ(server.Url("/popup"), request.url);
    EXPECT_EQ(320, request.features.width);
    EXPECT_EQ(240, request.features.height);
    EXPECT_EQ(5, request.features.x);
    EXPECT_EQ(6, request.features.y);
    EXPECT_EQ("opened", view.Title());
    ASSERT_NE(nullptr, request.made);
    ASSERT_TRUE(view.PumpUntil([&] {
        const char* s = view.Api().getSource(request.made);
        return s && std::string(s) == "<body>popup</body>";
    }));
    DestroyWindow(view.Api().getWindowHandle(request.made));

    request.give = false;
    view.Api().reload(view.View());
    ASSERT_TRUE(view.WaitForFinishes(2));
    EXPECT_EQ("none", view.Title());
}

TEST_F(EngineScripts, HostMayLoadOrDestroyTheViewInsideAScriptCallback)
{
    server.AddRoute("/a",
                    Reply::Ok(Page("<script>alert('first'); alert('second'); document.title = 'ran on'</script>")));
    {
        // A load asked for inside the callback replaces the page once the script is done.
        ScriptedView view;
        view.Api().onAlertBox(
            view.View(),
            [](wkeWebView v, void* p, const wkeString) {
                auto* self = static_cast<ScriptedView*>(p);
                self->alerts.push_back("alert");
                if (self->alerts.size() == 1)
                    self->Api().loadHtml(v, "<body>second</body>");
            },
            &view);
        view.Load(server.Url("/a"));
        ASSERT_TRUE(view.WaitForFinishes(2));
        view.PumpFor(200);
        ASSERT_EQ(2u, view.finishes.size());
        EXPECT_EQ(WKE_LOADING_CANCELED, view.finishes[0].result);
        EXPECT_EQ(WKE_LOADING_SUCCEEDED, view.finishes[1].result);
        EXPECT_EQ("<body>second</body>", view.Source());
        EXPECT_EQ(2u, view.alerts.size()) << "the script runs to its end";
    }
    {
        // Destroyed inside the callback: nothing comes after that, and nothing breaks.
        ScriptedView view;
        view.Api().onAlertBox(
            view.View(),
            [](wkeWebView, void* p, const wkeString) {
                auto* self = static_cast<ScriptedView*>(p);
                self->alerts.push_back("alert");
                self->DestroyParent();
            },
            &view);
        view.Load(server.Url("/a"));
        view.PumpUntil([&] { return !view.alerts.empty(); });
        view.PumpFor(300);
        EXPECT_EQ(1u, view.alerts.size());
        EXPECT_TRUE(view.finishes.empty());
        EXPECT_EQ(nullptr, view.Api().getWindowHandle(view.View()));
    }
}

TEST_F(EngineScripts, BlocksWrappedInHtmlCommentsRun)
{
    // How pages hid scripts from browsers without them.
    const std::string page =
        "<html><head><title>T</title>\n"
        "<script type=\"text/javascript\">\n<!--\nvar order = 'a';\n//-->\n</script>\n"
        "<script><!-- hide from old browsers\norder += 'b';\n// --></script>\n"
        "<script language=\"JavaScript\">\n<!--\norder += 'c'; document.title = order;\n-->\n</script>\n"
        "</head><body>x</body></html>";
    EXPECT_EQ("abc", TitleOfScriptedPage("/old", page));
}

TEST_F(EngineScripts, WindowIsTheGlobalObject)
{
    const std::string page = Page("<script>var r = [];\n"
                                  "window.a = 1; r.push(a);\n"
                                  "var g = 2; r.push(window.g);\n"
                                  "this.y = 3; r.push(window.y);\n"
                                  "function f() { return 4 } r.push(window.f());\n"
                                  "window.h = function () { return 5 }; r.push(h());\n"
                                  "a = 6; window.g = 7; r.push(window.a, g);\n"
                                  "r.push(typeof window.nothing, typeof nothing);\n"
                                  "</script>\n"
                                  "<script>r.push(a + g + y, self.y, window.window.g, top.f());\n"
                                  "try { undefinedName; r.push('no error') } catch (e) { r.push('error') }\n"
                                  "window.document.title = r.join(',');</script>");
    EXPECT_EQ("1,2,3,4,5,6,7,undefined,undefined,16,3,7,4,error", TitleOfScriptedPage("/g", page));
}

TEST_F(EngineScripts, ScriptsAfterALongTextStillRun)
{
    std::string text;
    while (text.size() < 300 * 1024)
        text += "a line of visible text on a long documentation page ";
    EXPECT_EQ(
        "ran at the end",
        TitleOfScriptedPage("/long", Page("<p>" + text + "</p><script>document.title = 'ran at the end'</script>")));
}

TEST_F(EngineScripts, LookupPageReadsTheDocument)
{
    const std::string body =
        "<div id=\"q\">Q <b>bold</b><br>next &amp; more</div>"
        "<input id=\"k\" type=\"hidden\" value=\"key&amp;1\"><textarea id=\"t\">a &lt; b</textarea>"
        "<script>var order = 'blocks';\n"
        "window.onload = function () {\n"
        "  var q = document.getElementById('q');\n"
        "  var parts = [q.innerHTML, q.innerText, document.getElementById('k').value, document.getElementById('t').value,\n"
        "               document.getElementById('none') === null, document.body.innerText.indexOf('next & more') >= 0,\n"
        "               navigator.userAgent, typeof q.value, q.tagName, q.id];\n"
        "  q.innerHTML = 'changed'; parts.push(document.getElementById('q').innerHTML, document.getElementById('q') === q);\n"
        "  order += ',onload'; parts.push(order);\n"
        "  document.title = parts.join('|');\n"
        "};\n"
        "window.addEventListener('load', function () { order += ',listener'; document.title += '|' + order }, false);\n"
        "document.addEventListener('DOMContentLoaded', function () {\n"
        "  for (var i = 0; i < 100; ++i) document.addEventListener('DOMContentLoaded', function () {});\n"
        "}, false);\n"
        "</script>";
    server.AddRoute("/lookup", Reply::Ok(Page(body)));
    ScriptedView view;
    view.Api().setUserAgent(view.View(), "KelvoraTest/1.0");
    view.Load(server.Url("/lookup"));
    ASSERT_TRUE(view.WaitForFinishes(1));
    EXPECT_EQ(
        "Q <b>bold</b><br>next &amp; more|Q bold\nnext & more|key&1|a < b|true|true|KelvoraTest/1.0|undefined|DIV|q"
        "|changed|true|blocks,onload|blocks,onload,listener",
        view.Title());
    for (const ConsoleRecord& record : view.console)
        ADD_FAILURE() << "line " << record.line << ": " << record.message;

    server.AddRoute("/agent", Reply::Ok(Page("<script>document.title = navigator.userAgent</script>")));
    ScriptedView plain;
    plain.Load(server.Url("/agent"));
    ASSERT_TRUE(plain.WaitForFinishes(1));
    EXPECT_EQ(0u, plain.Title().find("Mozilla/5.0")) << plain.Title();
    EXPECT_EQ(plain.Title(), server.Requests().back().Header("User-Agent")) << "the agent the page was fetched with";

    // <body onload> without any script block; a script's window.onload takes its place.
    server.AddRoute(
        "/attribute",
        Reply::Ok("<html><body onload=\"document.title = 'from ' + document.getElementById('x').innerText\">"
                  "<span id=x>body onload</span></body></html>"));
    server.AddRoute(
        "/replaced",
        Reply::Ok("<html><body onload=\"document.title = 'attribute'\">"
                  "<script>window.onload = function () { document.title = 'script' }</script></body></html>"));
    ScriptedView attribute;
    attribute.Load(server.Url("/attribute"));
    ASSERT_TRUE(attribute.WaitForFinishes(1));
    EXPECT_EQ("from body onload", attribute.Title());
    attribute.Load(server.Url("/replaced"));
    ASSERT_TRUE(attribute.WaitForFinishes(2));
    EXPECT_EQ("script", attribute.Title());
}

TEST_F(EngineScripts, ElementLookupsInAnEndlessLoopAreStopped)
{
    // Each lookup reads the page; that time is the script's, so the budget ends the loop.
    std::string text;
    while (text.size() < 2 * 1024 * 1024)
        text += "<p>paragraph of a large page</p>\n";
    server.AddRoute(
        "/lookups",
        Reply::Ok(Page(
            text + "<script>document.title = 'looking';"
                   "for (var i = 0;; ++i) { document.getElementById('x' + i); document.body.innerText }</script>")));
    ScriptedView view;
    const DWORD start = GetTickCount();
    view.Load(server.Url("/lookups"));
    ASSERT_TRUE(view.WaitForFinishes(1, 30000)) << "the loop was not stopped";
    std::printf("lookup loop stopped after %lu ms\n", static_cast<unsigned long>(GetTickCount() - start));
    EXPECT_EQ("looking", view.Title());
    EXPECT_NE(nullptr, view.FindConsole("stopped"));
}

TEST_F(EngineScripts, ActiveXAndGetObjectMakeNothing)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string marker = std::string(temp) + "kelvora_activex_marker.txt";
    DeleteFileA(marker.c_str());
    std::string escaped;
    for (char c : marker)
        escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    const std::string page =
        Page("<script>var r = '';"
             "try { var f = new ActiveXObject('Scripting.FileSystemObject'); f.CreateTextFile('" +
             escaped +
             "'); r += 'fso '; } catch (e) { r += 'nofso '; }"
             "try { new ActiveXObject('WScript.Shell').Run('cmd'); r += 'shell '; } catch (e) { r += 'noshell '; }"
             "try { GetObject('winmgmts:'); r += 'get'; } catch (e) { r += 'noget'; }"
             "document.title = r</script>");
    EXPECT_EQ("nofso noshell noget", TitleOfScriptedPage("/x", page));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(marker.c_str())) << "the page made a file";
}

TEST_F(EngineScripts, EndlessScriptIsStoppedAndTheWindowKeepsAnswering)
{
    server.AddRoute("/spin", Reply::Ok(Page("<script>document.title = 'spinning'; while (true) {}</script>")));
    server.AddRoute(
        "/grow",
        Reply::Ok(Page("<script>var s = ''; for (;;) { s += 'xxxxxxxx'; if (s.length > 100000) s = ''; }</script>")));
    server.AddRoute("/chatty", Reply::Ok(Page("<script>for (var i = 0;; ++i) console.log(i)</script>")));
    server.AddRoute("/after", Reply::Ok(Page("<script>document.title = 'scripts still run'</script>")));
    ScriptedView view;
    const HWND window = view.Api().getWindowHandle(view.View());
    std::atomic<bool> stop{false};
    std::atomic<int> answered{0}, unanswered{0};
    std::thread prober([&] {
        while (!stop) {
            DWORD_PTR result = 0;
            if (SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result))
                ++answered;
            else
                ++unanswered;
            Sleep(100);
        }
    });
    const DWORD start = GetTickCount();
    view.Load(server.Url("/spin"));
    const bool finished = view.WaitForFinishes(1, 20000);
    const DWORD took = GetTickCount() - start;
    stop = true;
    prober.join();
    ASSERT_TRUE(finished) << "the endless script was not stopped";
    EXPECT_EQ(WKE_LOADING_SUCCEEDED, view.finishes[0].result);
    EXPECT_LT(took, 12000u);
    EXPECT_GT(answered.load(), 20) << "the view's window did not answer while the script ran";
    EXPECT_EQ(0, unanswered.load());
    EXPECT_EQ("spinning", view.Title());
    const ConsoleRecord* stopped = view.FindConsole("stopped");
    ASSERT_NE(nullptr, stopped);
    EXPECT_EQ(wkeLevelError, stopped->level);
    std::printf("endless script stopped after %lu ms\n", static_cast<unsigned long>(took));

    // Loops that allocate or call the host all the time are stopped as well,
    // and later pages still run scripts.
    DWORD phase = GetTickCount();
    view.Load(server.Url("/grow"));
    ASSERT_TRUE(view.WaitForFinishes(2, 20000));
    std::printf("growing script stopped after %lu ms\n", static_cast<unsigned long>(GetTickCount() - phase));
    phase = GetTickCount();
    const size_t before = view.console.size();
    view.Load(server.Url("/chatty"));
    ASSERT_TRUE(view.WaitForFinishes(3, 30000));
    EXPECT_GT(view.console.size(), before + 100);
    std::printf("chatty script stopped after %lu ms, %zu messages\n",
                static_cast<unsigned long>(GetTickCount() - phase), view.console.size() - before);
    const size_t stoppedAt = view.console.size();
    view.PumpFor(200);
    EXPECT_EQ(stoppedAt, view.console.size()) << "the stopped script went on";
    view.Load(server.Url("/after"));
    ASSERT_TRUE(view.WaitForFinishes(4, 20000));
    EXPECT_EQ("scripts still run", view.Title());
}

} // namespace
