#include "AnswerServer.h"

#include <csignal>
#include <ctime>

#include "AnswerDisplay.h"
#include "BankCopy.h"
#include "ConnectionPool.h"
#include "ContentTypes.h"
#include "Database.h"
#include "DatabaseHealth.h"
#include "FailureLog.h"
#include "HttpListener.h"
#include "LookupKey.h"
#include "Maintenance.h"
#include "MissRecorder.h"
#include "QueryString.h"
#include "QuestionBank.h"
#include "RateLimiter.h"
#include "Replies.h"
#include "ReportWriter.h"
#include "Utf8Text.h"

namespace kelvora {

namespace {

// A longer question than MaxQuestionBytes is not a question (the tool's own URL
// limit is far below it); a reported answer may be as long as a bank's.
constexpr size_t MaxReportAnswerBytes = 20000;
// Reports wait for the write lock in turn; a few threads are enough to keep it busy.
constexpr int WriteThreads = 4;
// PostgreSQL commits reports side by side, each waiting for its commit to
// reach the disk; more of them at once share those flushes.
constexpr int PostgresWriteThreads = 12;
// On PostgreSQL, how often a server looks whether the bank has changed.
constexpr std::chrono::milliseconds BankCheck{1000};

int64_t Now()
{
    return static_cast<int64_t>(std::time(nullptr));
}

// One query parameter as UTF-8 text: why it is unusable, or empty.
std::string ReadParam(const QueryParams& query, const std::string& name, bool required, size_t maxBytes,
                      std::string& value)
{
    if (!query.ok)
        return query.error;
    auto found = query.values.find(name);
    if (found == query.values.end()) {
        value.clear();
        return required ? "missing parameter " + name : std::string();
    }
    if (!IsValidUtf8(found->second))
        return "parameter " + name + " is not valid UTF-8";
    if (found->second.size() > maxBytes)
        return "parameter " + name + " is too long";
    if (required && found->second.empty())
        return "parameter " + name + " is empty";
    value = found->second;
    return {};
}

void Reply(HttpResponse& res, int status, const std::string& body, const char* type)
{
    res.status = status;
    res.contentType = type;
    res.body = body;
}

} // namespace

struct AnswerServer::Impl {
    ServerOptions options;
    ConnectionPool pool;
    // On PostgreSQL lookups match on this copy of the bank; on SQLite they read the file.
    std::unique_ptr<BankMirror> bank;
    DatabaseHealth health{options.databasePath, options.limits.diskReserveBytes};
    MissRecorder misses{pool, options.limits, &health};
    ReportWriter reports{pool, health, options.limits};
    Maintenance maintenance{pool, health, options.limits};
    // Per client address; a burst of 20 s worth is allowed before the steady rate.
    RateLimiter lookupLimit{static_cast<double>(options.lookupRate), 20.0 * options.lookupRate};
    RateLimiter reportLimit{static_cast<double>(options.reportRate), 20.0 * options.reportRate};
    HttpListener http;
    std::string configReply;
    int boundPort = 0;

    explicit Impl(ServerOptions given)
        : options(std::move(given)), pool(options.databasePath, options.poolSize), http(ListenerSettings(options))
    {
        if (IsPostgresLocation(options.databasePath)) {
            bank = std::make_unique<BankMirror>(options.databasePath, BankCheck);
        }
    }

    BankMatch Match(const std::string& question, bool& available)
    {
        available = true;
        if (bank)
            return FindBestMatch(*bank->Current(), question);
        ConnectionPool::Lease db = pool.Acquire();
        if (!db) {
            available = false;
            return {};
        }
        return FindBestMatch(*db, question);
    }

    static ListenerOptions ListenerSettings(const ServerOptions& options)
    {
        ListenerOptions settings;
        settings.host = options.host;
        settings.port = options.port;
        settings.ioThreads = options.ioThreads;
        settings.readThreads = options.threads;
        settings.writeThreads = IsPostgresLocation(options.databasePath) ? PostgresWriteThreads : WriteThreads;
        settings.maxConnections = options.maxConnections;
        settings.maxConnectionsPerAddress = options.maxConnectionsPerAddress;
        settings.headTimeout = std::chrono::seconds(options.headTimeout);
        settings.keepAliveTimeout = std::chrono::seconds(options.keepAliveTimeout);
        settings.trustForwardedFor = options.trustForwardedFor;
        settings.accessLog = options.accessLog;
        return settings;
    }

    // The listener has already taken the proxy's entry when it is trusted.

    void LookupPage(const HttpRequest& req, HttpResponse& res)
    {
        std::string question;
        std::string problem = ReadParam(ParseQuery(req.target), "t", true, MaxQuestionBytes, question);
        if (!problem.empty())
            return Reply(res, 400, "bad request: " + problem + "\n", TextContent);
        std::string key = IssueLookupKey(options.secret, question, Now() + options.keyLifetime);
        if (key.empty())
            return Reply(res, 500, "cannot issue a key\n", TextContent);
        Reply(res, 200, LookupPageHtml(key), HtmlContent);
    }

    void Config(const HttpRequest&, HttpResponse& res) { Reply(res, 200, configReply, JsonContent); }

    void Answer(const HttpRequest& req, HttpResponse& res)
    {
        QueryParams query = ParseQuery(req.target);
        std::string question, key;
        std::string problem = ReadParam(query, "q", true, MaxQuestionBytes, question);
        if (problem.empty())
            problem = ReadParam(query, "k", false, 256, key);
        if (!problem.empty())
            return Reply(res, 400, AnswerJson(BadRequestAnswer, ""), JsonContent);

        if (CheckLookupKey(options.secret, question, key, Now()) != KeyCheck::Valid) {
            return Reply(res, 403, AnswerJson(BadKeyAnswer, ""), JsonContent);
        }
        bool available = false;
        BankMatch match = Match(question, available);
        if (!available)
            return Reply(res, 503, AnswerJson(UnavailableAnswer, ""), JsonContent);
        if (!match.found) {
            if (!req.head)
                misses.Add(question, Now());
            return Reply(res, 200, AnswerJson(NoMatchAnswer, question), JsonContent);
        }
        Reply(res, 200, AnswerJson(DisplayAnswer(match.entry), match.entry.question), JsonContent);
    }

    void Report(const HttpRequest& req, HttpResponse& res)
    {
        QueryParams query = ParseQuery(req.target);
        std::string question, answer;
        std::string problem = ReadParam(query, "t", true, MaxQuestionBytes, question);
        if (problem.empty())
            problem = ReadParam(query, "d", false, MaxReportAnswerBytes, answer);
        if (!problem.empty())
            return Reply(res, 400, "bad request: " + problem + "\n", TextContent);
        if (reports.Record(question, answer, req.clientAddress, Now()) != ReportOutcome::Recorded) {
            return Reply(res, 503, "not recorded\n", TextContent);
        }
        Reply(res, 200, "ok", TextContent);
    }

    void Health(const HttpRequest&, HttpResponse& res)
    {
        std::string problem = health.WriteProblem();
        if (!problem.empty()) {
            LogFailure("health check failed", problem);
            return Reply(res, 503, "database unavailable\n", TextContent);
        }
        // On PostgreSQL the count is a query over the connection: a lost
        // database makes the check fail, and the balancer sends no lookups
        // here. A pooled connection the database closed while idle (it was
        // restarted) is replaced once.
        for (int attempt = 1; attempt <= 2; ++attempt) {
            ConnectionPool::Lease db = pool.Acquire();
            if (!db)
                return Reply(res, 503, "database unavailable\n", TextContent);
            Statement& count = db->Cached("SELECT count(*) FROM questions");
            bool counted = count.Step();
            int64_t questions = counted ? count.Int(0) : 0;
            count.Reset();
            if (counted)
                return Reply(res, 200, "ok " + std::to_string(questions) + " questions\n", TextContent);
            if (!db->Broken() || attempt == 2) {
                LogFailure("health check failed", db->Error());
                break;
            }
        }
        Reply(res, 503, "database unavailable\n", TextContent);
    }

    void Route()
    {
        // Key pages and the configuration are quick and touch no database:
        // they are answered on the network threads. Lookups and the health
        // check read the database on the read pool; reports write it on the
        // write pool, so a report waiting for the write lock never holds up a lookup.
        http.Route(
            "/get_cha_url.php", RouteWork::Inline, [this](const auto& req, auto& res) { LookupPage(req, res); },
            &lookupLimit);
        http.Route("/new_get_api.php", RouteWork::Inline, [this](const auto& req, auto& res) { Config(req, res); });
        // An answer refused for its rate still reads as a service notice in the tool.
        http.Route(
            "/api/answer", RouteWork::Read, [this](const auto& req, auto& res) { Answer(req, res); }, &lookupLimit,
            [] {
                return HttpResponse{429, JsonContent, AnswerJson(TooManyAnswer, "")};
            });
        http.Route(
            "/upmy/up.php", RouteWork::Write, [this](const auto& req, auto& res) { Report(req, res); }, &reportLimit);
        http.Route("/healthz", RouteWork::Read, [this](const auto& req, auto& res) { Health(req, res); });
    }
};

AnswerServer::AnswerServer(ServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

AnswerServer::~AnswerServer() = default;

bool AnswerServer::Start(std::string& error)
{
    ServerOptions& options = impl_->options;
    {
        ConnectionPool::Lease db = impl_->pool.Acquire();
        if (!db) {
            error = IsPostgresLocation(options.databasePath) ? impl_->pool.LastOpenError()
                                                             : "cannot open the database " + options.databasePath;
            return false;
        }
        // A bank stored by an earlier version is searched by the current normal form.
        if (!UpdateNormalForms(*db)) {
            error = "cannot update the questions of " + ShownLocation(options.databasePath) + ": " + db->Error();
            return false;
        }
    }
    if (impl_->bank && !impl_->bank->Start(error))
        return false;
    if (!impl_->health.Remember(error))
        return false;
    impl_->pool.SetMostWaitingWriters(WriteThreads / 2);
    impl_->maintenance.Start();
    impl_->Route();
    if (!impl_->http.Bind(error))
        return false;
    impl_->boundPort = impl_->http.BoundPort();
    std::string publicUrl = options.publicUrl;
    if (publicUrl.empty())
        publicUrl = "http://" + options.host + ":" + std::to_string(impl_->boundPort);
    impl_->configReply = ConfigJson(options.notice, AnswerUrlTemplate(publicUrl), options.rejectNotice);
    return true;
}

int AnswerServer::BoundPort() const
{
    return impl_->boundPort;
}

void AnswerServer::Run()
{
    // A client that hangs up mid-reply must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    impl_->http.Run();
}

void AnswerServer::Stop()
{
    impl_->http.Stop();
}

void AnswerServer::FlushRecords()
{
    impl_->misses.Flush();
}

BankMirror* AnswerServer::Bank() const
{
    return impl_->bank.get();
}

} // namespace kelvora
