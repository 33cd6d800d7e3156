// What the running server keeps, and what it admits it cannot keep: limits on
// reports and unanswered questions, a database deleted, replaced, read-only or
// out of disk under it, and a writer elsewhere holding the database.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iostream>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "Database.h"
#include "LookupKey.h"
#include "Records.h"
#include "TestSupport.h"
#include "Utf8Text.h"

namespace kelvora {
namespace {

using namespace std::chrono_literals;
using test::HttpGet;
using test::PercentEncodeAll;
using test::ReadFile;
using test::ServiceProcess;

class StorageTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(test::ImportSampleBank(db)); }

    // The shipped server on the test's database, with extra options.
    void Serve(std::vector<std::string> options = {})
    {
        port = test::FreePort();
        std::vector<std::string> arguments = {"serve", "--listen", "127.0.0.1:" + std::to_string(port), "--db", db};
        arguments.insert(arguments.end(), options.begin(), options.end());
        server = std::make_unique<ServiceProcess>(arguments, dir.Path("serve.out"));
        ASSERT_TRUE(WaitUntilServing()) << ReadFile(dir.Path("serve.out"));
    }

    bool WaitUntilServing()
    {
        auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (HttpGet(port, "/healthz", 500).status != 0)
                return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    test::HttpReply Report(std::string_view question, std::string_view answer, int timeoutMs = 5000)
    {
        return HttpGet(port, "/upmy/up.php?t=" + PercentEncodeAll(question) + "&d=" + PercentEncodeAll(answer),
                       timeoutMs);
    }

    test::HttpReply Lookup(std::string_view question, int timeoutMs = 5000)
    {
        std::string key =
            test::BodyText(HttpGet(port, "/get_cha_url.php?t=" + PercentEncodeAll(question), timeoutMs).body);
        return HttpGet(port, "/api/answer?q=" + PercentEncodeAll(question) + "&k=" + key, timeoutMs);
    }

    // Rows written straight into the test's database in one transaction, as
    // a server that ran for long would have left them.
    void WriteRows(const std::function<void(Connection& writer)>& write)
    {
        Connection writer;
        ASSERT_TRUE(writer.Open(db));
        ASSERT_TRUE(writer.Exec("BEGIN"));
        write(writer);
        ASSERT_TRUE(writer.Exec("COMMIT"));
    }
    static constexpr const char* InsertReport =
        "INSERT INTO reports(asked_at, client, question, answer) VALUES (?1, 'c', ?2, 'a')";

    // Waits up to 10 s for the server's housekeeping to make done true.
    static void WaitUntil(const std::function<bool()>& done)
    {
        auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!done() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(20ms);
    }

    int64_t Count(const std::string& sql)
    {
        Connection reader;
        std::string error;
        if (!reader.OpenExisting(db, error))
            return -1;
        Statement& statement = reader.Cached(sql.c_str());
        int64_t value = statement.Step() ? statement.Int(0) : -1;
        statement.Reset();
        return value;
    }

    std::string Log() { return ReadFile(dir.Path("serve.out")); }

    test::TempDir dir;
    std::string db = dir.Database("bank.db");
    std::unique_ptr<ServiceProcess> server;
    int port = 0;
};

constexpr const char* Water = "水的化学式是什么？";

TEST_F(StorageTest, DeletedDatabaseGetsNoAcknowledgedReports)
{
    if (test::OnPostgres())
        GTEST_SKIP() << "database files and their write lock";
    Serve();
    ASSERT_EQ(Report(Water, "H2O").body, "ok");
    for (const char* suffix : {"", "-wal", "-shm"})
        std::remove((db + suffix).c_str());

    test::HttpReply report = Report(Water, "H2O");
    EXPECT_EQ(report.status, 503) << report.body;
    EXPECT_NE(report.body, "ok");
    EXPECT_EQ(HttpGet(port, "/healthz").status, 503);
    EXPECT_NE(Log().find("report not recorded: the database file " + db + " is gone"), std::string::npos) << Log();
    // Lookups are still answered from what the server has open.
    EXPECT_EQ(Lookup(Water).status, 200);
}

TEST_F(StorageTest, ReplacedDatabaseGetsNoAcknowledgedReports)
{
    if (test::OnPostgres())
        GTEST_SKIP() << "database files and their write lock";
    Serve();
    std::string other = dir.Path("restored.db");
    ASSERT_TRUE(test::ImportSampleBank(other));
    std::filesystem::rename(other, db);

    EXPECT_EQ(Report(Water, "H2O").status, 503);
    EXPECT_EQ(HttpGet(port, "/healthz").status, 503);
    EXPECT_NE(Log().find("was replaced"), std::string::npos) << Log();
    EXPECT_EQ(Count("SELECT count(*) FROM reports"), 0); // the new file got nothing either
}

TEST_F(StorageTest, ReadOnlyDatabaseIsUnhealthyUntilWritableAgain)
{
    if (test::OnPostgres())
        GTEST_SKIP() << "database files and their write lock";
    Serve();
    ASSERT_EQ(chmod(db.c_str(), 0444), 0);
    EXPECT_EQ(HttpGet(port, "/healthz").status, 503);
    EXPECT_EQ(Report(Water, "H2O").status, 503);
    EXPECT_NE(Log().find("is read-only"), std::string::npos) << Log();

    ASSERT_EQ(chmod(db.c_str(), 0644), 0);
    EXPECT_EQ(HttpGet(port, "/healthz").status, 200);
    EXPECT_EQ(Report(Water, "H2O").body, "ok");
}

TEST_F(StorageTest, FullDiskIsUnhealthyAndRecordsNothingButLookupsGoOn)
{
    if (test::OnPostgres())
        GTEST_SKIP() << "database files and their write lock";
    // A reserve larger than any test machine's free space is a full disk to the server.
    Serve({"--disk-reserve-mb", "1000000"});
    EXPECT_EQ(HttpGet(port, "/healthz").status, 503);
    EXPECT_EQ(Report(Water, "H2O").status, 503);
    EXPECT_NE(Log().find("disk is full"), std::string::npos) << Log();
    test::HttpReply answer = Lookup(Water);
    EXPECT_EQ(answer.status, 200);
    EXPECT_NE(answer.body.find("H2O"), std::string::npos);
    EXPECT_EQ(Count("SELECT count(*) FROM reports"), 0);
}

TEST_F(StorageTest, WriterHoldingTheDatabaseCostsReportsA503NotLookups)
{
    if (test::OnPostgres())
        GTEST_SKIP() << "database files and their write lock";
    Serve({"--threads", "8", "--lookup-rate", "0"});
    Connection writer;
    ASSERT_TRUE(writer.Open(db));
    ASSERT_TRUE(writer.Exec("BEGIN IMMEDIATE"));
    ASSERT_TRUE(writer.Exec("INSERT INTO reports(asked_at, client, question, answer) VALUES (1, 'x', 'y', 'z')"));

    std::atomic<int> refused{0}, acknowledged{0}, slowest{0};
    std::vector<std::thread> reporters;
    for (int t = 0; t < 12; ++t) {
        reporters.emplace_back([&, t] {
            for (int i = 0; i < 2; ++i) {
                auto start = std::chrono::steady_clock::now();
                test::HttpReply reply = Report("报告" + std::to_string(t), "答案", 8000);
                int took = static_cast<int>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                        .count());
                if (took > slowest)
                    slowest = took;
                if (reply.status == 503)
                    ++refused;
                if (reply.body == "ok")
                    ++acknowledged;
            }
        });
    }
    // Meanwhile every lookup is answered, each well within a second.
    int lookups = 0, answered = 0;
    std::chrono::steady_clock::duration longestLookup{};
    std::this_thread::sleep_for(300ms); // the reports are waiting by now
    auto until = std::chrono::steady_clock::now() + 2500ms;
    while (std::chrono::steady_clock::now() < until) {
        auto start = std::chrono::steady_clock::now();
        test::HttpReply reply = Lookup(Water, 1500);
        longestLookup = std::max(longestLookup, std::chrono::steady_clock::now() - start);
        ++lookups;
        if (reply.status == 200 && reply.body.find("H2O") != std::string::npos)
            ++answered;
    }
    for (std::thread& reporter : reporters)
        reporter.join();
    EXPECT_EQ(answered, lookups);
    EXPECT_GT(lookups, 3);
    EXPECT_EQ(refused.load(), 24);
    EXPECT_EQ(acknowledged.load(), 0);
    EXPECT_LT(slowest.load(), 4000) << "ms for the slowest refused report";
    std::cout << "[ info     ] database held by another writer: " << lookups << " lookups, longest "
              << std::chrono::duration_cast<std::chrono::milliseconds>(longestLookup).count()
              << " ms; 24 reports refused, slowest after " << slowest.load() << " ms\n";

    ASSERT_TRUE(writer.Exec("COMMIT"));
    EXPECT_EQ(Report(Water, "H2O").body, "ok");
}

TEST_F(StorageTest, ReportsAreCutToTheirLimitAndTheNewestKept)
{
    Serve({"--report-bytes", "256", "--max-reports", "10"});
    for (int i = 0; i < 24; ++i)
        ASSERT_EQ(Report("报告" + std::to_string(i), "答案").body, "ok");
    // 900 and 1,500 bytes of three-byte characters: cut to 256 bytes together, on character boundaries.
    std::string question, answer;
    for (int i = 0; i < 300; ++i)
        question += "题";
    for (int i = 0; i < 500; ++i)
        answer += "答";
    ASSERT_EQ(Report(question, answer).body, "ok");

    Connection reader;
    std::string error;
    ASSERT_TRUE(reader.OpenExisting(db, error));
    Statement& rows = reader.Cached("SELECT question, answer FROM reports ORDER BY id");
    std::vector<std::pair<std::string, std::string>> kept;
    while (rows.Step())
        kept.emplace_back(rows.Text(0), rows.Text(1));
    rows.Reset();
    ASSERT_EQ(kept.size(), 10u);
    EXPECT_EQ(kept.front().first, "报告15");
    const auto& [storedQuestion, storedAnswer] = kept.back();
    EXPECT_LE(storedQuestion.size() + storedAnswer.size(), 256u);
    EXPECT_GE(storedQuestion.size() + storedAnswer.size(), 250u);
    EXPECT_TRUE(IsValidUtf8(storedQuestion) && IsValidUtf8(storedAnswer));
    EXPECT_EQ(storedQuestion.substr(0, 30), question.substr(0, 30));
    EXPECT_EQ(storedAnswer.substr(0, 30), answer.substr(0, 30));
}

TEST_F(StorageTest, SqlMetacharactersAreKeptVerbatim)
{
    Serve();
    const std::string question = "x'); DROP TABLE reports; -- 题";
    const std::string answer = "\" OR 1=1 -- %_\\ ;";
    ASSERT_EQ(Report(question, answer).body, "ok");
    const std::string unknown = "什么是 ' OR '1'='1 的意思";
    ASSERT_EQ(Lookup(unknown).status, 200);
    ASSERT_TRUE(server->Signal(SIGTERM));
    ASSERT_NE(server->WaitForExit(10s), -1);

    Connection reader;
    std::string error;
    ASSERT_TRUE(reader.OpenExisting(db, error));
    Statement& rows = reader.Cached("SELECT question, answer FROM reports");
    ASSERT_TRUE(rows.Step());
    EXPECT_EQ(rows.Text(0), question);
    EXPECT_EQ(rows.Text(1), answer);
    rows.Reset();
    std::vector<UnansweredQuestion> list = ListUnanswered(reader, 10);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].question, unknown);
}

TEST_F(StorageTest, UnansweredQuestionsAreCappedKeepingTheMostAsked)
{
    Serve({"--max-unanswered", "5"});
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(Lookup("澳大利亚的国宝动物是什么").status, 200);
    for (int i = 0; i < 12; ++i)
        ASSERT_EQ(Lookup("没有收录的第" + std::to_string(i) + "个问题").status, 200);
    ASSERT_TRUE(server->Signal(SIGTERM)); // writes what is queued on the way out
    ASSERT_NE(server->WaitForExit(10s), -1);

    Connection reader;
    std::string error;
    ASSERT_TRUE(reader.OpenExisting(db, error));
    std::vector<UnansweredQuestion> list = ListUnanswered(reader, 100);
    EXPECT_LE(list.size(), 5u);
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list[0].question, "澳大利亚的国宝动物是什么");
    EXPECT_EQ(list[0].asked, 3);
}

TEST_F(StorageTest, OldRecordsArePrunedInBatchesAndRecentOnesKept)
{
    const int64_t now = std::time(nullptr);
    const int64_t old = now - 100 * 86400;
    WriteRows([&](Connection& writer) {
        Statement& report = writer.Cached(InsertReport);
        // More than two batches of old reports, then recent ones.
        for (int i = 0; i < 1203; ++i)
            ASSERT_TRUE(report.Bind(1, old + i).Bind(2, "旧" + std::to_string(i)).Run());
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(report.Bind(1, now - i).Bind(2, "新" + std::to_string(i)).Run());
        Statement& miss = writer.Cached("INSERT INTO misses VALUES (?1, ?1, 50, ?2, ?2)");
        ASSERT_TRUE(miss.Bind(1, "很久以前问的").Bind(2, old).Run());
        ASSERT_TRUE(miss.Bind(1, "昨天问的").Bind(2, now - 86400).Run());
    });
    ASSERT_FALSE(HasFatalFailure());
    Serve({"--report-days", "30", "--unanswered-days", "30"});
    WaitUntil([&] { return Count("SELECT count(*) FROM reports") == 3; });
    EXPECT_EQ(Count("SELECT count(*) FROM reports"), 3);
    EXPECT_EQ(Count("SELECT count(*) FROM reports WHERE question LIKE '新%'"), 3);
    WaitUntil([&] { return Count("SELECT count(*) FROM misses") == 1; });
    EXPECT_EQ(Count("SELECT count(*) FROM misses WHERE question = '昨天问的'"), 1);
    EXPECT_EQ(Count("SELECT count(*) FROM misses"), 1);
    // Reports keep coming in meanwhile.
    EXPECT_EQ(Report(Water, "H2O").body, "ok");
}

TEST_F(StorageTest, LoweredLimitsAreReachedInBatches)
{
    const int64_t now = std::time(nullptr);
    WriteRows([&](Connection& writer) {
        Statement& report = writer.Cached(InsertReport);
        for (int i = 0; i < 1203; ++i)
            ASSERT_TRUE(report.Bind(1, now).Bind(2, "报告" + std::to_string(i)).Run());
        Statement& miss = writer.Cached("INSERT INTO misses VALUES (?1, ?1, ?2, ?3, ?3)");
        for (int i = 0; i < 30; ++i)
            ASSERT_TRUE(miss.Bind(1, "问题" + std::to_string(i)).Bind(2, i + 1).Bind(3, now).Run());
    });
    ASSERT_FALSE(HasFatalFailure());
    Serve({"--max-reports", "100", "--max-unanswered", "10"});
    WaitUntil(
        [&] { return Count("SELECT count(*) FROM reports") == 100 && Count("SELECT count(*) FROM misses") == 10; });
    EXPECT_EQ(Count("SELECT count(*) FROM reports"), 100);
    EXPECT_EQ(Count("SELECT count(*) FROM reports WHERE question = '报告1103'"), 1); // the newest hundred
    EXPECT_EQ(Count("SELECT count(*) FROM misses"), 10);
    EXPECT_EQ(Count("SELECT min(asked) FROM misses"), 21); // the most asked ten
}

} // namespace
} // namespace kelvora
