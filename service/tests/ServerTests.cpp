// The endpoints as the desktop tool uses them, over loopback HTTP/1.0.
#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

#include "BankImport.h"
#include "Database.h"
#include "LookupKey.h"
#include "QuestionText.h"
#include "Records.h"
#include "TestSupport.h"

namespace kelvora {
namespace {

using test::AnswerTarget;
using test::BodyText;
using test::HttpGet;
using test::PercentEncodeAll;

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::ImportSampleBank(dir.Database("bank.db")));
        server = std::make_unique<test::RunningServer>(dir.Database("bank.db"));
        ASSERT_TRUE(server->Started());
        port = server->Port();
    }

    std::string Template()
    {
        test::HttpReply reply = HttpGet(port, "/new_get_api.php");
        auto config = nlohmann::json::parse(reply.body, nullptr, false);
        if (config.is_discarded() || !config.contains("api"))
            return {};
        return config["api"].get<std::string>();
    }

    std::string KeyFor(std::string_view question)
    {
        test::HttpReply page = HttpGet(port, "/get_cha_url.php?t=" + PercentEncodeAll(question));
        return page.status == 200 ? BodyText(page.body) : std::string();
    }

    // The answer reply's members, as the tool would read them.
    struct AnswerReply {
        int status = 0;
        std::string answer;
        std::string title;
    };

    AnswerReply Ask(std::string_view question, std::string_view key)
    {
        SCOPED_TRACE(std::string(question));
        test::HttpReply reply = HttpGet(port, AnswerTarget(Template(), question, key));
        AnswerReply result{reply.status, {}, {}};
        auto json = nlohmann::json::parse(reply.body, nullptr, false);
        EXPECT_TRUE(json.is_object()) << reply.body;
        if (json.is_object()) {
            result.answer = json.value("answer", "");
            result.title = json.value("title", "");
        }
        return result;
    }

    AnswerReply Lookup(std::string_view question) { return Ask(question, KeyFor(question)); }

    test::TempDir dir;
    std::unique_ptr<test::RunningServer> server;
    int port = 0;
};

bool IsAscii(std::string_view text)
{
    for (unsigned char c : text) {
        if (c >= 0x80)
            return false;
    }
    return true;
}

TEST_F(ServerTest, ConfigurationNamesTheAnswerTemplateAndNotices)
{
    test::HttpReply reply = HttpGet(port, "/new_get_api.php");
    EXPECT_EQ(reply.status, 200);
    EXPECT_NE(reply.headers.find("application/json"), std::string::npos);
    EXPECT_TRUE(IsAscii(reply.body)) << reply.body;
    auto config = nlohmann::json::parse(reply.body, nullptr, false);
    ASSERT_TRUE(config.is_object()) << reply.body;
    EXPECT_EQ(config.value("title", ""), "notice line");
    EXPECT_EQ(config.value("log", ""), "rejected notice");
    EXPECT_EQ(config.value("api", ""), "http://127.0.0.1:" + std::to_string(port) + "/api/answer?q=题目&k=密钥");
}

TEST_F(ServerTest, LookupPageHoldsOnlyTheKeyBehindAsciiMarkup)
{
    test::HttpReply page = HttpGet(port, "/get_cha_url.php?t=" + PercentEncodeAll("水的化学式是什么？"));
    ASSERT_EQ(page.status, 200);
    EXPECT_NE(page.headers.find("text/html"), std::string::npos);
    std::string key = BodyText(page.body);
    EXPECT_EQ(page.body, "<html><head><meta charset=\"utf-8\"></head><body>" + key + "</body></html>");
    EXPECT_FALSE(key.empty());
    EXPECT_TRUE(IsAscii(page.body));
    EXPECT_EQ(key.find_first_of(" %&#?+/"), std::string::npos) << key;
}

TEST_F(ServerTest, AnswersTheWayTheToolAsks)
{
    AnswerReply reply = Lookup("水的化学式是什么？");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.answer, "H2O");
    EXPECT_EQ(reply.title, "水的化学式是什么？");
    EXPECT_EQ(FindRejectedWord(reply.answer + reply.title), "");

    // Typed differently: the bank's wording comes back as the title.
    reply = Lookup("太阳系中离太阳最近的行星是");
    EXPECT_EQ(reply.answer, "B. 水星");
    EXPECT_EQ(reply.title, "太阳系中离太阳最近的行星是（  ）。");

    reply = Lookup("a 1"); // spaces and digits are percent-encoded like everything else
    EXPECT_NE(reply.answer.find("查无此"), std::string::npos);
}

TEST_F(ServerTest, UnknownQuestionsAreNoticesAndListedAsUnanswered)
{
    for (int i = 0; i < 2; ++i) {
        AnswerReply reply = Lookup("澳大利亚的国宝动物是什么？");
        EXPECT_EQ(reply.status, 200);
        EXPECT_NE(reply.answer.find("查无此"), std::string::npos);
    }
    Lookup("澳大利亚的国宝动物是什么"); // the same question, counted together
    Lookup("如何计算圆锥的体积");
    server->FlushRecords();
    Connection db;
    ASSERT_TRUE(db.Open(dir.Database("bank.db")));
    std::vector<UnansweredQuestion> list = ListUnanswered(db, 10);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].question, "澳大利亚的国宝动物是什么");
    EXPECT_EQ(list[0].asked, 3);
    EXPECT_EQ(list[1].asked, 1);
}

TEST_F(ServerTest, KeyOpensOnlyItsQuestionAndOnlyInTime)
{
    std::string waterKey = KeyFor("水的化学式是什么？");
    AnswerReply other = Ask("中国的首都是哪座城市？", waterKey);
    EXPECT_EQ(other.status, 403);
    EXPECT_NE(other.answer.find("秘钥"), std::string::npos);
    EXPECT_EQ(other.title, "");

    std::string expired = IssueLookupKey(test::TestSecret, "水的化学式是什么？", std::time(nullptr) - 1);
    EXPECT_NE(Ask("水的化学式是什么？", expired).answer.find("秘钥"), std::string::npos);

    std::string foreign = IssueLookupKey("some other server's secret", "水的化学式是什么？", std::time(nullptr) + 60);
    EXPECT_NE(Ask("水的化学式是什么？", foreign).answer.find("秘钥"), std::string::npos);
    EXPECT_NE(Ask("水的化学式是什么？", "").answer.find("秘钥"), std::string::npos);

    // The genuine key still works after all that.
    EXPECT_EQ(Ask("水的化学式是什么？", waterKey).answer, "H2O");
}

TEST_F(ServerTest, ReportIsRecordedWithClientAndTime)
{
    int64_t before = std::time(nullptr);
    test::HttpReply reply =
        HttpGet(port, "/upmy/up.php?t=" + PercentEncodeAll("水的化学式是什么？") + "&d=" + PercentEncodeAll("H2O"));
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "ok");
    EXPECT_EQ(HttpGet(port, "/upmy/up.php?t=" + PercentEncodeAll("查无此题的问题") + "&d=").body, "ok");

    Connection db;
    ASSERT_TRUE(db.Open(dir.Database("bank.db")));
    Statement& rows = db.Cached("SELECT question, answer, client, asked_at FROM reports ORDER BY id");
    ASSERT_TRUE(rows.Step());
    EXPECT_EQ(rows.Text(0), "水的化学式是什么？");
    EXPECT_EQ(rows.Text(1), "H2O");
    EXPECT_EQ(rows.Text(2), "127.0.0.1");
    EXPECT_GE(rows.Int(3), before);
    ASSERT_TRUE(rows.Step());
    EXPECT_EQ(rows.Text(1), "");
    EXPECT_FALSE(rows.Step());
}

TEST_F(ServerTest, BadRequestsGetAClear4xxAndTheServerKeepsServing)
{
    struct Case {
        std::string target;
        int status;
    };
    std::string huge = "/get_cha_url.php?t=" + std::string(100 * 1024, 'a');
    const Case cases[] = {
        {"/get_cha_url.php?t=%E9%A2%9", 400}, // broken percent-encoding
        {"/get_cha_url.php?t=%E9%A2", 400},   // not UTF-8
        {"/get_cha_url.php?t=%ZZ", 400},
        {"/get_cha_url.php", 400}, // no question
        {"/get_cha_url.php?t=", 400},
        {"/get_cha_url.php?t=" + std::string(4100, 'x'), 400}, // longer than any question
        {huge, 414},                                           // 100 KB request line
        {"/api/answer?q=%E9%A2&k=1.x", 400},
        {"/api/answer?k=1.x", 400},
        {"/upmy/up.php?t=%E9%A2%98&d=%C0%AF", 400}, // overlong UTF-8 in the answer
        {"/upmy/up.php?d=x", 400},
        {"/nothing/here", 404},
        {"/get_cha_url.php/../etc/passwd", 404},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target.substr(0, 80));
        test::HttpReply reply = HttpGet(port, c.target);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_FALSE(reply.body.empty());
    }
    // A bad answer request still reads as a notice in the tool.
    test::HttpReply bad = HttpGet(port, "/api/answer?q=%E9%A2&k=1.x");
    EXPECT_NE(bad.body.find("\\u67e5\\u65e0\\u6b64"), std::string::npos) << bad.body; // 查无此

    EXPECT_EQ(HttpGet(port, "/healthz").status, 200);
    EXPECT_EQ(Lookup("水的化学式是什么？").answer, "H2O");
}

TEST_F(ServerTest, HeadChangesNothing)
{
    std::string question = "澳大利亚的国宝动物是什么？";
    std::string target = AnswerTarget(Template(), question, KeyFor(question));
    test::HttpReply head = test::HttpExchange(port, "HEAD " + target + " HTTP/1.0\r\n\r\n");
    EXPECT_EQ(head.status, 200);
    EXPECT_NE(head.headers.find("Content-Length: "), std::string::npos);
    EXPECT_EQ(head.body, "");
    test::HttpReply report =
        test::HttpExchange(port, "HEAD /upmy/up.php?t=" + PercentEncodeAll(question) + "&d=x HTTP/1.0\r\n\r\n");
    EXPECT_EQ(report.status, 405);
    EXPECT_NE(report.headers.find("Allow: GET"), std::string::npos);

    server->FlushRecords();
    Connection db;
    ASSERT_TRUE(db.Open(dir.Database("bank.db")));
    EXPECT_TRUE(ListUnanswered(db, 10).empty());
    EXPECT_EQ(ReadStats(db, std::time(nullptr)).reports, 0);
}

TEST_F(ServerTest, KeptAliveConnectionAnswersPipelinedRequestsInOrder)
{
    std::string question = PercentEncodeAll("水的化学式是什么？");
    test::HttpReply reply =
        test::HttpExchange(port,
                           "GET /healthz HTTP/1.1\r\nHost: a\r\n\r\n"
                           "GET /upmy/up.php?t=" +
                               question +
                               "&d=H2O HTTP/1.1\r\nHost: a\r\n\r\n"
                               "GET /new_get_api.php HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n",
                           5000, true);
    // The first reply, then the rest of the stream as it came.
    ASSERT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body.rfind("ok ", 0), 0u) << reply.body;
    size_t second = reply.body.find("HTTP/1.1 200");
    ASSERT_NE(second, std::string::npos) << reply.body;
    size_t third = reply.body.find("HTTP/1.1 200", second + 1);
    ASSERT_NE(third, std::string::npos) << reply.body;
    EXPECT_NE(reply.body.substr(second, third - second).find("\r\n\r\nok"), std::string::npos);
    EXPECT_NE(reply.body.find("\"api\"", third), std::string::npos);
    Connection db;
    ASSERT_TRUE(db.Open(dir.Database("bank.db")));
    EXPECT_EQ(ReadStats(db, std::time(nullptr)).reports, 1);
}

// On PostgreSQL each server answers from its copy of the bank, read again
// once the bank's version has settled: a question imported while it serves is
// answered within seconds (on SQLite at once).
TEST_F(ServerTest, QuestionsImportedWhileServingAreAnswered)
{
    const std::string question = "服务运行时导入的新问题是什么？";
    EXPECT_NE(Lookup(question).answer, "新答案");
    {
        Connection db;
        ASSERT_TRUE(db.Open(dir.Database("bank.db")));
        ImportSummary summary =
            ImportBank(db, ReadBankText("question,answer\n" + question + ",新答案\n", BankFormat::Csv), 5);
        ASSERT_TRUE(summary.ok) << summary.error;
        ASSERT_EQ(summary.added, 1);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string answer;
    while (std::chrono::steady_clock::now() < deadline) {
        answer = Lookup(question).answer;
        if (answer == "新答案")
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(answer, "新答案");
    EXPECT_EQ(Lookup("水的化学式是什么").answer, "H2O");
}

TEST_F(ServerTest, HealthCheckCountsTheBank)
{
    test::HttpReply reply = HttpGet(port, "/healthz");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body.rfind("ok ", 0), 0u) << reply.body;
}

TEST_F(ServerTest, ParallelLookupsEachGetTheirOwnAnswer)
{
    const std::string templateUrl = Template();
    const std::pair<std::string, std::string> questions[] = {{"水的化学式是什么？", "H2O"},
                                                             {"一天有多少个小时", "24小时"},
                                                             {"钢琴有多少个琴键", "88个"},
                                                             {"地球的卫星叫什么", "月球"}};
    std::atomic<int> right{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < 6; ++t) {
        clients.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) {
                const auto& [question, answer] = questions[(t + i) % std::size(questions)];
                std::string key = BodyText(HttpGet(port, "/get_cha_url.php?t=" + PercentEncodeAll(question)).body);
                test::HttpReply reply = HttpGet(port, AnswerTarget(templateUrl, question, key));
                auto json = nlohmann::json::parse(reply.body, nullptr, false);
                if (json.is_object() && json.value("answer", "") == answer)
                    ++right;
                HttpGet(port, "/upmy/up.php?t=" + PercentEncodeAll(question) + "&d=" + PercentEncodeAll(answer));
            }
        });
    }
    for (std::thread& client : clients)
        client.join();
    EXPECT_EQ(right.load(), 120);
    Connection db;
    ASSERT_TRUE(db.Open(dir.Database("bank.db")));
    EXPECT_EQ(ReadStats(db, std::time(nullptr)).reports, 120);
}

} // namespace
} // namespace kelvora
