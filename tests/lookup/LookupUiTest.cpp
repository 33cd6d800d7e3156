// End-to-end lookups: the real Kelvora.exe, driven through its window, against
// a loopback answer service that records every request.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "form/ControlIds.h"
#include "tests/support/KelvoraUnderTest.h"

namespace {

constexpr char UserAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

// Code page 936 texts as the window shows them.
constexpr char Cp936Title[] = "\xB2\xE2\xCA\xD4\xB9\xAB\xB8\xE6";                          // 测试公告
constexpr char Cp936Notice[] = "\xB8\xC3\xB4\xF0\xB0\xB8\xD2\xD1\xB1\xBB\xC6\xC1\xB1\xCE"; // 该答案已被屏蔽
constexpr char EmptyResult[] = "\xCC\xE2\xC4\xBF:\r\n======\r\n\xB4\xF0\xB0\xB8:"; // 题目:\r\n======\r\n答案:

std::string Result(const std::string& title, const std::string& answer)
{
    return KelvoraUnderTest::Result(title, answer);
}

// One Kelvora.exe for the whole suite: lookups keep no state between them.
class LookupTest : public KelvoraSuite {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, app_);
        ASSERT_TRUE(app_->IsRunning());
        service_->Server().ClearRecords();
        service_->SetKey("K123");
        service_->SetConfig("\xE6\xB5\x8B\xE8\xAF\x95\xE5\x85\xAC\xE5\x91\x8A",
                            std::string(TestAnswerService::AnswerPath) +
                                "?q=\xE9\xA2\x98\xE7\x9B\xAE&k=\xE5\xAF\x86\xE9\x92\xA5",
                            "\xE8\xAF\xA5\xE7\xAD\x94\xE6\xA1\x88\xE5\xB7\xB2\xE8\xA2\xAB\xE5\xB1\x8F\xE8\x94\xBD");
        service_->SetAnswer(R"({"answer":"A","title":"T"})");
        SetText(ResultBoxId, L"");
    }

    // Puts the question into 编辑框1 and presses 按钮1 with a real click;
    // returns once the result box was written, which ends every lookup.
    static void Query(const std::wstring& question)
    {
        SCOPED_TRACE("query");
        SetText(QuestionBoxId, question);
        SetText(ResultBoxId, L"(waiting)");
        // The lookup page request shows that the click arrived.
        const size_t before = service_->Server().RequestCount();
        ASSERT_TRUE(
            app_->ClickButton(Control(QueryButtonId), [&] { return service_->Server().RequestCount() > before; }));
        ASSERT_TRUE(AppDriver::WaitFor([] { return AppDriver::ReadText(Control(ResultBoxId)) != "(waiting)"; }, 60000));
    }

    static std::string QueryOf(const std::string& path, size_t index = 0)
    {
        auto requests = service_->RequestsTo(path);
        return index < requests.size() ? requests[index].Query() : std::string("(none)");
    }

    static void ExpectServiceRequestFormat(const RecordedRequest& request)
    {
        SCOPED_TRACE(request.raw);
        EXPECT_EQ("GET", request.method);
        EXPECT_EQ("HTTP/1.0", request.version);
        EXPECT_EQ(UserAgent, request.Header("User-Agent"));
        EXPECT_EQ("*/*", request.Header("Accept"));
        EXPECT_FALSE(request.HasHeader("Referer"));
    }
};

TEST_F(LookupTest, ShowsTitleAndAnswerAfterFourRequestsInOrder)
{
    service_->SetAnswer(R"({"answer":"\u5317\u4eac","title":"\u4e2d\u56fd\u7684\u9996\u90fd"})"); // 北京, 中国的首都
    Query(L"\u9898\u76EE");                                                                       // 题目
    EXPECT_EQ(Result("\xD6\xD0\xB9\xFA\xB5\xC4\xCA\xD7\xB6\xBC", "\xB1\xB1\xBE\xA9"), ResultText());
    EXPECT_EQ(Cp936Title, NoticeText());

    auto requests = service_->Requests();
    ASSERT_EQ(4u, requests.size());
    EXPECT_EQ("/get_cha_url.php?t=%E9%A2%98%E7%9B%AE", requests[0].target);
    EXPECT_EQ("/new_get_api.php", requests[1].target);
    EXPECT_EQ("/api/answer?q=%E9%A2%98%E7%9B%AE&k=K123", requests[2].target);
    EXPECT_EQ("/upmy/up.php?t=%E9%A2%98%E7%9B%AE&d=%E5%8C%97%E4%BA%AC", requests[3].target);
    for (size_t i = 1; i < requests.size(); ++i)
        ExpectServiceRequestFormat(requests[i]);
}

TEST_F(LookupTest, EncodesEveryByteOfTheQuestion)
{
    Query(L"a 1");
    EXPECT_EQ("t=%61%20%31", QueryOf(TestAnswerService::LookupPath));
    EXPECT_EQ("q=%61%20%31&k=K123", QueryOf(TestAnswerService::AnswerPath));

    service_->Server().ClearRecords();
    Query(L"   ");
    EXPECT_EQ("t=%20%20%20", QueryOf(TestAnswerService::LookupPath));

    service_->Server().ClearRecords();
    Query(L"a\r\nb");
    EXPECT_EQ("t=%61%0D%0A%62", QueryOf(TestAnswerService::LookupPath));
}

TEST_F(LookupTest, TypedQuestionIsLookedUp)
{
    ASSERT_TRUE(app_->TypeInto(Control(QuestionBoxId), L"x\u9898"));
    ASSERT_TRUE(app_->ClickButton(Control(QueryButtonId)));
    ASSERT_TRUE(app_->WaitForText(Control(ResultBoxId), Result("T", "A"), 60000));
    EXPECT_EQ("t=%78%E9%A2%98", QueryOf(TestAnswerService::LookupPath));
}

TEST_F(LookupTest, NoticeReplacesAnswersHoldingAKeyword)
{
    struct Case {
        const char* json;
        const char* reportedAnswer;
    } cases[] = {
        {R"({"answer":"\u52a0\u7fa4123","title":"T"})", "%E5%8A%A0%E7%BE%A4%31%32%33"}, // 加群123 in the answer
        {R"({"answer":"A","title":"\u7cfb\u7edf\u7ef4\u62a4"})", "%41"}, // 系统维护 in the title only
        {R"({"answer":"\u52a0\u5fae","title":"\u4fe1\u606f"})",
         "%E5%8A%A0%E5%BE%AE"}, // 加微 + 信息 across the boundary
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        service_->Server().ClearRecords();
        service_->SetAnswer(c.json);
        Query(L"q");
        EXPECT_EQ(Cp936Notice, ResultText());
        EXPECT_EQ(std::string("t=%71&d=") + c.reportedAnswer, QueryOf(TestAnswerService::ReportPath));
    }
}

TEST_F(LookupTest, MissingConfigurationGivesTheEmptyResult)
{
    struct Case {
        const char* name;
        Reply reply;
    } cases[] = {
        {"connection closed without a reply", Reply::Raw("")},
        {"an HTML error page", Reply::Status(500, "<html><body>Internal error</body></html>")},
        {"a reply that is not JSON", Reply::Ok("title=x", "text/plain")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service_->Server().ClearRecords();
        service_->Server().AddRoute(TestAnswerService::ConfigPath, c.reply);
        Query(L"q");
        EXPECT_EQ(EmptyResult, ResultText());
        EXPECT_EQ("", NoticeText());
        EXPECT_TRUE(service_->RequestsTo(TestAnswerService::AnswerPath).empty());
        EXPECT_EQ("t=%71&d=", QueryOf(TestAnswerService::ReportPath));
    }
}

TEST_F(LookupTest, KeyGoesIntoTheTemplateAsThePageHasIt)
{
    // No body tags: the key placeholder is removed.
    service_->Server().AddRoute(TestAnswerService::LookupPath, Reply::Ok("<html>K</html>"));
    Query(L"q");
    EXPECT_EQ("q=%71&k=", QueryOf(TestAnswerService::AnswerPath));

    // Each placeholder twice: every occurrence is replaced.
    service_->Server().ClearRecords();
    service_->SetKey("K 9");
    service_->SetConfig(
        "t",
        std::string(TestAnswerService::AnswerPath) +
            "?q=\xE9\xA2\x98\xE7\x9B\xAE&k=\xE5\xAF\x86\xE9\x92\xA5&q2=\xE9\xA2\x98\xE7\x9B\xAE&k2=\xE5\xAF\x86\xE9\x92\xA5",
        "n");
    Query(L"q");
    auto answers = service_->RequestsTo(TestAnswerService::AnswerPath);
    ASSERT_EQ(1u, answers.size());
    // The key goes out byte for byte but for the blank, which the platform
    // escapes in every request target it sends.
    EXPECT_EQ("q=%71&k=K%209&q2=%71&k2=K%209", answers[0].Query());
}

TEST_F(LookupTest, FailedAnswerRequestKeepsTheNewNotice)
{
    service_->Server().AddRoute(TestAnswerService::AnswerPath, Reply::Raw(""));
    Query(L"q");
    EXPECT_EQ(Cp936Title, NoticeText());
    EXPECT_EQ(EmptyResult, ResultText());
    EXPECT_EQ("t=%71&d=", QueryOf(TestAnswerService::ReportPath));
}

TEST_F(LookupTest, LongAndUnusualAnswersAreShown)
{
    // 300 KB in lines, as a long answer comes.
    std::string json = "{\"answer\":\"";
    std::string expected;
    while (expected.size() < 300 * 1024) {
        json += "0123456789 abcdefghij 0123456789 abcdefghij\\r\\n";
        expected += "0123456789 abcdefghij 0123456789 abcdefghij\r\n";
    }
    service_->SetAnswer(json + "\",\"title\":\"T\"}");
    Query(L"q");
    const AnsiText shown = ResultText();
    EXPECT_EQ(Result("T", expected).size(), shown.size());
    EXPECT_TRUE(shown == Result("T", expected));
    // Its report would need a URL longer than a request may have: none is sent.
    EXPECT_TRUE(service_->RequestsTo(TestAnswerService::ReportPath).empty());

    // A character that code page 936 lacks shows as the default character.
    service_->Server().ClearRecords();
    service_->SetAnswer(R"({"answer":"a\u0e01b","title":"T"})");
    Query(L"q");
    EXPECT_EQ(Result("T", "a?b"), ResultText());
}

TEST_F(LookupTest, PageThatReloadsItselfRunsTheLookupAgain)
{
    service_->Server().AddRoute(
        TestAnswerService::LookupPath,
        Reply::Ok("<html><head><meta http-equiv=\"refresh\" content=\"1\"></head><body>R</body></html>"));
    Query(L"q");
    EXPECT_TRUE(service_->WaitForReports(2));
    EXPECT_EQ("q=%71&k=R", QueryOf(TestAnswerService::AnswerPath, 1));

    // A page without the refresh ends the loop; wait until lookups stop.
    service_->SetKey("K123");
    size_t reports = 0;
    EXPECT_TRUE(service_->WaitUntilReportsStop(std::chrono::milliseconds(2500), reports));
}

TEST_F(LookupTest, HostileRepliesRunNothingAndTheWindowKeepsAnswering)
{
    const std::wstring marker = directory_->Path() + L"\\hostile.txt";
    std::string markerJs;
    for (wchar_t c : marker)
        markerJs += c == L'\\' ? std::string("\\\\") : std::string(1, static_cast<char>(c));
    const std::string replies[] = {
        "new ActiveXObject(\"Scripting.FileSystemObject\").CreateTextFile(\"" + markerJs + "\")",
        "{\"answer\":new ActiveXObject(\"Scripting.FileSystemObject\").CreateTextFile(\"" + markerJs +
            "\"),\"title\":\"T\"}",
        "(function(){while(true){}})()",
        "\"while(1){}\"",
    };
    for (const std::string& reply : replies) {
        SCOPED_TRACE(reply);
        service_->Server().ClearRecords();
        service_->SetAnswer(reply);
        Query(L"q");
        EXPECT_EQ(EmptyResult, ResultText());
        EXPECT_FALSE(FileExists(marker));
        DWORD_PTR ignored = 0;
        EXPECT_NE(0, SendMessageTimeoutW(app_->MainWindow(), WM_NULL, 0, 0, SMTO_BLOCK, 5000, &ignored));
    }
}

// The warning box of the process, if one is open.
HWND FindWarningBox(DWORD processId)
{
    const std::vector<HWND> boxes = AppDriver::VisibleTopLevelWindows(processId, L"#32770");
    return boxes.empty() ? nullptr : boxes.front();
}

TEST_F(LookupTest, EmptyQuestionWarnsAndSendsNothing)
{
    SetText(QuestionBoxId, L"");
    ASSERT_TRUE(app_->BringToFront());
    const DWORD start = GetTickCount();
    app_->Click(Control(QueryButtonId));
    HWND box = nullptr;
    ASSERT_TRUE(AppDriver::WaitFor([&] { return (box = FindWarningBox(app_->ProcessId())) != nullptr; }, 10000));
    EXPECT_EQ(L"\u53CB\u60C5\u63D0\u9192", AppDriver::ReadTextWide(box)); // 友情提醒
    EXPECT_EQ(app_->MainWindow(), GetWindow(box, GW_OWNER));
    bool textFound = false;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        textFound =
            textFound || AppDriver::ReadTextWide(child) == L"\u8BF7\u8F93\u5165\u9898\u76EE\uFF01"; // 请输入题目！
    EXPECT_TRUE(textFound);

    // It closes by itself after about five seconds.
    ASSERT_TRUE(AppDriver::WaitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 15000));
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 4500u);
    EXPECT_LE(elapsed, 7000u);
    EXPECT_EQ(0u, service_->Server().RequestCount());

    // Sooner when OK is pressed. (Wine destroys a hidden box a moment later.)
    ASSERT_TRUE(AppDriver::WaitFor([&] { return !IsWindow(box); }, 10000));
    app_->Click(Control(QueryButtonId));
    ASSERT_TRUE(AppDriver::WaitFor([&] { return (box = FindWarningBox(app_->ProcessId())) != nullptr; }, 10000));
    const DWORD opened = GetTickCount();
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ASSERT_TRUE(AppDriver::WaitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 3000));
    EXPECT_LT(GetTickCount() - opened, 2000u);
    EXPECT_EQ(0u, service_->Server().RequestCount());
}

} // namespace
