// The console's parts below the pages: login limits, sessions, escaping, the
// password hashes, the queries that change the bank, and the operator commands.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <sys/stat.h>
#include <sys/wait.h>

#include "BankCopy.h"
#include "ConsoleHtml.h"
#include "ConsoleQueries.h"
#include "ConsoleSecrets.h"
#include "ConsoleSessions.h"
#include "ImportProgressBar.h"
#include "IndexState.h"
#include "QuestionBank.h"
#include "Records.h"
#include "TestSupport.h"

namespace kelvora {
namespace {

using test::TempDir;

TEST(ConsoleLogin, FailuresAreLimitedPerAccountAndPerAddress)
{
    LoginThrottle throttle;
    const int64_t t = 1'000'000;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(throttle.Allowed("10.0.0.1", "alice", t));
        throttle.Failed("10.0.0.1", "alice", t);
    }
    EXPECT_FALSE(throttle.Allowed("10.0.0.1", "alice", t)) << "the account after 5 failures";
    EXPECT_FALSE(throttle.Allowed("10.0.0.2", "alice", t)) << "the account from another address too";
    EXPECT_TRUE(throttle.Allowed("10.0.0.1", "bob", t)) << "another account from the same address";
    EXPECT_TRUE(throttle.Allowed("10.0.0.1", "alice", t + LoginThrottle::WindowSeconds)) << "after the window";

    // One address guessing many accounts.
    for (int i = 0; i < 20; ++i)
        throttle.Failed("10.0.0.9", "user" + std::to_string(i), t);
    EXPECT_FALSE(throttle.Allowed("10.0.0.9", "someone-else", t));
    EXPECT_TRUE(throttle.Allowed("10.0.0.8", "someone-else", t));

    throttle.Failed("10.0.0.3", "carol", t);
    throttle.Succeeded("carol");
    for (int i = 0; i < 4; ++i)
        throttle.Failed("10.0.0.3", "carol", t);
    EXPECT_TRUE(throttle.Allowed("10.0.0.4", "carol", t)) << "a success clears the account's count";
}

TEST(ConsoleLogin, SessionsExpireWhenIdleOrOld)
{
    ConsoleSessions sessions;
    const int64_t t = 1'000'000;
    std::string id = sessions.Start("alice", "hash", t);
    std::string other = sessions.Start("alice", "hash", t);
    EXPECT_EQ(id.size(), 64u);
    EXPECT_NE(id, other);
    auto found = sessions.Find(id, t + 60);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->operatorName, "alice");
    EXPECT_EQ(found->csrfToken.size(), 64u);
    EXPECT_NE(found->csrfToken, sessions.Find(other, t + 60)->csrfToken);
    EXPECT_FALSE(sessions.Find(id + "0", t + 60));
    EXPECT_FALSE(sessions.Find("", t + 60));

    // Kept alive by use, but not beyond 12 hours.
    int64_t now = t;
    for (; now - t < ConsoleSessions::LongestSeconds - 600; now += 600)
        ASSERT_TRUE(sessions.Find(id, now));
    EXPECT_FALSE(sessions.Find(id, t + ConsoleSessions::LongestSeconds + 1));
    EXPECT_FALSE(sessions.Find(other, t + 60 + ConsoleSessions::IdleSeconds + 1)) << "idle for 30 minutes";

    std::string third = sessions.Start("bob", "hash", t);
    sessions.End(third);
    EXPECT_FALSE(sessions.Find(third, t));
}

TEST(ConsoleLogin, PasswordsAreArgon2idHashes)
{
    ASSERT_TRUE(InitializeSecrets());
    std::string hash = HashPassword("correct horse 1");
    EXPECT_EQ(hash.rfind("$argon2id$", 0), 0u) << hash;
    EXPECT_NE(hash, HashPassword("correct horse 1")) << "salted";
    EXPECT_TRUE(VerifyPassword(hash, "correct horse 1"));
    EXPECT_FALSE(VerifyPassword(hash, "correct horse 2"));
    EXPECT_FALSE(VerifyPassword("", "correct horse 1"));
    EXPECT_FALSE(VerifyPassword("$argon2id$garbage", "correct horse 1"));
    EXPECT_TRUE(SameToken("abc", "abc"));
    EXPECT_FALSE(SameToken("abc", "abd"));
    EXPECT_FALSE(SameToken("abc", "abcd"));
    EXPECT_FALSE(SameToken("", "")) << "an empty token never matches";
}

TEST(ConsoleHtml, ValuesCannotLeaveTheirPlace)
{
    EXPECT_EQ(HtmlEscape("<b a=\"x\" c='y'>&</b>"), "&lt;b a=&quot;x&quot; c=&#39;y&#39;&gt;&amp;&lt;/b&gt;");
    std::string json = JsonForScript(R"({"q":"</script><script>alert(1)</script>&"})");
    EXPECT_EQ(json.find('<'), std::string::npos);
    EXPECT_EQ(json.find('&'), std::string::npos);
    EXPECT_NE(json.find("\\u003c/script\\u003e"), std::string::npos);
    EXPECT_EQ(UrlEncode("a b&c=中"), "a%20b%26c%3D%E4%B8%AD");
}

TEST(ConsoleHtml, ImportProgressLine)
{
    EXPECT_EQ(ImportProgressBar::Line("bank.csv", {false, 12500, 0}, 25000.4),
              "bank.csv: checking 12,500 rows, 25,000 rows/s");
    EXPECT_EQ(ImportProgressBar::Line("bank.csv", {true, 500, 1000}, 1000),
              "bank.csv: storing [###############...............] 50% 500/1,000 rows, 1,000 rows/s");
    EXPECT_EQ(ImportProgressBar::Line("b", {true, 0, 0}, 0),
              "b: storing [..............................] 0% 0/0 rows, 0 rows/s");
}

class ConsoleBank : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(db.Open(dir.Database("bank")));
        ASSERT_TRUE(EnsureConsoleTables(db));
        ASSERT_EQ(UpsertQuestion(db, {"中国的首都是哪座城市？", "北京", "填空", ""}, 100), UpsertOutcome::Added);
        ASSERT_EQ(UpsertQuestion(db, {"水的化学式是什么？", "H2O", "填空", ""}, 100), UpsertOutcome::Added);
        ASSERT_TRUE(RefreshTrigramCounts(db));
    }
    int64_t IdOf(const std::string& question)
    {
        for (const BankRow& row : ListBank(db, 100, 0)) {
            if (row.entry.question == question)
                return row.id;
        }
        return 0;
    }
    TempDir dir;
    Connection db;
};

TEST_F(ConsoleBank, AnsweringAnUnansweredQuestionMakesItsLookupAnswered)
{
    ASSERT_TRUE(RecordMiss(db, "火星上最高的山叫什么名字", 200));
    ASSERT_TRUE(RecordMiss(db, "火星上最高的山叫什么名字？", 300));
    std::vector<UnansweredItem> items = ListUnansweredItems(db, 10, 0);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].asked, 2);
    EXPECT_FALSE(FindBestMatch(db, "火星上最高的山叫什么名字").found);

    BankChange change = AnswerUnanswered(db, items[0].key, {items[0].question, "奥林匹斯山", "问答", ""}, 400);
    ASSERT_TRUE(change.ok) << change.error;
    BankMatch match = FindBestMatch(db, "火星上最高的山叫什么名字");
    ASSERT_TRUE(match.found);
    EXPECT_EQ(match.entry.answer, "奥林匹斯山");
    EXPECT_EQ(CountUnansweredItems(db), 0);
    EXPECT_TRUE(AnswerUnanswered(db, items[0].key, {items[0].question, "x", "", ""}, 500).missing)
        << "answered twice (two operators at once)";
}

TEST_F(ConsoleBank, EditsThatWouldCollideChangeNothing)
{
    int64_t capital = IdOf("中国的首都是哪座城市？");
    int64_t water = IdOf("水的化学式是什么？");
    BankChange change = EditBankEntry(db, water, {"中国的首都是哪座城市", "上海", "", ""}, 200);
    EXPECT_FALSE(change.ok);
    EXPECT_EQ(change.conflictId, capital);
    EXPECT_EQ(FindBankRow(db, water)->entry.answer, "H2O");
    EXPECT_EQ(FindBestMatch(db, "中国的首都是哪座城市").entry.answer, "北京");

    EXPECT_EQ(AddBankEntry(db, {"中国的首都是哪座城市?", "上海", "", ""}, 200).conflictId, capital);
    EXPECT_EQ(CountBank(db), 2);

    change = EditBankEntry(db, water, {"水的化学式怎么写？", "H₂O", "填空", ""}, 300);
    ASSERT_TRUE(change.ok) << change.error;
    EXPECT_EQ(FindBestMatch(db, "水的化学式怎么写").entry.answer, "H₂O");
    EXPECT_FALSE(FindBestMatch(db, "水的化学式是什么").found) << "the old wording is gone from the index";

    ASSERT_TRUE(DeleteBankEntry(db, water).ok);
    EXPECT_TRUE(DeleteBankEntry(db, water).missing);
    EXPECT_TRUE(EditBankEntry(db, water, {"x", "y", "", ""}, 400).missing);
    EXPECT_EQ(CountBank(db), 1);
}

TEST_F(ConsoleBank, SearchShowsWhatALookupAnswers)
{
    // On the database itself and on a server's copy of the bank, as a
    // server on PostgreSQL searches.
    BankCopy copy;
    std::string error;
    ASSERT_TRUE(copy.Load(db, error)) << error;
    for (BankSource* bank : {static_cast<BankSource*>(nullptr), static_cast<BankSource*>(&copy)}) {
        SCOPED_TRACE(bank ? "on the copy" : "on the database");
        BankSearch search = SearchBank(db, bank, "中国的首都是哪座城市", 10);
        ASSERT_TRUE(search.lookupAnswer);
        EXPECT_EQ(search.lookupAnswer->entry.answer, "北京");
        EXPECT_EQ(search.lookupAnswer->id, IdOf("中国的首都是哪座城市？"));
        EXPECT_DOUBLE_EQ(search.lookupAnswer->similarity, 1.0);
        ASSERT_EQ(search.rows.size(), 1u);
        search = SearchBank(db, bank, "中国的首都是哪座城市呢", 10);
        ASSERT_TRUE(search.lookupAnswer) << "a fuzzy match";
        EXPECT_EQ(search.lookupAnswer->entry.answer, "北京");
        EXPECT_LT(search.lookupAnswer->similarity, 1.0);
        EXPECT_FALSE(SearchBank(db, bank, "100%_", 10).lookupAnswer);
        EXPECT_TRUE(SearchBank(db, bank, "%", 10).rows.empty()) << "LIKE wildcards are searched as text";
        EXPECT_EQ(SearchBank(db, bank, "化学式", 10).rows.size(), 1u);
    }
}

// On PostgreSQL lookups match on each server's copy of the bank: a change
// made in the console raises the bank's version as an import does, and the
// copy of the server the console runs in reads it at once when woken.
TEST_F(ConsoleBank, ChangesReachTheServersCopyOfTheBank)
{
    if (!test::OnPostgres())
        GTEST_SKIP() << "on SQLite lookups read the file itself";
    BankMirror mirror(dir.Database("bank"), std::chrono::seconds(30)); // no timed check within the test
    std::string error;
    ASSERT_TRUE(mirror.Start(error)) << error;
    ASSERT_TRUE(RecordMiss(db, "火星上最高的山叫什么名字", 200));
    std::vector<UnansweredItem> items = ListUnansweredItems(db, 10, 0);
    ASSERT_EQ(items.size(), 1u);
    const int64_t before = BankVersion(db);
    ASSERT_TRUE(AnswerUnanswered(db, items[0].key, {items[0].question, "奥林匹斯山", "问答", ""}, 400).ok);
    EXPECT_GT(BankVersion(db), before) << "other servers' copies check the version";
    EXPECT_FALSE(FindBestMatch(*mirror.Current(), "火星上最高的山叫什么名字").found);
    mirror.Wake();
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!FindBestMatch(*mirror.Current(), "火星上最高的山叫什么名字").found &&
           std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(FindBestMatch(*mirror.Current(), "火星上最高的山叫什么名字").entry.answer, "奥林匹斯山");

    const int64_t water = IdOf("水的化学式是什么？");
    int64_t version = BankVersion(db);
    ASSERT_TRUE(EditBankEntry(db, water, {"水的化学式怎么写？", "H₂O", "", ""}, 500).ok);
    EXPECT_GT(BankVersion(db), version) << "an edit";
    version = BankVersion(db);
    ASSERT_TRUE(DeleteBankEntry(db, water).ok);
    EXPECT_GT(BankVersion(db), version) << "a deletion";
    version = BankVersion(db);
    ASSERT_TRUE(AddBankEntry(db, {"月球绕地球一周要多久？", "约27.3天", "", ""}, 600).ok);
    EXPECT_GT(BankVersion(db), version) << "an addition";
}

TEST_F(ConsoleBank, OverviewCountsLookupsPerHour)
{
    const int64_t now = 1'800'000'000 + 1800; // half past an hour
    ASSERT_TRUE(RecordReport(db, "中国的首都是哪座城市？", "北京", "10.0.0.1", now - 60));
    ASSERT_TRUE(RecordReport(db, "火星", "查无此题", "10.0.0.1", now - 120));
    ASSERT_TRUE(RecordReport(db, "水", "秘钥无效或已过期，请重新查询", "10.0.0.1", now - 3 * 3600));
    ASSERT_TRUE(RecordReport(db, "水", "H2O", "10.0.0.2", now - 30 * 3600));
    ASSERT_TRUE(RecordReport(db, "旧", "H2O", "10.0.0.2", now - 8 * 86400));
    ConsoleOverview overview = ReadOverview(db, now, now - 3600);
    EXPECT_EQ(overview.questions, 2);
    EXPECT_EQ(overview.lookupsToday, 2);
    EXPECT_EQ(overview.lookupsLastDay, 3);
    EXPECT_EQ(overview.answeredLastDay, 1);
    ASSERT_EQ(overview.answeredPerHour.size(), 168u);
    EXPECT_EQ(overview.answeredPerHour[167], 1);
    EXPECT_EQ(overview.unansweredPerHour[167], 1);
    EXPECT_EQ(overview.unansweredPerHour[164], 1);
    EXPECT_EQ(overview.answeredPerHour[137], 1);
    int64_t all = 0;
    for (int h = 0; h < 168; ++h)
        all += overview.answeredPerHour[h] + overview.unansweredPerHour[h];
    EXPECT_EQ(all, 4) << "the lookup of 8 days ago is outside";

    EXPECT_EQ(ListLookups(db, "", "10.0.0.2", 10, 0).size(), 2u);
    EXPECT_EQ(ListLookups(db, "查无此", "", 10, 0).size(), 1u);
    EXPECT_EQ(ListLookups(db, "h2o", "", 10, 0).size(), 2u) << "Latin letters in either case, on both stores";
    EXPECT_EQ(ListLookups(db, "H2O", "10.0.0.2", 1, 1).size(), 1u) << "the second page of one";
    EXPECT_TRUE(ListLookups(db, "_", "", 10, 0).empty()) << "LIKE wildcards are filtered as text";
}

int Shell(const std::string& command)
{
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(OperatorCommand, AddListRemove)
{
    TempDir dir;
    std::string exe = KELVORA_SERVICE_EXE;
    const std::string location = dir.Database("ops");
    // A PostgreSQL URI holds ? and &: quoted for the shell (no ' in either form).
    std::string db = "'" + location + "'";
    std::string quiet = " >" + dir.Path("out.txt") + " 2>" + dir.Path("err.txt");
    EXPECT_EQ(Shell(exe + " operator list --database " + (test::OnPostgres() ? db : "sqlite:" + db) + quiet), 1)
        << "no database";
    struct stat info;
    if (!test::OnPostgres())
        EXPECT_NE(stat(location.c_str(), &info), 0) << "list created nothing";

    // The password comes from a file: the command reads standard input only when it needs a password.
    auto from = [&](const std::string& password) {
        std::string path = dir.Path("password.txt");
        std::ofstream(path) << password << "\n";
        return " <" + path;
    };
    EXPECT_EQ(Shell(exe + " operator add alice --db " + db + from("long enough 1") + quiet), 0);
    EXPECT_EQ(Shell(exe + " operator add alice --db " + db + from("long enough 2") + quiet), 1) << "exists";
    EXPECT_EQ(Shell(exe + " operator add bob --db " + db + from("short") + quiet), 1);
    EXPECT_EQ(Shell(exe + " operator add carol --db " + db + " </dev/null" + quiet), 1) << "no password";
    EXPECT_EQ(Shell(exe + " operator add 'a b' --db " + db + from("long enough 1") + quiet), 2);
    EXPECT_EQ(Shell(exe + " operator list --db " + db + quiet), 0);
    std::ifstream out(dir.Path("out.txt"));
    std::string line, all;
    while (std::getline(out, line))
        all += line.substr(0, line.find('\t')) + ";";
    EXPECT_EQ(all, "alice;");

    Connection connection;
    ASSERT_TRUE(connection.Open(location));
    auto hash = OperatorPasswordHash(connection, "alice");
    ASSERT_TRUE(hash);
    ASSERT_TRUE(InitializeSecrets());
    EXPECT_TRUE(VerifyPassword(*hash, "long enough 1")) << "the line break is not part of the password";

    EXPECT_EQ(Shell(exe + " operator remove alice --db " + db + quiet), 0);
    EXPECT_EQ(Shell(exe + " operator remove alice --db " + db + quiet), 1);
    EXPECT_FALSE(OperatorPasswordHash(connection, "alice"));
}

} // namespace
} // namespace kelvora
