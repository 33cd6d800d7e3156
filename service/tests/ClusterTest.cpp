// Several server instances over one PostgreSQL database behind haproxy, as
// service/deploy sets them up, on loopback: clients go through the tool's
// whole protocol (lookup page, configuration, answer, report) while one
// instance is killed with SIGKILL and later started again. Fails unless at
// least 99.9 % of lookups are answered, every acknowledged report is in the
// database exactly once, keys made by one instance open answers on the
// others, and unanswered questions recorded by all instances at once are
// counted exactly. Needs KELVORA_TEST_DATABASE (a PostgreSQL URI) and haproxy;
// every loop is bounded in count and time.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "Database.h"
#include "TestSupport.h"

namespace kelvora {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int Instances = 3;
constexpr int Clients = 6;
constexpr auto RunDuration = 16s;
constexpr auto KillAt = 4s;
constexpr auto RestartAt = 9s;
constexpr int MostLookupsPerClient = 20000;
constexpr int MissesPerClient = 50;

constexpr test::TypedVariant KnownQuestions[] = {
    {"中国的首都是哪座城市", "中国的首都是哪座城市？"},
    {"水的化学式是什么 ?", "水的化学式是什么？"},
    {"一年有多少个月", "一年有多少个月？"},
    {"太阳系中离太阳最近的行星是", "太阳系中离太阳最近的行星是（  ）。"},
};

int failures = 0;

void Check(bool ok, const std::string& what)
{
    std::cout << (ok ? "ok    " : "FAIL  ") << what << std::endl;
    if (!ok)
        ++failures;
}

std::string HaproxyConfig(int port, const std::vector<int>& instances)
{
    // The same shape as deploy/haproxy.cfg: lookups may be retried on
    // another instance, reports only when they never reached one.
    std::string servers;
    for (size_t i = 0; i < instances.size(); ++i) {
        servers += "    server k" + std::to_string(i) + " 127.0.0.1:" + std::to_string(instances[i]) + "\n";
    }
    return "global\n    maxconn 4000\n"
           "defaults\n    mode http\n    timeout connect 1s\n    timeout client 10s\n    timeout server 5s\n"
           "    retries 3\n    option redispatch 1\n    option forwardfor\n"
           "frontend answers\n    bind 127.0.0.1:" +
           std::to_string(port) +
           "\n"
           "    use_backend reports if { path_beg /upmy/ }\n    default_backend lookups\n"
           "backend lookups\n    balance roundrobin\n    option httpchk GET /healthz\n    http-check expect status 200\n"
           "    retry-on all-retryable-errors\n    default-server check inter 300ms fall 2 rise 1\n" +
           servers +
           "backend reports\n    balance roundrobin\n    option httpchk GET /healthz\n    http-check expect status 200\n"
           "    retry-on conn-failure\n    default-server check inter 300ms fall 2 rise 1\n" +
           servers;
}

struct Instance {
    int port = 0;
    std::unique_ptr<test::ServiceProcess> process;
};

class Cluster {
public:
    Cluster(test::TempDir& dir, std::string database, int proxyPort)
        : dir_(dir), database_(std::move(database)), proxyPort_(proxyPort)
    {
    }

    bool Start(int index)
    {
        Instance& instance = instances_[index];
        instance.process = std::make_unique<test::ServiceProcess>(
            std::vector<std::string>{"serve", "--listen", "127.0.0.1:" + std::to_string(instance.port), "--database",
                                     database_, "--secret-file", dir_.Path("shared.secret"), "--public-url",
                                     "http://127.0.0.1:" + std::to_string(proxyPort_), "--trust-forwarded-for",
                                     "--lookup-rate", "0", "--report-rate", "0", "--threads", "4"},
            dir_.Path("instance" + std::to_string(index) + "-" + std::to_string(++starts_) + ".out"));
        return test::WaitUntilHealthy(instance.port, 10s);
    }

    Instance instances_[Instances];

private:
    test::TempDir& dir_;
    std::string database_;
    int proxyPort_;
    int starts_ = 0;
};

struct Tally {
    std::atomic<int> lookups{0};
    std::atomic<int> answered{0};
    std::atomic<int> reportsSent{0};
    std::mutex mutex;
    std::vector<std::string> acknowledged;
    std::map<int, int> failedStatus;
};

std::string TemplateOf(const test::HttpReply& reply)
{
    auto config = nlohmann::json::parse(reply.body, nullptr, false);
    if (reply.status != 200 || !config.is_object() || !config.contains("api"))
        return {};
    return config["api"].get<std::string>();
}

// One lookup as the tool makes it, each request on a new connection; true when answered right.
bool Lookup(int port, const test::TypedVariant& known, int& status)
{
    test::HttpReply page = test::HttpGet(port, "/get_cha_url.php?t=" + test::PercentEncodeAll(known.typed));
    status = page.status;
    if (page.status != 200)
        return false;
    test::HttpReply config = test::HttpGet(port, "/new_get_api.php");
    status = config.status;
    std::string api = TemplateOf(config);
    if (api.empty())
        return false;
    test::HttpReply answer = test::HttpGet(port, test::AnswerTarget(api, known.typed, test::BodyText(page.body)));
    status = answer.status;
    auto json = nlohmann::json::parse(answer.body, nullptr, false);
    return answer.status == 200 && json.is_object() && json.value("title", "") == known.bankQuestion;
}

// Sends a report and counts it; true when acknowledged (kept in the tally).
bool SendReport(int port, const std::string& report, Tally& tally)
{
    ++tally.reportsSent;
    test::HttpReply ack =
        test::HttpGet(port, "/upmy/up.php?t=" + test::PercentEncodeAll(report) + "&d=" + test::PercentEncodeAll("x"));
    if (ack.status != 200 || ack.body != "ok")
        return false;
    std::lock_guard<std::mutex> lock(tally.mutex);
    tally.acknowledged.push_back(report);
    return true;
}

int64_t Single(Connection& db, const std::string& sql)
{
    Statement& statement = db.Cached(sql.c_str());
    int64_t value = statement.Step() ? statement.Int(0) : -1;
    statement.Reset();
    return value;
}

int Run()
{
    std::string base = test::TestDatabaseBase();
    if (base.empty()) {
        std::cerr << "set KELVORA_TEST_DATABASE to a PostgreSQL URI (service/run-tests.sh does)\n";
        return 2;
    }
    auto started = Clock::now();
    test::TempDir dir;
    std::string database = dir.Database("cluster");
    {
        std::ofstream secret(dir.Path("shared.secret"), std::ios::binary);
        secret << "one secret for every instance of the cluster test";
    }
    chmod(dir.Path("shared.secret").c_str(), 0600);
    int status = 0;
    std::string imported =
        test::RunCommand({"import", "--database", database, KELVORA_SAMPLE_BANK}, dir.Path("import.out"), status);
    if (status != 0) {
        std::cerr << imported;
        return 1;
    }
    int proxyPort = test::FreePort();
    Cluster cluster(dir, database, proxyPort);
    std::vector<int> ports;
    for (Instance& instance : cluster.instances_)
        ports.push_back(instance.port = test::FreePort());
    for (int i = 0; i < Instances; ++i) {
        if (!cluster.Start(i)) {
            std::cerr << "instance " << i << " did not start\n"
                      << test::ReadFile(
                             dir.Path("instance" + std::to_string(i) + "-" + std::to_string(i + 1) + ".out"));
            return 1;
        }
    }
    {
        std::ofstream config(dir.Path("haproxy.cfg"));
        config << HaproxyConfig(proxyPort, ports);
    }
    test::ServiceProcess haproxy("haproxy", {"-db", "-f", dir.Path("haproxy.cfg")}, dir.Path("haproxy.out"));
    if (!test::WaitUntilHealthy(proxyPort, 10s)) {
        std::cerr << "haproxy did not start\n" << test::ReadFile(dir.Path("haproxy.out"));
        return 1;
    }

    // Keys made by one instance open answers on each of the others.
    {
        std::string question = KnownQuestions[1].typed;
        std::string key =
            test::BodyText(test::HttpGet(ports[0], "/get_cha_url.php?t=" + test::PercentEncodeAll(question)).body);
        bool all = !key.empty();
        for (int i = 1; i < Instances; ++i) {
            test::HttpReply reply =
                test::HttpGet(ports[i], "/api/answer?q=" + test::PercentEncodeAll(question) + "&k=" + key);
            all = all && reply.status == 200 && reply.body.find("H2O") != std::string::npos;
        }
        Check(all, "a key from instance 1 opens the answer on instances 2 and 3");
    }

    // Lookups and reports through haproxy while instance 2 is killed and started again.
    Tally tally;
    const auto runStart = Clock::now();
    std::vector<std::thread> clients;
    for (int c = 0; c < Clients; ++c) {
        clients.emplace_back([&, c] {
            for (int i = 0; i < MostLookupsPerClient && Clock::now() - runStart < RunDuration; ++i) {
                const test::TypedVariant& known = KnownQuestions[(c + i) % std::size(KnownQuestions)];
                int failedWith = 0;
                ++tally.lookups;
                if (Lookup(proxyPort, known, failedWith)) {
                    ++tally.answered;
                } else {
                    std::lock_guard<std::mutex> lock(tally.mutex);
                    ++tally.failedStatus[failedWith];
                }
                SendReport(proxyPort, "cluster report " + std::to_string(c) + "-" + std::to_string(i), tally);
            }
        });
    }
    std::this_thread::sleep_for(KillAt);
    cluster.instances_[1].process->Signal(SIGKILL);
    cluster.instances_[1].process->WaitForExit(5s);
    std::this_thread::sleep_for(RestartAt - KillAt);
    bool restarted = cluster.Start(1);
    for (std::thread& client : clients)
        client.join();
    double seconds = std::chrono::duration<double>(Clock::now() - runStart).count();
    Check(restarted, "instance 2 started again after SIGKILL");

    int lookups = tally.lookups, answered = tally.answered;
    double share = lookups > 0 ? 100.0 * answered / lookups : 0.0;
    char line[256];
    std::snprintf(line, sizeof line, "lookups answered: %d of %d (%.3f %%) in %.1f s, %.0f lookups/s through haproxy",
                  answered, lookups, share, seconds, lookups / seconds);
    std::string failedText;
    for (const auto& [code, count] : tally.failedStatus) {
        failedText += " status " + std::to_string(code) + ": " + std::to_string(count) + ";";
    }
    Check(lookups > 1000 && share >= 99.9, std::string(line) + (failedText.empty() ? "" : " failed:" + failedText));

    // Keys made before the restart still open answers on the restarted instance.
    {
        std::string question = KnownQuestions[0].typed;
        std::string key =
            test::BodyText(test::HttpGet(ports[2], "/get_cha_url.php?t=" + test::PercentEncodeAll(question)).body);
        test::HttpReply reply =
            test::HttpGet(ports[1], "/api/answer?q=" + test::PercentEncodeAll(question) + "&k=" + key);
        Check(reply.status == 200, "a key from instance 3 opens the answer on the restarted instance 2");
    }

    // The database restarted under the running instances: acknowledged
    // reports are still stored once, and afterwards the instances work on
    // new connections without being restarted themselves.
    if (const char* clusterDir = std::getenv("KELVORA_TEST_CLUSTER_DIR")) {
        std::atomic<bool> stop{false};
        std::atomic<int> refused{0};
        std::vector<std::thread> reporters;
        for (int c = 0; c < Clients; ++c) {
            reporters.emplace_back([&, c] {
                for (int i = 0; i < MostLookupsPerClient && !stop; ++i) {
                    if (!SendReport(proxyPort, "cluster report restart " + std::to_string(c) + "-" + std::to_string(i),
                                    tally))
                        ++refused;
                }
            });
        }
        std::this_thread::sleep_for(1500ms);
        std::string command = "'";
        command += KELVORA_PG_CLUSTER_SCRIPT;
        command += "' restart '";
        command += clusterDir;
        command += "'";
        bool restartedDatabase = std::system(command.c_str()) == 0;
        std::this_thread::sleep_for(2500ms);
        stop = true;
        for (std::thread& reporter : reporters)
            reporter.join();
        // Every instance, asked directly: its health check and a report on fresh connections.
        int working = 0;
        for (int i = 0; i < Instances; ++i) {
            bool healthy = false, reported = false;
            for (int attempt = 0; attempt < 50 && !(healthy && reported); ++attempt) {
                healthy = healthy || test::HttpGet(ports[i], "/healthz").status == 200;
                std::string report =
                    "cluster report after restart " + std::to_string(i) + "-" + std::to_string(attempt);
                ++tally.reportsSent;
                test::HttpReply ack =
                    test::HttpGet(ports[i], "/upmy/up.php?t=" + test::PercentEncodeAll(report) + "&d=x");
                if (ack.body == "ok") {
                    reported = true;
                    std::lock_guard<std::mutex> lock(tally.mutex);
                    tally.acknowledged.push_back(report);
                }
                if (!(healthy && reported))
                    std::this_thread::sleep_for(100ms);
            }
            working += healthy && reported;
        }
        std::snprintf(line, sizeof line,
                      "PostgreSQL restarted under load: %s; reports refused meanwhile: %d; instances healthy and "
                      "storing reports afterwards: %d of %d",
                      restartedDatabase ? "done" : "FAILED", refused.load(), working, Instances);
        Check(restartedDatabase && working == Instances, line);
    }

    Connection db;
    if (!db.Open(database)) {
        std::cerr << "cannot open the database: " << db.Error() << "\n";
        return 1;
    }
    {
        std::map<std::string, int64_t> stored;
        Statement& rows = db.Cached(
            "SELECT question, count(*) FROM reports WHERE question LIKE 'cluster report %' GROUP BY question");
        while (rows.Step())
            stored[rows.Text(0)] = rows.Int(1);
        rows.Reset();
        int missing = 0, twice = 0;
        for (const std::string& report : tally.acknowledged) {
            auto found = stored.find(report);
            if (found == stored.end())
                ++missing;
            else if (found->second != 1)
                ++twice;
        }
        for (const auto& [question, count] : stored)
            twice += count > 1 && std::find(tally.acknowledged.begin(), tally.acknowledged.end(), question) ==
                                      tally.acknowledged.end();
        std::snprintf(line, sizeof line,
                      "reports: %d sent, %zu acknowledged, %zu stored; acknowledged and missing: %d, stored twice: %d",
                      tally.reportsSent.load(), tally.acknowledged.size(), stored.size(), missing, twice);
        Check(missing == 0 && twice == 0 && !tally.acknowledged.empty(), line);
    }

    // Unanswered questions recorded by all three instances at once.
    {
        const std::string unknown = "集群里没有的问题";
        std::atomic<int> notices{0};
        std::vector<std::thread> askers;
        for (int c = 0; c < Clients; ++c) {
            askers.emplace_back([&] {
                for (int i = 0; i < MissesPerClient; ++i) {
                    std::string key = test::BodyText(
                        test::HttpGet(proxyPort, "/get_cha_url.php?t=" + test::PercentEncodeAll(unknown)).body);
                    test::HttpReply reply =
                        test::HttpGet(proxyPort, "/api/answer?q=" + test::PercentEncodeAll(unknown) + "&k=" + key);
                    if (reply.status == 200 && reply.body.find("\\u67e5\\u65e0\\u6b64") != std::string::npos)
                        ++notices;
                }
            });
        }
        for (std::thread& asker : askers)
            asker.join();
        // A clean stop writes what each instance still holds.
        bool stopped = true;
        for (Instance& instance : cluster.instances_)
            instance.process->Signal(SIGTERM);
        for (Instance& instance : cluster.instances_)
            stopped = instance.process->WaitForExit(10s) == 0 && stopped;
        int64_t counted = Single(db, "SELECT asked FROM misses WHERE question = '" + unknown + "'");
        std::snprintf(line, sizeof line,
                      "unanswered question asked %d times through 3 instances: counted %lld; instances stopped: %s",
                      notices.load(), static_cast<long long>(counted), stopped ? "status 0" : "NOT cleanly");
        Check(notices == Clients * MissesPerClient && counted == notices && stopped, line);
    }
    haproxy.Signal(SIGTERM);
    haproxy.WaitForExit(5s);
    std::printf("cluster test took %.1f s\n", std::chrono::duration<double>(Clock::now() - started).count());
    return failures == 0 ? 0 : 1;
}

} // namespace
} // namespace kelvora

int main()
{
    return kelvora::Run();
}
