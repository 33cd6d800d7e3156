// migrate: a SQLite database's bank, reports and unanswered questions copied
// into PostgreSQL, and nothing copied twice when it runs again. Runs in the
// PostgreSQL pass of the tests only.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include "BankImport.h"
#include "Database.h"
#include "QuestionBank.h"
#include "Records.h"
#include "TestSupport.h"

namespace kelvora {
namespace {

int64_t Count(Connection& db, const char* sql)
{
    Statement& statement = db.Cached(sql);
    int64_t value = statement.Step() ? statement.Int(0) : -1;
    statement.Reset();
    return value;
}

TEST(Migration, CopiesEverythingOnceAndAgainNothing)
{
    if (!test::OnPostgres())
        GTEST_SKIP() << "needs a PostgreSQL database";
    test::TempDir dir;
    std::string file = dir.Path("old.db");
    ASSERT_TRUE(test::ImportSampleBank(file));
    {
        Connection old;
        ASSERT_TRUE(old.Open(file));
        ASSERT_TRUE(RecordReport(old, "水的化学式是什么？", "H2O", "198.51.100.7", 1000));
        ASSERT_TRUE(RecordReport(old, "未知的问题'; DROP TABLE reports; --", "", "198.51.100.8", 1001));
        ASSERT_TRUE(RecordMiss(old, "未知的问题", 1001));
        ASSERT_TRUE(RecordMiss(old, "未知的问题？", 1005));
        ASSERT_TRUE(RecordMiss(old, "另一个未知的问题", 1002));
    }
    std::string target = dir.Database("new");
    int status = 0;
    std::string first = test::RunCommand({"migrate", "--from", file, "--database", target}, dir.Path("m1.out"), status);
    ASSERT_EQ(WEXITSTATUS(status), 0) << first;
    EXPECT_NE(first.find("questions: 72 added, 0 updated, 0 unchanged"), std::string::npos) << first;
    EXPECT_NE(first.find("reports copied: 2"), std::string::npos) << first;

    // Reports written to the target meanwhile are kept; a second run adds nothing.
    {
        Connection db;
        ASSERT_TRUE(db.Open(target));
        ASSERT_TRUE(RecordReport(db, "新的报告", "答案", "203.0.113.1", 2000));
    }
    std::string second =
        test::RunCommand({"migrate", "--from", file, "--database", target}, dir.Path("m2.out"), status);
    ASSERT_EQ(WEXITSTATUS(status), 0) << second;
    EXPECT_NE(second.find("questions: 0 added, 0 updated, 72 unchanged"), std::string::npos) << second;
    EXPECT_NE(second.find("reports copied: 0"), std::string::npos) << second;

    Connection db;
    ASSERT_TRUE(db.Open(target));
    EXPECT_EQ(CountQuestions(db), 72);
    EXPECT_EQ(Count(db, "SELECT count(*) FROM reports"), 3);
    EXPECT_EQ(Count(db, "SELECT count(*) FROM reports WHERE question = '未知的问题''; DROP TABLE reports; --'"), 1);
    std::vector<UnansweredQuestion> unanswered = ListUnanswered(db, 10);
    ASSERT_EQ(unanswered.size(), 2u);
    EXPECT_EQ(unanswered[0].question, "未知的问题？");
    EXPECT_EQ(unanswered[0].asked, 2);
    EXPECT_EQ(unanswered[0].lastAskedAt, 1005);
    EXPECT_EQ(FindBestMatch(db, "水的化学式是什么").entry.answer, "H2O");

    // The usage is checked: a SQLite target or no source is refused.
    test::RunCommand({"migrate", "--from", file, "--db", dir.Path("other.db")}, dir.Path("m3.out"), status);
    EXPECT_EQ(WEXITSTATUS(status), 2);
    test::RunCommand({"migrate", "--from", dir.Path("missing.db"), "--database", target}, dir.Path("m4.out"), status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
}

} // namespace
} // namespace kelvora
