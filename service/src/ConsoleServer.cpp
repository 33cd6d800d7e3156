#include "ConsoleServer.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "BankCopy.h"
#include "BankImport.h"
#include "ConnectionPool.h"
#include "ConsoleAssets.h"
#include "ConsoleHtml.h"
#include "ConsoleListener.h"
#include "ConsoleQueries.h"
#include "ConsoleSecrets.h"
#include "ConsoleSessions.h"
#include "ContentTypes.h"
#include "QueryString.h"
#include "QuestionText.h"
#include "TextPieces.h"
#include "Utf8Text.h"

namespace kelvora {

namespace {

constexpr const char* SessionCookie = "kelvora_console";
constexpr const char* LoginCookie = "kelvora_login";
constexpr int64_t PageSize = 50;
constexpr size_t MaxFilterBytes = 500;
// Connections the console holds on PostgreSQL: operators are few, and the
// server's own pool is the one that has to be sized for students.
constexpr int PostgresPool = 4;

int64_t Now()
{
    return static_cast<int64_t>(std::time(nullptr));
}

std::string CookieValue(const std::string& header, const std::string& name)
{
    for (std::string_view part : SplitAt(header, ";")) {
        part = part.substr(std::min(part.find_first_not_of(' '), part.size()));
        if (part.size() > name.size() && part.substr(0, name.size()) == name && part[name.size()] == '=')
            return std::string(part.substr(name.size() + 1));
    }
    return {};
}

std::string Field(const QueryParams& form, const std::string& name)
{
    auto found = form.values.find(name);
    return found == form.values.end() ? std::string() : found->second;
}

int64_t PageNumber(const QueryParams& query)
{
    std::string text = Field(query, "page");
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
        return 1;
    int64_t page = std::stoll(text);
    return page < 1 ? 1 : page;
}

int64_t IdNumber(const std::string& text)
{
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return std::stoll(text);
}

std::string Percent(double share)
{
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%", share * 100.0);
    return text;
}

std::string CookieFlags(bool https)
{
    return std::string("; Path=/; HttpOnly; SameSite=Strict") + (https ? "; Secure" : "");
}

void Redirect(ConsoleResponse& res, const std::string& location)
{
    res.status = 303;
    res.contentType = TextContent;
    res.body = "see " + location + "\n";
    res.headers.emplace_back("Location", location);
}

// Messages shown after a change, named in the address so that nothing
// written there is ever echoed.
std::string NoticeFor(const std::string& code)
{
    static const std::map<std::string, std::string> notices = {
        {"answered", "答案已存入题库，这道题已移出未回答列表。"},
        {"dismissed", "已忽略这道题。"},
        {"added", "题目已添加。"},
        {"edited", "题目已保存。"},
        {"deleted", "题目已删除。"},
        {"gone", "这道题已不在列表中（可能已被其他操作员处理）。"},
    };
    auto found = notices.find(code);
    if (found == notices.end())
        return {};
    return "<p class=\"message ok\" role=\"status\">" + HtmlEscape(found->second) + "</p>";
}

std::string ErrorMessage(const std::string& text)
{
    return "<p class=\"message error\" role=\"alert\">" + HtmlEscape(text) + "</p>";
}

struct EntryForm {
    BankEntry entry;
    std::map<std::string, std::string> errors; // field to message
};

std::string WithoutCarriageReturns(std::string text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        out.push_back(text[i] == '\r' ? '\n' : text[i]);
    }
    return out;
}

bool HasLineBreak(const std::string& text)
{
    return text.find_first_of("\r\n") != std::string::npos;
}

// Reads and checks a question's fields; the same rules as an import, told per field.
EntryForm ReadEntryForm(const QueryParams& form)
{
    EntryForm result;
    BankEntry& entry = result.entry;
    entry.question = Trimmed(WithoutCarriageReturns(Field(form, "question")));
    entry.answer = Trimmed(WithoutCarriageReturns(Field(form, "answer")));
    entry.kind = Trimmed(Field(form, "kind"));
    entry.options = Trimmed(WithoutCarriageReturns(Field(form, "options")));
    auto& errors = result.errors;
    for (auto [name, text] : {std::pair<const char*, std::string*>{"question", &entry.question},
                              {"answer", &entry.answer},
                              {"kind", &entry.kind},
                              {"options", &entry.options}}) {
        if (!IsValidUtf8(*text)) {
            errors[name] = "内容不是有效的 UTF-8 文本。";
            text->clear();
        }
    }
    if (!errors.count("question")) {
        if (entry.question.empty())
            errors["question"] = "请填写题目。";
        else if (entry.question.size() > MaxQuestionBytes)
            errors["question"] = "题目太长（最多 4000 字节）。";
        else if (NormalizeQuestionUtf8(entry.question).empty())
            errors["question"] = "题目里没有可查询的文字。";
    }
    if (!errors.count("answer")) {
        if (entry.answer.empty())
            errors["answer"] = "请填写答案。";
        else if (entry.answer.size() + entry.options.size() > MaxAnswerBytes) {
            errors["answer"] = "答案和选项合计太长（最多 20000 字节）。";
        }
    }
    if (!errors.count("kind")) {
        constexpr size_t MaxKindChars = 20;
        auto chars = DecodeUtf8(entry.kind);
        if (chars && chars->size() > MaxKindChars)
            errors["kind"] = "题型最多 20 个字。";
        else if (HasLineBreak(entry.kind))
            errors["kind"] = "题型不能换行。";
    }
    if (errors.empty()) {
        std::string problem = CheckEntry(entry);
        if (!problem.empty()) {
            std::string_view word = FindRejectedWord(entry.answer + entry.options + entry.question);
            errors["answer"] = word.empty()
                                   ? "无法存入题库：" + problem
                                   : "含有“" + std::string(word) + "”，工具会把这样的答案当作服务通知，请改写。";
        }
    }
    return result;
}

// Every field's complaint in one line, for the message above the form.
std::string AllErrors(const std::map<std::string, std::string>& errors)
{
    std::string text;
    for (const char* name : {"question", "answer", "kind", "options"}) {
        auto found = errors.find(name);
        if (found != errors.end())
            text += found->second;
    }
    return text;
}

std::string FieldError(const std::map<std::string, std::string>& errors, const std::string& name)
{
    auto found = errors.find(name);
    if (found == errors.end())
        return {};
    return "<div class=\"field-error\" data-field=\"" + name + "\">" + HtmlEscape(found->second) + "</div>";
}

std::string EntryFields(const BankEntry& entry, const std::map<std::string, std::string>& errors,
                        const std::string& idPrefix)
{
    auto id = [&](const char* name) { return HtmlEscape(idPrefix + "-" + name); };
    std::string html;
    html += "<label for=\"" + id("question") + "\">题目</label><textarea id=\"" + id("question") +
            "\" name=\"question\" required maxlength=\"4000\">" + HtmlEscape(entry.question) + "</textarea>" +
            FieldError(errors, "question");
    html += "<label for=\"" + id("answer") + "\">答案</label><textarea id=\"" + id("answer") +
            "\" name=\"answer\" required>" + HtmlEscape(entry.answer) + "</textarea>" + FieldError(errors, "answer");
    html += "<label for=\"" + id("kind") + "\">题型（可不填）</label><input type=\"text\" id=\"" + id("kind") +
            "\" name=\"kind\" list=\"kinds\" maxlength=\"20\" value=\"" + HtmlEscape(entry.kind) + "\">" +
            FieldError(errors, "kind");
    html += "<label for=\"" + id("options") + "\">选项（每行一个，或用 | 分隔；可不填）</label><textarea id=\"" +
            id("options") + "\" name=\"options\">" + HtmlEscape(entry.options) + "</textarea>" +
            FieldError(errors, "options");
    return html;
}

constexpr const char* KindList =
    "<datalist id=\"kinds\"><option value=\"单选\"><option value=\"多选\"><option value=\"判断\">"
    "<option value=\"填空\"><option value=\"问答\"></datalist>";

std::string CsrfField(const std::string& token)
{
    return "<input type=\"hidden\" name=\"csrf\" value=\"" + HtmlEscape(token) + "\">";
}

std::string CsvField(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"')
            out += "\"\"";
        else
            out.push_back(c);
    }
    return out + "\"";
}

} // namespace

struct ConsoleServer::Impl {
    ConsoleOptions options;
    ConnectionPool pool;
    ConsoleSessions sessions;
    LoginThrottle throttle;
    std::string chartScript;
    std::mutex importTurn;
    std::unique_ptr<ConsoleListener> listener;

    explicit Impl(ConsoleOptions given)
        : options(std::move(given)),
          pool(options.databasePath, IsPostgresLocation(options.databasePath) ? PostgresPool : 0)
    {
    }

    // The server's copy of the bank reads a change made here at once (on
    // SQLite lookups read the file and see it anyway).
    void BankChanged()
    {
        if (options.bank)
            options.bank->Wake();
    }

    // --- the frame around every page ---

    std::string Layout(const std::string& title, const std::string& current, const ConsoleSession* session,
                       const std::string& body) const
    {
        std::string html = "<!DOCTYPE html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
                           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                           "<title>" +
                           HtmlEscape(title) +
                           " · Kelvora 控制台</title>"
                           "<link rel=\"stylesheet\" href=\"/static/console.css\"></head><body><header>"
                           "<span class=\"brand\">Kelvora 答案服务控制台</span>";
        if (session) {
            html += "<nav>";
            for (auto [path, name] : {std::pair<const char*, const char*>{"/", "概览"},
                                      {"/unanswered", "未回答"},
                                      {"/bank", "题库"},
                                      {"/import", "导入导出"},
                                      {"/lookups", "查询记录"}}) {
                html += "<a href=\"" + std::string(path) + "\"" + (current == path ? " class=\"current\"" : "") + ">" +
                        name + "</a>";
            }
            html += "</nav><span>" + HtmlEscape(session->operatorName) +
                    "</span><form method=\"post\" action=\"/logout\">" + CsrfField(session->csrfToken) +
                    "<button type=\"submit\" id=\"logout\">退出</button></form>";
        }
        html += "</header><main>" + body +
                "</main><script src=\"/static/chart.js\"></script>"
                "<script src=\"/static/console.js\"></script></body></html>";
        return html;
    }

    void Page(ConsoleResponse& res, int status, const std::string& title, const std::string& current,
              const ConsoleSession* session, const std::string& body) const
    {
        res.status = status;
        res.contentType = HtmlContent;
        res.body = Layout(title, current, session, body);
    }

    static void SecurityHeaders(ConsoleResponse& res)
    {
        res.headers.emplace_back("Content-Security-Policy",
                                 "default-src 'self'; script-src 'self'; style-src 'self' 'unsafe-inline'; "
                                 "img-src 'self' data:; form-action 'self'; frame-ancestors 'none'; base-uri 'none'");
        res.headers.emplace_back("X-Content-Type-Options", "nosniff");
        res.headers.emplace_back("X-Frame-Options", "DENY");
        res.headers.emplace_back("Referrer-Policy", "no-referrer");
        res.headers.emplace_back("Cache-Control", "no-store");
    }

    // --- requests ---

    void Handle(const ConsoleRequest& req, ConsoleResponse& res)
    {
        SecurityHeaders(res);
        const bool get = req.method == "GET" || req.method == "HEAD";
        if (!get && req.method != "POST") {
            res.status = 405;
            res.contentType = TextContent;
            res.body = "method not allowed\n";
            res.headers.emplace_back("Allow", "GET, HEAD, POST");
            return;
        }
        if (get && (req.path.rfind("/static/", 0) == 0 || req.path == "/favicon.ico"))
            return Static(req, res);
        if (req.path == "/login")
            return get ? LoginPage(req, res, 200, "", "") : Login(req, res);

        std::string sessionId = CookieValue(req.cookie, SessionCookie);
        std::optional<ConsoleSession> session = sessions.Find(sessionId, Now());
        if (session && !StillOperator(*session)) {
            sessions.End(sessionId);
            session.reset();
        }
        if (!session) {
            if (get)
                return Redirect(res, "/login");
            res.status = 403;
            res.contentType = TextContent;
            res.body = "not logged in\n";
            return;
        }
        QueryParams query = ParseQuery(req.target);
        if (get) {
            if (req.path == "/")
                return Overview(res, *session);
            if (req.path == "/unanswered")
                return UnansweredPage(res, *session, query, 200, "", nullptr);
            if (req.path == "/bank")
                return BankPage(res, *session, query, 200, "", nullptr, 0);
            if (req.path == "/import")
                return ImportPage(res, *session);
            if (req.path == "/export.csv")
                return Export(res);
            if (req.path == "/lookups")
                return LookupsPage(res, *session, query);
            return Page(res, 404, "找不到页面", "", &*session, ErrorMessage("没有这个页面。"));
        }

        // Every change needs the session's token, from the form or, for the
        // upload, from a header.
        QueryParams form;
        bool formBody = req.contentType.rfind("application/x-www-form-urlencoded", 0) == 0;
        if (formBody)
            form = ParseQuery("?" + req.body);
        std::string token = !req.csrfHeader.empty() ? req.csrfHeader : Field(form, "csrf");
        if (!SameToken(token, session->csrfToken)) {
            return Page(res, 403, "请求被拒绝", "", &*session,
                        ErrorMessage("请求缺少有效的安全令牌，未做任何更改。请回到页面重新提交。"));
        }
        if (req.path == "/import")
            return Import(req, res, query);
        if (!formBody || !form.ok) {
            return Page(res, 400, "请求无效", "", &*session, ErrorMessage("表单内容无法读取，未做任何更改。"));
        }
        if (req.path == "/logout")
            return Logout(req, res);
        if (req.path == "/unanswered/answer")
            return AnswerOne(res, *session, form);
        if (req.path == "/unanswered/dismiss")
            return DismissOne(res, form);
        if (req.path == "/bank/add")
            return AddEntry(res, *session, form);
        if (req.path == "/bank/edit")
            return EditEntry(res, *session, form);
        if (req.path == "/bank/delete")
            return DeleteEntry(res, *session, form);
        return Page(res, 404, "找不到页面", "", &*session, ErrorMessage("没有这个操作。"));
    }

    // An account removed (or removed and made again) on the command line
    // ends its sessions at their next request.
    bool StillOperator(const ConsoleSession& session)
    {
        ConnectionPool::Lease db = pool.Acquire();
        if (!db)
            return false;
        std::optional<std::string> hash = OperatorPasswordHash(*db, session.operatorName);
        return hash && SameToken(*hash, session.credential);
    }

    void Static(const ConsoleRequest& req, ConsoleResponse& res)
    {
        res.headers.clear();
        res.headers.emplace_back("X-Content-Type-Options", "nosniff");
        res.headers.emplace_back("Cache-Control", "max-age=3600");
        if (req.path == "/static/console.css") {
            res.contentType = "text/css; charset=utf-8";
            res.body = std::string(ConsoleCss);
        } else if (req.path == "/static/console.js") {
            res.contentType = "text/javascript; charset=utf-8";
            res.body = std::string(ConsoleScript);
        } else if (req.path == "/static/chart.js" && !chartScript.empty()) {
            res.contentType = "text/javascript; charset=utf-8";
            res.body = chartScript;
        } else {
            res.status = 404;
            res.contentType = TextContent;
            res.body = "not found\n";
        }
    }

    // --- logging in and out ---

    void LoginPage(const ConsoleRequest& req, ConsoleResponse& res, int status, const std::string& name,
                   const std::string& message)
    {
        // Logging in needs a token too: one the login page sets as a cookie
        // and repeats in its form, so another site cannot post the form.
        // One token per browser: a page opened in another tab (or a redirect
        // to this page) must not outdate the form already shown.
        std::string token = CookieValue(req.cookie, LoginCookie);
        if (token.size() != 64 || token.find_first_not_of("0123456789abcdef") != std::string::npos) {
            token = RandomToken();
        }
        res.headers.emplace_back("Set-Cookie", std::string(LoginCookie) + "=" + token + CookieFlags(req.https));
        std::string body =
            "<div class=\"login panel\"><h1>操作员登录</h1>" +
            (message.empty() ? std::string() : ErrorMessage(message)) +
            "<form method=\"post\" action=\"/login\" id=\"login-form\">" + CsrfField(token) +
            "<label for=\"name\">用户名</label><input type=\"text\" id=\"name\" name=\"name\" "
            "autocomplete=\"username\" required maxlength=\"64\" value=\"" +
            HtmlEscape(name) +
            "\">"
            "<label for=\"password\">密码</label><input type=\"password\" id=\"password\" "
            "name=\"password\" autocomplete=\"current-password\" required>"
            "<div class=\"actions\"><button type=\"submit\" id=\"login\">登录</button></div></form></div>";
        Page(res, status, "登录", "", nullptr, body);
    }

    void Login(const ConsoleRequest& req, ConsoleResponse& res)
    {
        QueryParams form = ParseQuery("?" + req.body);
        std::string name = Field(form, "name");
        std::string password = Field(form, "password");
        if (!form.ok || !IsValidUtf8(name))
            name.clear();
        if (!SameToken(Field(form, "csrf"), CookieValue(req.cookie, LoginCookie))) {
            return LoginPage(req, res, 403, name, "登录页面已过期，请重新输入。");
        }
        if (name.empty() || password.empty() || name.size() > 64 || password.size() > 1024) {
            return LoginPage(req, res, 400, name, "请输入用户名和密码。");
        }
        int64_t now = Now();
        if (!throttle.Allowed(req.clientAddress, name, now)) {
            return LoginPage(req, res, 429, name, "登录失败次数过多，请 15 分钟后再试。");
        }
        std::optional<std::string> hash;
        {
            ConnectionPool::Lease db = pool.Acquire();
            if (!db)
                return LoginPage(req, res, 503, name, "数据库暂时无法打开，请稍后再试。");
            hash = OperatorPasswordHash(*db, name);
        }
        bool good = false;
        if (hash)
            good = VerifyPassword(*hash, password);
        else
            SpendVerificationTime(password);
        if (!good) {
            throttle.Failed(req.clientAddress, name, now);
            return LoginPage(req, res, 401, name, "用户名或密码不正确。");
        }
        throttle.Succeeded(name);
        std::string id = sessions.Start(name, *hash, now);
        res.headers.emplace_back("Set-Cookie", std::string(SessionCookie) + "=" + id + CookieFlags(req.https));
        res.headers.emplace_back("Set-Cookie", std::string(LoginCookie) + "=; Max-Age=0" + CookieFlags(req.https));
        Redirect(res, "/");
    }

    void Logout(const ConsoleRequest& req, ConsoleResponse& res)
    {
        sessions.End(CookieValue(req.cookie, SessionCookie));
        res.headers.emplace_back("Set-Cookie", std::string(SessionCookie) + "=; Max-Age=0" + CookieFlags(req.https));
        Redirect(res, "/login");
    }

    // --- overview ---

    void Overview(ConsoleResponse& res, const ConsoleSession& session)
    {
        ConnectionPool::Lease db = pool.Acquire();
        if (!db)
            return Page(res, 503, "概览", "/", &session, ErrorMessage("数据库暂时无法打开。"));
        int64_t now = Now();
        ConsoleOverview overview = ReadOverview(*db, now, LocalDayStart(now));
        constexpr int64_t TopUnanswered = 10;
        std::vector<UnansweredItem> top = ListUnansweredItems(*db, TopUnanswered, 0);
        nlohmann::json figures = {{"firstHour", overview.firstHour},
                                  {"answered", overview.answeredPerHour},
                                  {"unanswered", overview.unansweredPerHour},
                                  {"topQuestions", nlohmann::json::array()},
                                  {"topCounts", nlohmann::json::array()}};
        for (const UnansweredItem& item : top) {
            figures["topQuestions"].push_back(item.question);
            figures["topCounts"].push_back(item.asked);
        }
        std::string share = overview.lookupsLastDay == 0
                                ? std::string("—")
                                : Percent(static_cast<double>(overview.answeredLastDay) / overview.lookupsLastDay);
        auto card = [](const char* id, const char* label, const std::string& figure) {
            return "<div class=\"card\"><div class=\"label\">" + std::string(label) +
                   "</div><div class=\"figure\" id=\"" + id + "\">" + figure + "</div></div>";
        };
        std::string body = "<h1>概览</h1><div class=\"cards\">" +
                           card("figure-questions", "题库中的题目", GroupedDigits(overview.questions)) +
                           card("figure-today", "今天的查询", GroupedDigits(overview.lookupsToday)) +
                           card("figure-day", "最近 24 小时的查询", GroupedDigits(overview.lookupsLastDay)) +
                           card("figure-share", "最近 24 小时的回答率", share) + "</div>";
        body += "<div class=\"panel\"><h2>最近 7 天每小时的查询</h2><div class=\"chart-box\">"
                "<canvas id=\"hourly-chart\" aria-label=\"每小时的查询\"></canvas></div></div>";
        body += "<div class=\"panel\"><h2>被问最多的未回答问题</h2>";
        if (top.empty())
            body += "<p class=\"muted\">目前没有未回答的问题。</p>";
        body += "<div class=\"chart-box\"><canvas id=\"unanswered-chart\" aria-label=\"被问最多的未回答问题\"></canvas>"
                "</div><p><a href=\"/unanswered\">去回答这些问题 →</a></p></div>";
        body += "<script type=\"application/json\" id=\"chart-data\">" + JsonForScript(figures.dump()) + "</script>";
        Page(res, 200, "概览", "/", &session, body);
    }

    // --- unanswered questions ---

    void UnansweredPage(ConsoleResponse& res, const ConsoleSession& session, const QueryParams& query, int status,
                        const std::string& message, const EntryForm* failed, const std::string& failedKey = "")
    {
        ConnectionPool::Lease db = pool.Acquire();
        if (!db)
            return Page(res, 503, "未回答", "/unanswered", &session, ErrorMessage("数据库暂时无法打开。"));
        int64_t page = PageNumber(query);
        int64_t total = CountUnansweredItems(*db);
        std::vector<UnansweredItem> items = ListUnansweredItems(*db, PageSize, (page - 1) * PageSize);
        std::string body = "<h1>未回答的问题</h1>" + NoticeFor(Field(query, "done")) + message +
                           "<p class=\"muted\">学生查过、题库里没有的问题，被问最多的在前。共 " + GroupedDigits(total) +
                           " 道。回答后题目进入题库，下次查询即可得到答案。</p>";
        if (items.empty())
            body += "<p>目前没有未回答的问题。</p>";
        else {
            body += "<div class=\"table-wrap\"><table id=\"unanswered-table\"><thead><tr><th>问题</th><th>次数</th>"
                    "<th>最近一次</th><th>操作</th></tr></thead><tbody>";
            int index = 0;
            for (const UnansweredItem& item : items) {
                ++index;
                bool reopened = failed && item.key == failedKey;
                BankEntry entry = reopened ? failed->entry : BankEntry{item.question, "", "", ""};
                static const std::map<std::string, std::string> none;
                std::string prefix = "u" + std::to_string(index);
                body += "<tr class=\"unanswered-row\" data-question=\"" + HtmlEscape(item.question) +
                        "\"><td class=\"text\">" + HtmlEscape(item.question) + "<details" + (reopened ? " open" : "") +
                        "><summary>回答这道题</summary>"
                        "<form method=\"post\" action=\"/unanswered/answer\" class=\"answer-form\">" +
                        CsrfField(session.csrfToken) + "<input type=\"hidden\" name=\"key\" value=\"" +
                        HtmlEscape(item.key) + "\">" + EntryFields(entry, reopened ? failed->errors : none, prefix) +
                        "<div class=\"actions\"><button type=\"submit\">存入题库</button></div></form></details></td>"
                        "<td class=\"num\">" +
                        GroupedDigits(item.asked) + "</td><td class=\"nowrap\">" + LocalTimeText(item.lastAskedAt) +
                        "</td><td><form method=\"post\" "
                        "action=\"/unanswered/dismiss\" class=\"inline dismiss-form\">" +
                        CsrfField(session.csrfToken) + "<input type=\"hidden\" name=\"key\" value=\"" +
                        HtmlEscape(item.key) +
                        "\"><button type=\"submit\" class=\"secondary\">忽略</button></form></td></tr>";
            }
            body += std::string("</tbody></table></div>") + KindList;
        }
        body += Pager("/unanswered?", page, total);
        Page(res, status, "未回答", "/unanswered", &session, body);
    }

    std::string Pager(const std::string& base, int64_t page, int64_t total) const
    {
        int64_t pages = (total + PageSize - 1) / PageSize;
        if (pages <= 1)
            return {};
        std::string html = "<div class=\"pager\">";
        if (page > 1)
            html += "<a href=\"" + HtmlEscape(base) + "page=" + std::to_string(page - 1) + "\">← 上一页</a>";
        html += "<span>第 " + std::to_string(page) + " / " + std::to_string(pages) + " 页</span>";
        if (page < pages)
            html += "<a href=\"" + HtmlEscape(base) + "page=" + std::to_string(page + 1) + "\">下一页 →</a>";
        return html + "</div>";
    }

    void AnswerOne(ConsoleResponse& res, const ConsoleSession& session, const QueryParams& form)
    {
        std::string key = Field(form, "key");
        EntryForm entry = ReadEntryForm(form);
        if (!entry.errors.empty()) {
            return UnansweredPage(res, session, QueryParams{}, 400,
                                  ErrorMessage("答案没有保存：" + AllErrors(entry.errors)), &entry, key);
        }
        ConnectionPool::Lease db = pool.Acquire();
        if (!db)
            return Page(res, 503, "未回答", "/unanswered", &session, ErrorMessage("数据库暂时无法打开。"));
        BankChange change = AnswerUnanswered(*db, key, entry.entry, Now());
        if (change.missing)
            return Redirect(res, "/unanswered?done=gone");
        if (!change.ok) {
            return UnansweredPage(res, session, QueryParams{}, 500,
                                  ErrorMessage("答案没有保存：数据库写入失败（" + change.error + "）。"), &entry, key);
        }
        BankChanged();
        Redirect(res, "/unanswered?done=answered");
    }

    void DismissOne(ConsoleResponse& res, const QueryParams& form)
    {
        ConnectionPool::Lease db = pool.Acquire();
        if (!db || !DismissUnanswered(*db, Field(form, "key"))) {
            res.status = 503;
            res.contentType = TextContent;
            res.body = "database unavailable\n";
            return;
        }
        Redirect(res, ChangedRows(*db) > 0 ? "/unanswered?done=dismissed" : "/unanswered?done=gone");
    }

    // --- the bank ---

    std::string BankRowHtml(const BankRow& row, const ConsoleSession& session, bool similarity) const
    {
        std::string html = "<tr class=\"bank-row\" data-id=\"" + std::to_string(row.id) + "\"><td class=\"num\">" +
                           std::to_string(row.id) + "</td><td class=\"text\">" + HtmlEscape(row.entry.question) +
                           "</td><td class=\"text\">" + HtmlEscape(row.entry.answer) + "</td><td>" +
                           HtmlEscape(row.entry.kind) + "</td><td class=\"text\">" + HtmlEscape(row.entry.options) +
                           "</td>";
        if (similarity)
            html += "<td class=\"num score\">" + Percent(row.similarity) + "</td>";
        html += "<td class=\"nowrap\">" + LocalTimeText(row.updatedAt) +
                "</td><td class=\"nowrap\"><a href=\"/bank?edit=" + std::to_string(row.id) +
                "\">编辑</a> <form method=\"post\" action=\"/bank/delete\" class=\"inline\" "
                "data-confirm=\"删除这道题？\">" +
                CsrfField(session.csrfToken) + "<input type=\"hidden\" name=\"id\" value=\"" + std::to_string(row.id) +
                "\"><button type=\"submit\" class=\"danger\">删除</button></form></td></tr>";
        return html;
    }

    void BankPage(ConsoleResponse& res, const ConsoleSession& session, const QueryParams& query, int status,
                  const std::string& message, const EntryForm* failed, int64_t failedId)
    {
        ConnectionPool::Lease db = pool.Acquire();
        if (!db)
            return Page(res, 503, "题库", "/bank", &session, ErrorMessage("数据库暂时无法打开。"));
        std::string text = Field(query, "q");
        if (!IsValidUtf8(text) || text.size() > MaxFilterBytes)
            text.clear();
        int64_t page = PageNumber(query);
        static const std::map<std::string, std::string> none;
        std::string body = "<h1>题库</h1>" + NoticeFor(Field(query, "done")) + message;
        body +=
            "<form method=\"get\" action=\"/bank\" class=\"search panel\"><div><label for=\"q\">按查询的方式搜索题目"
            "</label><input type=\"search\" id=\"q\" name=\"q\" value=\"" +
            HtmlEscape(text) + "\"></div><button type=\"submit\">搜索</button></form>";

        int64_t editId = failed && failedId ? failedId : IdNumber(Field(query, "edit"));
        if (editId) {
            std::optional<BankRow> row = FindBankRow(*db, editId);
            if (!row)
                body += ErrorMessage("没有编号为 " + std::to_string(editId) + " 的题目。");
            else {
                BankEntry entry = failed ? failed->entry : row->entry;
                body += "<div class=\"panel\"><h2>编辑题目 " + std::to_string(editId) +
                        "</h2><form method=\"post\" action=\"/bank/edit\" id=\"edit-form\">" +
                        CsrfField(session.csrfToken) + "<input type=\"hidden\" name=\"id\" value=\"" +
                        std::to_string(editId) + "\">" + EntryFields(entry, failed ? failed->errors : none, "edit") +
                        "<div class=\"actions\"><button type=\"submit\">保存</button><a class=\"button\" "
                        "href=\"/bank\">取消</a></div></form></div>";
            }
        }
        bool addFailed = failed && failedId == 0;
        body += std::string("<details class=\"panel\"") + (addFailed ? " open" : "") +
                "><summary>添加题目</summary><form method=\"post\" action=\"/bank/add\" id=\"add-form\">" +
                CsrfField(session.csrfToken) +
                EntryFields(addFailed ? failed->entry : BankEntry{}, addFailed ? failed->errors : none, "add") +
                "<div class=\"actions\"><button type=\"submit\">添加</button></div></form></details>" + KindList;

        std::string head = "<div class=\"table-wrap\"><table id=\"bank-table\"><thead><tr><th>编号</th><th>题目</th>"
                           "<th>答案</th><th>题型</th><th>选项</th>";
        if (!text.empty()) {
            std::shared_ptr<BankCopy> copy = options.bank ? options.bank->Current() : nullptr;
            BankSearch search = SearchBank(*db, copy.get(), text, 100);
            body += "<h2>查询“" + HtmlEscape(text) + "”会得到的答案</h2>";
            if (search.lookupAnswer) {
                body += head + "<th>相似度</th><th>更新</th><th></th></tr></thead><tbody>" +
                        BankRowHtml(*search.lookupAnswer, session, true) + "</tbody></table></div>";
            } else {
                body += "<p id=\"no-lookup-answer\">查询这段文字时题库没有答案（会计入未回答的问题）。</p>";
            }
            body += "<h2>含有这段文字的题目</h2>";
            if (search.rows.empty())
                body += "<p class=\"muted\">没有。</p>";
            else {
                body += head + "<th>相似度</th><th>更新</th><th></th></tr></thead><tbody>";
                for (const BankRow& row : search.rows)
                    body += BankRowHtml(row, session, true);
                body += "</tbody></table></div>";
            }
        } else {
            int64_t total = CountBank(*db);
            body += "<h2>全部题目（" + GroupedDigits(total) + " 道，新的在前）</h2>" + head +
                    "<th>更新</th><th></th></tr></thead><tbody>";
            for (const BankRow& row : ListBank(*db, PageSize, (page - 1) * PageSize)) {
                body += BankRowHtml(row, session, false);
            }
            body += "</tbody></table></div>" + Pager("/bank?", page, total);
        }
        Page(res, status, "题库", "/bank", &session, body);
    }

    std::string ConflictMessage(int64_t id) const
    {
        return ErrorMessage("题库里已有相同的题目（编号 " + std::to_string(id) + "），没有保存。请编辑那一道。");
    }

    void AddEntry(ConsoleResponse& res, const ConsoleSession& session, const QueryParams& form)
    {
        EntryForm entry = ReadEntryForm(form);
        if (!entry.errors.empty()) {
            return BankPage(res, session, QueryParams{}, 400, ErrorMessage("题目没有添加：" + AllErrors(entry.errors)),
                            &entry, 0);
        }
        ConnectionPool::Lease db = pool.Acquire();
        if (!db)
            return Page(res, 503, "题库", "/bank", &session, ErrorMessage("数据库暂时无法打开。"));
        BankChange change = AddBankEntry(*db, entry.entry, Now());
        if (change.conflictId)
            return BankPage(res, session, QueryParams{}, 409, ConflictMessage(change.conflictId), &entry, 0);
        if (!change.ok) {
            return BankPage(res, session, QueryParams{}, 500, ErrorMessage("数据库写入失败：" + change.error), &entry,
                            0);
        }
        BankChanged();
        Redirect(res, "/bank?done=added");
    }

    void EditEntry(ConsoleResponse& res, const ConsoleSession& session, const QueryParams& form)
    {
        int64_t id = IdNumber(Field(form, "id"));
        EntryForm entry = ReadEntryForm(form);
        if (id == 0)
            return Redirect(res, "/bank");
        if (!entry.errors.empty()) {
            return BankPage(res, session, QueryParams{}, 400, ErrorMessage("没有保存：" + AllErrors(entry.errors)),
                            &entry, id);
        }
        ConnectionPool::Lease db = pool.Acquire();
        if (!db)
            return Page(res, 503, "题库", "/bank", &session, ErrorMessage("数据库暂时无法打开。"));
        BankChange change = EditBankEntry(*db, id, entry.entry, Now());
        if (change.missing)
            return BankPage(res, session, QueryParams{}, 404, ErrorMessage("这道题已不在题库中。"), nullptr, 0);
        if (change.conflictId)
            return BankPage(res, session, QueryParams{}, 409, ConflictMessage(change.conflictId), &entry, id);
        if (!change.ok) {
            return BankPage(res, session, QueryParams{}, 500, ErrorMessage("数据库写入失败：" + change.error), &entry,
                            id);
        }
        BankChanged();
        Redirect(res, "/bank?done=edited");
    }

    void DeleteEntry(ConsoleResponse& res, const ConsoleSession& session, const QueryParams& form)
    {
        int64_t id = IdNumber(Field(form, "id"));
        ConnectionPool::Lease db = pool.Acquire();
        if (!db)
            return Page(res, 503, "题库", "/bank", &session, ErrorMessage("数据库暂时无法打开。"));
        BankChange change = DeleteBankEntry(*db, id);
        if (change.missing)
            return BankPage(res, session, QueryParams{}, 404, ErrorMessage("这道题已不在题库中。"), nullptr, 0);
        if (!change.ok) {
            return BankPage(res, session, QueryParams{}, 500, ErrorMessage("数据库写入失败：" + change.error), nullptr,
                            0);
        }
        BankChanged();
        Redirect(res, "/bank?done=deleted");
    }

    // --- import and export ---

    void ImportPage(ConsoleResponse& res, const ConsoleSession& session)
    {
        std::string body =
            "<h1>导入题库</h1><div class=\"panel\"><p>CSV（首行写明列名：题目、答案，可选题型、选项）或 JSON 题库，"
            "最大 64 MB。已有的题目按题目更新，重复导入同一文件不会改变题库。</p>"
            "<form id=\"import-form\" data-csrf=\"" +
            HtmlEscape(session.csrfToken) +
            "\">"
            "<label for=\"bank-file\">题库文件</label><input type=\"file\" id=\"bank-file\" name=\"bank\" "
            "accept=\".csv,.tsv,.txt,.json,text/csv,application/json\">"
            "<div class=\"actions\"><button type=\"submit\" id=\"import-start\">上传并导入</button></div></form>"
            "<progress id=\"import-progress\" value=\"0\" max=\"1\"></progress><p id=\"import-status\" role=\"status\"></p>"
            "<div id=\"import-result\" hidden><div class=\"cards\">"
            "<div class=\"card\"><div class=\"label\">新增</div><div class=\"figure\" id=\"count-added\"></div></div>"
            "<div class=\"card\"><div class=\"label\">更新</div><div class=\"figure\" id=\"count-updated\"></div></div>"
            "<div class=\"card\"><div class=\"label\">未变</div><div class=\"figure\" id=\"count-unchanged\"></div></div>"
            "<div class=\"card\"><div class=\"label\">跳过</div><div class=\"figure\" id=\"count-skipped\"></div></div>"
            "</div><h2>逐行警告</h2><p id=\"no-warnings\" class=\"muted\">没有警告。</p><ul id=\"import-warnings\"></ul>"
            "<p id=\"warnings-more\" class=\"muted\"></p></div></div>"
            "<h1>导出题库</h1><div class=\"panel\"><p>整个题库导出为 CSV（题目、答案、题型、选项），可以再导入。</p>"
            "<a class=\"button\" href=\"/export.csv\" id=\"export\">下载 CSV</a></div>";
        Page(res, 200, "导入导出", "/import", &session, body);
    }

    void Import(const ConsoleRequest& req, ConsoleResponse& res, const QueryParams& query)
    {
        res.contentType = JsonContent;
        auto fail = [&](int status, const std::string& why) {
            res.status = status;
            res.body = nlohmann::json{{"ok", false}, {"error", why}}.dump();
        };
        std::string name = Field(query, "name");
        bool json = name.size() >= 5 && name.compare(name.size() - 5, 5, ".json") == 0;
        if (req.body.empty())
            return fail(400, "文件是空的。");
        std::unique_lock<std::mutex> turn(importTurn, std::try_to_lock);
        if (!turn)
            return fail(409, "另一个导入正在进行，请稍后再试。");

        // The upload goes through a file, so it is read as the command line
        // reads a bank: streamed, checked whole before anything is stored.
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp && *tmp ? tmp : "/tmp") + "/kelvora-upload-XXXXXX" + (json ? ".json" : ".csv");
        std::vector<char> path(pattern.begin(), pattern.end());
        path.push_back('\0');
        int fd = mkstemps(path.data(), json ? 5 : 4);
        if (fd < 0)
            return fail(500, "无法保存上传的文件。");
        bool written = true;
        for (size_t at = 0; written && at < req.body.size();) {
            ssize_t n = write(fd, req.body.data() + at, req.body.size() - at);
            if (n <= 0)
                written = false;
            else
                at += static_cast<size_t>(n);
        }
        close(fd);
        struct Remove {
            const char* path;
            ~Remove() { unlink(path); }
        } remove{path.data()};
        if (!written)
            return fail(500, "无法保存上传的文件（磁盘已满？）。");

        ConnectionPool::Lease db = pool.Acquire();
        if (!db)
            return fail(503, "数据库暂时无法打开。");
        constexpr size_t MostWarningsShown = 1000;
        std::vector<std::string> warnings;
        int64_t omitted = 0;
        ImportSummary summary = ImportBankFile(*db, path.data(), Now(), [&](const std::string& warning) {
            if (warnings.size() < MostWarningsShown)
                warnings.push_back(warning);
            else
                ++omitted;
        });
        if (summary.added + summary.updated > 0)
            BankChanged();
        if (!summary.ok)
            return fail(422, summary.error);
        res.status = 200;
        res.body = nlohmann::json{
            {"ok", true},
            {"added", summary.added},
            {"updated", summary.updated},
            {"unchanged", summary.unchanged},
            {"skipped", summary.skipped},
            {"warnings", warnings},
            {"warningsOmitted",
             omitted}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }

    void Export(ConsoleResponse& res)
    {
        ConnectionPool::Lease db = pool.Acquire();
        if (!db) {
            res.status = 503;
            res.contentType = TextContent;
            res.body = "database unavailable\n";
            return;
        }
        std::string csv = "\xEF\xBB\xBFquestion,answer,type,options\r\n";
        ForEachBankEntry(*db, [&](const BankEntry& entry) {
            csv += CsvField(entry.question) + "," + CsvField(entry.answer) + "," + CsvField(entry.kind) + "," +
                   CsvField(entry.options) + "\r\n";
        });
        res.contentType = "text/csv; charset=utf-8";
        res.headers.emplace_back("Content-Disposition", "attachment; filename=\"kelvora-bank.csv\"");
        res.body = std::move(csv);
    }

    // --- recent lookups ---

    void LookupsPage(ConsoleResponse& res, const ConsoleSession& session, const QueryParams& query)
    {
        ConnectionPool::Lease db = pool.Acquire();
        if (!db)
            return Page(res, 503, "查询记录", "/lookups", &session, ErrorMessage("数据库暂时无法打开。"));
        std::string text = Field(query, "q"), client = Field(query, "client");
        std::string message;
        if (!IsValidUtf8(text) || text.size() > MaxFilterBytes) {
            message += ErrorMessage("搜索的文字无效或太长，已忽略。");
            text.clear();
        }
        if (!IsValidUtf8(client) || client.size() > 64) {
            message += ErrorMessage("客户端地址无效，已忽略。");
            client.clear();
        }
        int64_t page = PageNumber(query);
        std::vector<LookupRow> rows = ListLookups(*db, text, client, PageSize + 1, (page - 1) * PageSize);
        bool more = static_cast<int64_t>(rows.size()) > PageSize;
        if (more)
            rows.pop_back();
        std::string body = "<h1>最近的查询</h1>" + message +
                           "<form method=\"get\" action=\"/lookups\" class=\"search panel\"><div><label for=\"lq\">"
                           "题目或答案含有</label><input type=\"search\" id=\"lq\" name=\"q\" value=\"" +
                           HtmlEscape(text) +
                           "\"></div><div><label for=\"lc\">客户端地址</label><input type=\"search\" id=\"lc\" "
                           "name=\"client\" value=\"" +
                           HtmlEscape(client) + "\"></div><button type=\"submit\">筛选</button></form>";
        if (rows.empty())
            body += "<p>没有符合的查询记录。</p>";
        else {
            body += "<div class=\"table-wrap\"><table id=\"lookups-table\"><thead><tr><th>时间</th><th>问题</th>"
                    "<th>给出的答案</th><th>客户端</th></tr></thead><tbody>";
            for (const LookupRow& row : rows) {
                body += std::string("<tr") + (IsAnsweredLookup(row.answer) ? "" : " class=\"unanswered\"") +
                        "><td class=\"nowrap\">" + LocalTimeText(row.askedAt) + "</td><td class=\"text\">" +
                        HtmlEscape(row.question) + "</td><td class=\"text\">" + HtmlEscape(row.answer) +
                        "</td><td class=\"nowrap\"><a href=\"/lookups?client=" + UrlEncode(row.client) + "\">" +
                        HtmlEscape(row.client) + "</a></td></tr>";
            }
            body += "</tbody></table></div>";
        }
        std::string base = "/lookups?q=" + UrlEncode(text) + "&client=" + UrlEncode(client) + "&";
        body += "<div class=\"pager\">";
        if (page > 1)
            body += "<a href=\"" + HtmlEscape(base) + "page=" + std::to_string(page - 1) + "\">← 较新</a>";
        if (more)
            body += "<a href=\"" + HtmlEscape(base) + "page=" + std::to_string(page + 1) + "\">较早 →</a>";
        body += "</div>";
        Page(res, 200, "查询记录", "/lookups", &session, body);
    }
};

ConsoleServer::ConsoleServer(ConsoleOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

ConsoleServer::~ConsoleServer() = default;

bool ConsoleServer::Start(std::string& error)
{
    if (!InitializeSecrets()) {
        error = "console: libsodium cannot be initialised";
        return false;
    }
    {
        ConnectionPool::Lease db = impl_->pool.Acquire();
        if (!db || !EnsureConsoleTables(*db)) {
            error = "console: cannot open the database " + impl_->options.databasePath;
            return false;
        }
    }
    if (!impl_->options.chartScriptPath.empty()) {
        std::ifstream in(impl_->options.chartScriptPath, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        impl_->chartScript = text.str();
    }
    if (impl_->chartScript.empty()) {
        std::fprintf(stderr, "kelvora-service: console: no chart script at %s; the overview shows figures only\n",
                     impl_->options.chartScriptPath.c_str());
    }
    ConsoleListenerOptions listen;
    listen.host = impl_->options.host;
    listen.port = impl_->options.port;
    listen.trustForwardedFor = impl_->options.trustForwardedFor;
    impl_->listener = std::make_unique<ConsoleListener>(
        listen, [this](const ConsoleRequest& req, ConsoleResponse& res) { impl_->Handle(req, res); },
        [](const std::string& method, const std::string& path) { return method == "POST" && path == "/import"; });
    return impl_->listener->Bind(error);
}

int ConsoleServer::BoundPort() const
{
    return impl_->listener ? impl_->listener->BoundPort() : 0;
}

void ConsoleServer::Run()
{
    if (impl_->listener)
        impl_->listener->Run();
}

void ConsoleServer::Stop()
{
    if (impl_->listener)
        impl_->listener->Stop();
}

} // namespace kelvora
