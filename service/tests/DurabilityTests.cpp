// The shipped program: starting from scratch, stopping on SIGTERM, and
// keeping every acknowledged report through a kill -9.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "Database.h"
#include "Records.h"
#include "TestSupport.h"

namespace kelvora {
namespace {

using namespace std::chrono_literals;

using test::FreePort;
using test::ReadFile;
using test::RunCommand;
using test::ServiceProcess;
using test::WaitUntilHealthy;

TEST(ServiceProgram, StartsFromNothingAndStopsCleanlyOnSigterm)
{
    test::TempDir dir;
    int port = FreePort();
    ASSERT_NE(port, 0);
    ServiceProcess service({"serve", "--listen", "127.0.0.1:" + std::to_string(port), "--db", dir.Database("new.db")},
                           dir.Path("serve.out"));
    ASSERT_TRUE(WaitUntilHealthy(port, 10s)) << ReadFile(dir.Path("serve.out"));

    if (!test::OnPostgres()) { // there the instances' shared secret is given
        struct stat info {};
        ASSERT_EQ(stat(dir.Path("new.db.secret").c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
    }
    EXPECT_EQ(test::HttpGet(port, "/healthz").body, "ok 0 questions\n");
    std::string question = test::PercentEncodeAll("空题库里的问题");
    std::string key = test::BodyText(test::HttpGet(port, "/get_cha_url.php?t=" + question).body);
    EXPECT_NE(test::HttpGet(port, "/api/answer?q=" + question + "&k=" + key).body.find("\\u67e5\\u65e0\\u6b64"),
              std::string::npos);

    ASSERT_TRUE(service.Signal(SIGTERM));
    int status = service.WaitForExit(10s);
    ASSERT_NE(status, -1) << "no exit within 10 s of SIGTERM";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(ReadFile(dir.Path("serve.out")), ""); // nothing to say when all is well

    // The unanswered question waiting to be written was written on the way out.
    Connection db;
    ASSERT_TRUE(db.Open(dir.Database("new.db")));
    std::vector<UnansweredQuestion> unanswered = ListUnanswered(db, 10);
    ASSERT_EQ(unanswered.size(), 1u);
    EXPECT_EQ(unanswered[0].question, "空题库里的问题");
}

TEST(ServiceProgram, AcknowledgedReportsSurviveKillNine)
{
    test::TempDir dir;
    int port = FreePort();
    ASSERT_NE(port, 0);
    std::vector<std::string> serve = {"serve", "--listen", "127.0.0.1:" + std::to_string(port), "--db",
                                      dir.Database("reports.db")};
    constexpr int Reports = 50;
    {
        ServiceProcess service(serve, dir.Path("serve1.out"));
        ASSERT_TRUE(WaitUntilHealthy(port, 10s));
        for (int i = 0; i < Reports; ++i) {
            std::string question = "第" + std::to_string(i) + "题";
            ASSERT_EQ(test::HttpGet(port, "/upmy/up.php?t=" + test::PercentEncodeAll(question) +
                                              "&d=" + test::PercentEncodeAll("答案" + std::to_string(i)))
                          .body,
                      "ok");
        }
        ASSERT_TRUE(service.Signal(SIGKILL));
        ASSERT_NE(service.WaitForExit(10s), -1);
    }
    {
        Connection db;
        ASSERT_TRUE(db.Open(dir.Database("reports.db")));
        Statement& rows = db.Cached("SELECT count(*), min(question), max(answer) FROM reports");
        ASSERT_TRUE(rows.Step());
        EXPECT_EQ(rows.Int(0), Reports);
        EXPECT_EQ(rows.Text(1), "第0题");
        EXPECT_EQ(rows.Text(2), "答案9");
        rows.Reset();
    }
    // The database opens again under a new server and takes new reports.
    ServiceProcess again(serve, dir.Path("serve2.out"));
    ASSERT_TRUE(WaitUntilHealthy(port, 10s)) << ReadFile(dir.Path("serve2.out"));
    EXPECT_EQ(test::HttpGet(port, "/upmy/up.php?t=%61").body, "ok");
}

TEST(ServiceProgram, CommandsImportListAndCount)
{
    test::TempDir dir;
    std::string db = dir.Database("cli.db");
    int status = 0;
    std::string first = RunCommand({"import", "--db", db, KELVORA_SAMPLE_BANK}, dir.Path("import1.out"), status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << first;
    EXPECT_NE(first.find(" 0 skipped"), std::string::npos) << first;
    std::string second = RunCommand({"import", "--db", db, KELVORA_SAMPLE_BANK}, dir.Path("import2.out"), status);
    EXPECT_NE(second.find(": 0 added, 0 updated, "), std::string::npos) << second;

    {
        Connection connection;
        ASSERT_TRUE(connection.Open(db));
        ASSERT_TRUE(connection.Exec("INSERT INTO misses VALUES ('甲', '甲？', 5, 1, 2), ('乙', '乙？', 9, 1, 3), "
                                    "('水的化学式是什么', '水的化学式是什么', 20, 1, 3)"));
    }
    std::string unanswered = RunCommand({"unanswered", "--db", db}, dir.Path("unanswered.out"), status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // Most asked first; a question the bank now answers is left out.
    EXPECT_EQ(unanswered, "9\t1970-01-01 00:00:03Z\t乙？\n5\t1970-01-01 00:00:02Z\t甲？\n");

    std::string stats = RunCommand({"stats", "--db", db}, dir.Path("stats.out"), status);
    EXPECT_NE(stats.find("unanswered lookups:       14"), std::string::npos) << stats;

    std::string wrong = RunCommand({"serve", "--listen", "nowhere"}, dir.Path("wrong.out"), status);
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_NE(wrong.find("usage"), std::string::npos);
    RunCommand({"import", "--db", db, dir.Path("missing.csv")}, dir.Path("missing.out"), status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
}

TEST(ServiceProgram, RefusesAnAddressAlreadyInUse)
{
    test::TempDir dir;
    int port = FreePort();
    std::vector<std::string> serve = {"serve", "--listen", "127.0.0.1:" + std::to_string(port), "--db",
                                      dir.Database("busy.db")};
    ServiceProcess first(serve, dir.Path("first.out"));
    ASSERT_TRUE(WaitUntilHealthy(port, 10s));
    ServiceProcess second(serve, dir.Path("second.out"));
    int status = second.WaitForExit(10s);
    ASSERT_NE(status, -1);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(ReadFile(dir.Path("second.out")).find("cannot listen"), std::string::npos);
}

} // namespace
} // namespace kelvora
