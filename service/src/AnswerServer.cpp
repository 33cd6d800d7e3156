#include "AnswerServer.h"

#include <csignal>
#include <ctime>
#include <httplib.h>

#include "AnswerDisplay.h"
#include "ConnectionPool.h"
#include "Database.h"
#include "DatabaseHealth.h"
#include "FailureLog.h"
#include "LookupKey.h"
#include "Maintenance.h"
#include "MissRecorder.h"
#include "QueryString.h"
#include "QuestionBank.h"
#include "Records.h"
#include "Replies.h"
#include "ReportWriter.h"
#include "Utf8Text.h"

namespace kelvora {

namespace {

// Longer questions are not questions; the tool's own URL limit is far below this.
constexpr size_t kMaxQuestionBytes = 4000;
constexpr size_t kMaxReportAnswerBytes = 20000;

constexpr const char* kJson = "application/json; charset=utf-8";
constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr const char* kText = "text/plain; charset=utf-8";

int64_t Now() {
    return static_cast<int64_t>(std::time(nullptr));
}

// One query parameter as UTF-8 text: why it is unusable, or empty.
std::string ReadParam(const QueryParams& query, const std::string& name, bool required, size_t maxBytes,
                      std::string& value) {
    if (!query.ok) return query.error;
    auto found = query.values.find(name);
    if (found == query.values.end()) {
        value.clear();
        return required ? "missing parameter " + name : std::string();
    }
    if (!IsValidUtf8(found->second)) return "parameter " + name + " is not valid UTF-8";
    if (found->second.size() > maxBytes) return "parameter " + name + " is too long";
    if (required && found->second.empty()) return "parameter " + name + " is empty";
    value = found->second;
    return {};
}

std::string StatusLine(int status) {
    const char* reason = "request refused";
    switch (status) {
        case 400: reason = "bad request"; break;
        case 404: reason = "not found"; break;
        case 405: reason = "method not allowed"; break;
        case 413: reason = "payload too large"; break;
        case 414: reason = "request line too long"; break;
        case 500: reason = "internal error"; break;
        case 503: reason = "service unavailable"; break;
    }
    return std::to_string(status) + " " + reason + "\n";
}

void Reply(httplib::Response& res, int status, const std::string& body, const char* type) {
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(body, type);
}

}  // namespace

struct AnswerServer::Impl {
    ServerOptions options;
    ConnectionPool pool;
    DatabaseHealth health{options.databasePath, options.limits.diskReserveBytes};
    MissRecorder misses{pool, options.limits, &health};
    ReportWriter reports{pool, health, options.limits};
    Maintenance maintenance{pool, health, options.limits};
    httplib::Server http;
    std::string configReply;
    int boundPort = 0;

    explicit Impl(ServerOptions given) : options(std::move(given)), pool(options.databasePath) {}

    std::string ClientAddress(const httplib::Request& req) const {
        if (options.trustForwardedFor && req.has_header("X-Forwarded-For")) {
            // The proxy appends the address it saw, so the last entry is the trusted one.
            std::string chain = req.get_header_value("X-Forwarded-For");
            size_t comma = chain.rfind(',');
            std::string last = comma == std::string::npos ? chain : chain.substr(comma + 1);
            size_t first = last.find_first_not_of(' ');
            if (first != std::string::npos) return last.substr(first);
        }
        return req.remote_addr;
    }

    void LookupPage(const httplib::Request& req, httplib::Response& res) {
        std::string question;
        std::string problem = ReadParam(ParseQuery(req.target), "t", true, kMaxQuestionBytes, question);
        if (!problem.empty()) return Reply(res, 400, "bad request: " + problem + "\n", kText);
        std::string key = IssueLookupKey(options.secret, question, Now() + options.keyLifetime);
        if (key.empty()) return Reply(res, 500, "cannot issue a key\n", kText);
        Reply(res, 200, LookupPageHtml(key), kHtml);
    }

    void Config(const httplib::Request&, httplib::Response& res) {
        Reply(res, 200, configReply, kJson);
    }

    void Answer(const httplib::Request& req, httplib::Response& res) {
        QueryParams query = ParseQuery(req.target);
        std::string question, key;
        std::string problem = ReadParam(query, "q", true, kMaxQuestionBytes, question);
        if (problem.empty()) problem = ReadParam(query, "k", false, 256, key);
        if (!problem.empty()) return Reply(res, 400, AnswerJson(kBadRequestAnswer, ""), kJson);

        if (CheckLookupKey(options.secret, question, key, Now()) != KeyCheck::Valid) {
            return Reply(res, 403, AnswerJson(kBadKeyAnswer, ""), kJson);
        }
        ConnectionPool::Lease db = pool.Acquire();
        if (!db) return Reply(res, 503, AnswerJson(kUnavailableAnswer, ""), kJson);
        BankMatch match = FindBestMatch(*db, question);
        if (!match.found) {
            misses.Add(question, Now());
            return Reply(res, 200, AnswerJson(kNoMatchAnswer, question), kJson);
        }
        Reply(res, 200, AnswerJson(DisplayAnswer(match.entry), match.entry.question), kJson);
    }

    void Report(const httplib::Request& req, httplib::Response& res) {
        QueryParams query = ParseQuery(req.target);
        std::string question, answer;
        std::string problem = ReadParam(query, "t", true, kMaxQuestionBytes, question);
        if (problem.empty()) problem = ReadParam(query, "d", false, kMaxReportAnswerBytes, answer);
        if (!problem.empty()) return Reply(res, 400, "bad request: " + problem + "\n", kText);
        if (reports.Record(question, answer, ClientAddress(req), Now()) != ReportOutcome::Recorded) {
            return Reply(res, 503, "not recorded\n", kText);
        }
        Reply(res, 200, "ok", kText);
    }

    void Health(const httplib::Request&, httplib::Response& res) {
        std::string problem = health.WriteProblem();
        if (!problem.empty()) {
            LogFailure("health check failed", problem);
            return Reply(res, 503, "database unavailable\n", kText);
        }
        ConnectionPool::Lease db = pool.Acquire();
        if (!db) return Reply(res, 503, "database unavailable\n", kText);
        Reply(res, 200, "ok " + std::to_string(CountQuestions(*db)) + " questions\n", kText);
    }

    void Route() {
        http.Get("/get_cha_url.php", [this](const auto& req, auto& res) { LookupPage(req, res); });
        http.Get("/new_get_api.php", [this](const auto& req, auto& res) { Config(req, res); });
        http.Get("/api/answer", [this](const auto& req, auto& res) { Answer(req, res); });
        http.Get("/upmy/up.php", [this](const auto& req, auto& res) { Report(req, res); });
        http.Get("/healthz", [this](const auto& req, auto& res) { Health(req, res); });
        // Errors the library produces itself (unknown path, overlong request line) get a plain reason.
        http.set_error_handler([](const httplib::Request&, httplib::Response& res) {
            if (res.body.empty()) {
                res.set_content(StatusLine(res.status), kText);
            }
        });
        http.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
            Reply(res, 500, "internal error\n", kText);
        });
    }
};

AnswerServer::AnswerServer(ServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

AnswerServer::~AnswerServer() = default;

bool AnswerServer::Start(std::string& error) {
    ServerOptions& options = impl_->options;
    {
        ConnectionPool::Lease db = impl_->pool.Acquire();
        if (!db) {
            error = "cannot open the database " + options.databasePath;
            return false;
        }
        // A bank stored by an earlier version is searched by the current normal form.
        if (!UpdateNormalForms(*db)) {
            error = "cannot update the questions of " + options.databasePath + ": " + db->Error();
            return false;
        }
    }
    if (!impl_->health.Remember(error)) return false;
    impl_->pool.SetMostWaitingWriters(std::max(1, options.threads / 4));
    impl_->maintenance.Start();
    size_t threads = static_cast<size_t>(options.threads > 0 ? options.threads : 1);
    impl_->http.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    // The library's default also sets SO_REUSEPORT, which would let a second
    // server share the port and take half the requests; refuse that instead.
    impl_->http.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    impl_->http.set_tcp_nodelay(true);  // small replies must not wait for delayed ACKs
    impl_->http.set_keep_alive_max_count(1000);
    // Each open connection holds a worker; browsers keep theirs open after
    // the lookup page, so idle ones are let go soon.
    impl_->http.set_keep_alive_timeout(2);
    impl_->http.set_payload_max_length(64 * 1024);
    impl_->Route();

    if (options.port == 0) {
        impl_->boundPort = impl_->http.bind_to_any_port(options.host);
        if (impl_->boundPort <= 0) impl_->boundPort = 0;
    } else if (impl_->http.bind_to_port(options.host, options.port)) {
        impl_->boundPort = options.port;
    }
    if (impl_->boundPort == 0) {
        error = "cannot listen on " + options.host + ":" + std::to_string(options.port);
        return false;
    }
    std::string publicUrl = options.publicUrl;
    if (publicUrl.empty()) publicUrl = "http://" + options.host + ":" + std::to_string(impl_->boundPort);
    impl_->configReply = ConfigJson(options.notice, AnswerUrlTemplate(publicUrl), options.rejectNotice);
    return true;
}

int AnswerServer::BoundPort() const {
    return impl_->boundPort;
}

void AnswerServer::Run() {
    // A client that hangs up mid-reply must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    impl_->http.listen_after_bind();
}

void AnswerServer::Stop() {
    impl_->http.stop();
}

void AnswerServer::FlushRecords() {
    impl_->misses.Flush();
}

}  // namespace kelvora
