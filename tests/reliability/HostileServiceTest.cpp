// The real Kelvora.exe against an answer service that misbehaves: slow,
// endless, oversized, malformed, looping and script-carrying replies. Every
// case must end in the quiet result users expect, leave the window answering
// and let the next normal lookup work. The test prints one line per case:
// what the user saw, how long it took and whether the window answered.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "form/ControlIds.h"
#include "text/WideText.h"
#include "tests/support/KelvoraUnderTest.h"

namespace {

// Code page 936 texts as the window shows them.
constexpr char Cp936Title[] = "\xB2\xE2\xCA\xD4\xB9\xAB\xB8\xE6";                  // 测试公告
constexpr char EmptyResult[] = "\xCC\xE2\xC4\xBF:\r\n======\r\n\xB4\xF0\xB0\xB8:"; // 题目:\r\n======\r\n答案:
constexpr char Waiting[] = "(waiting)";
constexpr DWORD ResponsiveBoundMs = 5000;

std::string Result(const std::string& title, const std::string& answer)
{
    return KelvoraUnderTest::Result(title, answer);
}

const std::string NormalResult = Result("T", "A");

double NowSeconds()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// A short description of what the result box or the label shows.
std::string Describe(const AnsiText& text)
{
    if (text == Waiting)
        return "unchanged";
    if (text.empty())
        return "(empty)";
    if (text == EmptyResult)
        return "empty result";
    if (text == NormalResult)
        return "answer A";
    if (text == Cp936Title)
        return "service title";
    std::string shown;
    for (unsigned char c : text.substr(0, 20))
        shown += c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : ".";
    return std::to_string(text.size()) + " bytes \"" + shown + (text.size() > 20 ? "...\"" : "\"");
}

struct Row {
    std::string name;
    std::string result;
    std::string notice;
    double seconds = 0;
    bool responsive = false;
    bool nextLookupWorks = false;
};

std::vector<Row>& Table()
{
    static std::vector<Row> rows;
    return rows;
}

// One misbehaviour: what the service does, how long the lookup may take, and
// what the window must show afterwards.
struct Case {
    Case(std::string name, std::function<void()> setup, std::function<bool(const AnsiText&)> resultIsQuiet,
         std::string notice, DWORD boundMs = 60000, std::function<void()> release = {})
        : name(std::move(name)),
          setup(std::move(setup)),
          resultIsQuiet(std::move(resultIsQuiet)),
          notice(std::move(notice)),
          boundMs(boundMs),
          release(std::move(release))
    {
    }

    std::string name;
    std::function<void()> setup;
    std::function<bool(const AnsiText&)> resultIsQuiet;
    std::string notice;
    DWORD boundMs;
    // Ends the misbehaviour when the lookup did not finish within the bound.
    std::function<void()> release;
};

class HostileServiceTest : public KelvoraSuite {
protected:
    static void TearDownTestSuite()
    {
        std::printf("\n%-44s | %-34s | %-14s | %8s | %-10s | %s\n", "case", "result box", "notice label", "seconds",
                    "responsive", "next lookup");
        for (const Row& row : Table())
            std::printf("%-44s | %-34s | %-14s | %8.2f | %-10s | %s\n", row.name.c_str(), row.result.c_str(),
                        row.notice.c_str(), row.seconds, row.responsive ? "yes" : "NO",
                        row.nextLookupWorks ? "works" : "FAILS");
        std::fflush(stdout);
        KelvoraSuite::TearDownTestSuite();
    }

    void SetUp() override
    {
        ASSERT_NE(nullptr, app_);
        ASSERT_TRUE(app_->IsRunning());
        service_->RestoreDefaults();
        service_->Server().ClearRecords();
    }

    static bool Responsive()
    {
        DWORD_PTR ignored = 0;
        return SendMessageTimeoutW(app_->MainWindow(), WM_NULL, 0, 0, SMTO_BLOCK, ResponsiveBoundMs, &ignored) != 0;
    }

    // The result box no longer shows the waiting mark. A window busy with a
    // lookup does not answer, and a read that times out is not a result.
    static bool ResultWritten()
    {
        // The window may start a lookup between two reads, so each read is
        // bounded on its own and one that fails counts as not written.
        std::wstring text;
        if (!AppDriver::TryReadTextWide(Control(ResultBoxId), 1000, text))
            return false;
        return AnsiFromWide(text) != Waiting;
    }

    // Starts a lookup with a real click; true when the result box was written
    // within the bound.
    static bool Query(DWORD boundMs)
    {
        SetText(QuestionBoxId, L"q");
        SetText(ResultBoxId, L"(waiting)");
        // The lookup page request, recorded before any reply, shows that the click arrived.
        const size_t before = service_->Server().RequestCount();
        if (!app_->ClickButton(Control(QueryButtonId), [before] { return service_->Server().RequestCount() > before; }))
            return false;
        return AppDriver::WaitFor(ResultWritten, boundMs);
    }

    // With the defaults back, a lookup shows the answer again.
    static bool NextLookupWorks()
    {
        service_->RestoreDefaults();
        return Query(60000) && ResultText() == NormalResult;
    }

    static void Run(const Case& c)
    {
        SCOPED_TRACE(c.name);
        service_->RestoreDefaults();
        service_->Server().ClearRecords();
        c.setup();
        Row row;
        row.name = c.name;
        const double start = NowSeconds();
        bool finished = Query(c.boundMs);
        row.seconds = NowSeconds() - start;
        if (!finished && c.release) {
            row.name += " (released)";
            c.release();
            finished = AppDriver::WaitFor(ResultWritten, 30000);
        }
        EXPECT_TRUE(finished);
        const AnsiText shown = ResultText();
        row.result = finished ? Describe(shown) : "no result in " + std::to_string(c.boundMs / 1000) + " s";
        row.notice = Describe(NoticeText());
        EXPECT_TRUE(c.resultIsQuiet(shown)) << Describe(shown);
        EXPECT_EQ(c.notice, NoticeText());
        row.responsive = Responsive();
        EXPECT_TRUE(row.responsive);
        row.nextLookupWorks = NextLookupWorks();
        EXPECT_TRUE(row.nextLookupWorks);
        Table().push_back(row);
    }

    static void RunAll(const std::vector<Case>& cases)
    {
        for (const Case& c : cases)
            Run(c);
    }

    static std::function<bool(const AnsiText&)> Is(const std::string& expected)
    {
        return [expected](const AnsiText& shown) { return shown == expected; };
    }
};

constexpr char AnswerJson[] = R"({"answer":"A","title":"T"})";

// The answer template points at /api/hop1, which redirects to /api/hop2 and
// so on, each after `delayMs`; the last hop redirects to the answer.
void ChainOfSlowRedirects(TestAnswerService& service, int hops, int delayMs)
{
    for (int hop = 1; hop <= hops; ++hop) {
        Reply redirect = Reply::Redirect(hop == hops ? std::string(TestAnswerService::AnswerPath)
                                                     : "/api/hop" + std::to_string(hop + 1));
        redirect.delayFirstMs = delayMs;
        service.Server().AddRoute("/api/hop" + std::to_string(hop), redirect);
    }
    service.SetConfig("\xE6\xB5\x8B\xE8\xAF\x95\xE5\x85\xAC\xE5\x91\x8A", // 测试公告
                      "/api/hop1?q=\xE9\xA2\x98\xE7\x9B\xAE&k=\xE5\xAF\x86\xE9\x92\xA5", "n");
}

std::string ApiTemplate()
{
    return std::string(TestAnswerService::AnswerPath) + "?q=\xE9\xA2\x98\xE7\x9B\xAE&k=\xE5\xAF\x86\xE9\x92\xA5";
}

TEST_F(HostileServiceTest, SlowEndlessAndMisframedReplies)
{
    RunAll({
        {"answer trickled, 1 byte per 150 ms",
         [] { service_->Server().AddRoute(TestAnswerService::AnswerPath, Reply::Trickle(AnswerJson, 1, 150)); },
         Is(NormalResult), Cp936Title},
        // Days at this pace: the fetch gives up after a minute with the empty result.
        {"answer never ends, 1 byte per 500 ms",
         [] {
             service_->Server().AddRoute(TestAnswerService::AnswerPath,
                                         Reply::Trickle(std::string(AnswerJson) + std::string(1000000, ' '), 1, 500));
         },
         Is(EmptyResult), Cp936Title, 120000},
        {"answer: 15 s of silence, then the reply",
         [] {
             Reply late =
                 Reply::Raw("HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n" + std::string(AnswerJson));
             late.delayFirstMs = 15000;
             service_->Server().AddRoute(TestAnswerService::AnswerPath, late);
         },
         Is(NormalResult), Cp936Title},
        {"answer: Content-Length larger than the body",
         [] { service_->Server().AddRoute(TestAnswerService::AnswerPath, Reply::WrongLength(AnswerJson, 1000)); },
         Is(NormalResult), Cp936Title},
        {"answer: Content-Length smaller than the body",
         [] { service_->Server().AddRoute(TestAnswerService::AnswerPath, Reply::WrongLength(AnswerJson, 10)); },
         // The reply is the ten bytes announced, not JSON.
         Is(EmptyResult), Cp936Title},
        {"answer: connection closed mid-body",
         [] { service_->Server().AddRoute(TestAnswerService::AnswerPath, Reply::EarlyClose(AnswerJson, 10)); },
         Is(EmptyResult), Cp936Title},
        {"config: invalid UTF-8 in the title",
         [] { service_->SetConfigJson("{\"title\":\"a\xFF\xC0\xE6\xB5z\",\"api\":\"\",\"log\":\"\"}"); },
         Is(EmptyResult), "a???z"},
        {"answer: zero bytes inside",
         [] { service_->SetAnswer(std::string("{\"answer\":\"A\0B\",\"title\":\"T\"}", 27)); }, Is(EmptyResult),
         Cp936Title},
        {"config: 4 KB of zero bytes", [] { service_->SetConfigJson(std::string(4096, '\0')); }, Is(EmptyResult), ""},
    });
}

TEST_F(HostileServiceTest, OversizedReplies)
{
    std::string lines;
    while (lines.size() < 20 * 1024 * 1024)
        lines += "not JSON, one line of a long page\r\n";
    std::string json = "{\"answer\":\"";
    std::string answer;
    while (answer.size() < 20 * 1024 * 1024) {
        json += "0123456789 abcdefghij 0123456789 abcdefghij\\r\\n";
        answer += "0123456789 abcdefghij 0123456789 abcdefghij\r\n";
    }
    json += "\",\"title\":\"T\"}";
    const size_t expectedSize = Result("T", answer).size();
    RunAll({
        {"config: 20 MB, not JSON", [&] { service_->SetConfigJson(lines); }, Is(EmptyResult), "", 180000},
        {"answer: 20 MB JSON, answer in lines", [&] { service_->SetAnswer(json); },
         [expectedSize](const AnsiText& shown) { return shown.size() == expectedSize; }, Cp936Title, 300000},
        {"lookup page: 10 MB body (the key)", [] { service_->SetKey(std::string(10 * 1024 * 1024, 'k')); },
         Is(EmptyResult), Cp936Title, 180000},
    });
}

TEST_F(HostileServiceTest, RedirectLoopsAndUnusableTemplates)
{
    LoopbackServer closed;
    ASSERT_TRUE(closed.Start());
    const std::string closedUrl = closed.Url("/api/answer?q=x");
    closed.Stop();
    auto configWith = [](const std::string& api) {
        return [api] { service_->SetConfig("\xE6\xB5\x8B\xE8\xAF\x95\xE5\x85\xAC\xE5\x91\x8A", api, "n"); };
    };
    const size_t firstRow = Table().size();
    RunAll({
        {"lookup page: redirect loop",
         [] {
             service_->Server().AddRoute(TestAnswerService::LookupPath,
                                         Reply::Redirect(std::string(TestAnswerService::LookupPath) + "?t=again"));
         },
         // The view gives up on the loop with no page and so no key; the
         // answer path still runs, and this service answers without a key.
         Is(NormalResult), Cp936Title, 60000},
        // The fetch follows at most twenty redirects, then gives up empty.
        {"config: redirect loop",
         [] {
             service_->Server().AddRoute(TestAnswerService::ConfigPath, Reply::Redirect(TestAnswerService::ConfigPath));
         },
         Is(EmptyResult), ""},
        {"answer: redirect loop",
         [] {
             service_->Server().AddRoute(TestAnswerService::AnswerPath, Reply::Redirect(TestAnswerService::AnswerPath));
         },
         Is(EmptyResult), Cp936Title},
        // Twenty redirects, each within the time of one request, past the
        // minute of the whole fetch: the fetch ends at that minute.
        {"answer: 20 redirects, 3.5 s each", [] { ChainOfSlowRedirects(*service_, 20, 3500); }, Is(EmptyResult),
         Cp936Title, 90000},
        {"template: closed port", configWith(closedUrl), Is(EmptyResult), Cp936Title},
        {"template: ftp://", configWith("ftp://127.0.0.1/answer"), Is(EmptyResult), Cp936Title},
        {"template: file://", configWith("file:///C:/windows/win.ini"), Is(EmptyResult), Cp936Title},
        {"template: javascript:", configWith("javascript:alert(1)"), Is(EmptyResult), Cp936Title},
    });
    // The chain ends with the fetch's own limit, not twenty of them.
    for (size_t row = firstRow; row < Table().size(); ++row) {
        if (Table()[row].name.rfind("answer: 20 redirects", 0) == 0) {
            EXPECT_LT(Table()[row].seconds, 65.0) << Table()[row].name;
        }
    }
}

// Replies that are JSON but that the platform's script engine, given them as
// they are, would hang on or read wrongly.
TEST_F(HostileServiceTest, RepliesTheScriptEngineMisreads)
{
    RunAll({
        // The engine never returned from this number: the window froze for good.
        {"answer: exponent of ten digits", [] { service_->SetAnswer(R"({"answer":1e2147483650,"title":"T"})"); },
         [](const AnsiText& shown) { return shown == Result("T", "inf") || shown == Result("T", "1.#INF"); },
         Cp936Title},
        // The engine cut the second name at the zero and showed "spoof".
        {"answer: zero character in a member name",
         [] { service_->SetAnswer(R"({"answer":"real","answer\u0000x":"spoof","title":"T"})"); }, Is(EmptyResult),
         Cp936Title},
    });
}

TEST_F(HostileServiceTest, KeyWithALineBreakSendsNoAnswerRequest)
{
    RunAll({
        {"lookup page: key holding CR LF", [] { service_->SetKey("K\r\nX-Injected: 1"); }, Is(EmptyResult), Cp936Title},
    });
    // The lookup above, then the normal one that followed it.
    const auto answers = service_->RequestsTo(TestAnswerService::AnswerPath);
    ASSERT_EQ(1u, answers.size());
    EXPECT_FALSE(answers[0].HasHeader("X-Injected"));
    EXPECT_EQ("q=%71&k=K123", answers[0].Query());
}

TEST_F(HostileServiceTest, ScriptInEveryPositionRunsNothing)
{
    const std::wstring marker = directory_->Path() + L"\\hostile.txt";
    std::string markerJs;
    for (wchar_t c : marker)
        markerJs += c == L'\\' ? std::string("\\\\") : std::string(1, static_cast<char>(c));
    const std::string call = "new ActiveXObject(\"Scripting.FileSystemObject\").CreateTextFile(\"" + markerJs + "\")";
    // The same call as the text of a JSON string: shown, never run.
    const std::string quotedCall = JsonQuote("\"+" + call + "+\"");
    const std::string api = service_->BaseUrl() + ApiTemplate();
    const std::string quotedApi = JsonQuote(api);
    auto config = [](const std::string& json) { return [json] { service_->SetConfigJson(json); }; };
    auto answer = [](const std::string& json) { return [json] { service_->SetAnswer(json); }; };
    const std::string shownCall = "\"+" + call + "+\"";
    RunAll({
        {"config title: a call", config("{\"title\":" + call + ",\"api\":" + quotedApi + ",\"log\":\"n\"}"),
         Is(EmptyResult), ""},
        {"config api: a call", config("{\"title\":\"t\",\"api\":" + call + ",\"log\":\"n\"}"), Is(EmptyResult), ""},
        {"config log: a call", config("{\"title\":\"t\",\"api\":" + quotedApi + ",\"log\":" + call + "}"),
         Is(EmptyResult), ""},
        {"answer: a call", answer("{\"answer\":" + call + ",\"title\":\"T\"}"), Is(EmptyResult), Cp936Title},
        {"answer title: a call", answer("{\"answer\":\"A\",\"title\":" + call + "}"), Is(EmptyResult), Cp936Title},
        {"config title: script in a string",
         config("{\"title\":" + quotedCall + ",\"api\":" + quotedApi + ",\"log\":\"n\"}"), Is(NormalResult), shownCall},
        {"answer: script in a string", answer("{\"answer\":" + quotedCall + ",\"title\":\"T\"}"),
         Is(Result("T", shownCall)), Cp936Title},
        {"answer title: script in a string", answer("{\"answer\":\"A\",\"title\":" + quotedCall + "}"),
         Is(Result(shownCall, "A")), Cp936Title},
        {"answer: a getter that would run on read", answer("{get answer(){" + call + ";return 1},\"title\":\"T\"}"),
         Is(EmptyResult), Cp936Title},
    });
    EXPECT_FALSE(FileExists(marker));
}

TEST_F(HostileServiceTest, BurstOfReloadsKeepsTheWindowAnswering)
{
    // The first 50 lookup pages reload themselves at once; then the page is normal.
    constexpr int Reloads = 50;
    auto served = std::make_shared<std::atomic<int>>(0);
    service_->Server().AddHandler(TestAnswerService::LookupPath, [served](const RecordedRequest&) {
        if (served->fetch_add(1) < Reloads)
            return Reply::Ok("<html><head><meta http-equiv=\"refresh\" content=\"0\"></head><body>R</body></html>");
        return Reply::Ok("<html><body>K123</body></html>");
    });
    Row row;
    row.name = "lookup page: 50 reloads at 0 s";
    const double start = NowSeconds();
    SetText(QuestionBoxId, L"q");
    ASSERT_TRUE(app_->BringToFront());
    app_->Click(Control(QueryButtonId));
    // The window answers between the lookups the reloads start.
    bool alwaysResponsive = true;
    const bool allRan = AppDriver::WaitFor(
        [&] {
            alwaysResponsive = alwaysResponsive && Responsive();
            return service_->RequestsTo(TestAnswerService::ReportPath).size() >= Reloads + 1;
        },
        120000);
    EXPECT_TRUE(allRan);
    EXPECT_TRUE(alwaysResponsive);
    // The lookups stop once the page no longer reloads.
    size_t reports = 0;
    EXPECT_TRUE(service_->WaitUntilReportsStop(std::chrono::milliseconds(2000), reports));
    row.seconds = NowSeconds() - start;
    EXPECT_EQ(static_cast<size_t>(Reloads + 1), reports);
    EXPECT_EQ(NormalResult, ResultText());
    row.result = Describe(ResultText()) + ", " + std::to_string(reports) + " lookups";
    row.notice = Describe(NoticeText());
    row.responsive = alwaysResponsive && Responsive();
    row.nextLookupWorks = NextLookupWorks();
    EXPECT_TRUE(row.nextLookupWorks);
    Table().push_back(row);
}

} // namespace
