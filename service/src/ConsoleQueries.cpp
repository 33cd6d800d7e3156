#include "ConsoleQueries.h"

#include <algorithm>

#include "IndexState.h"
#include "QuestionText.h"
#include "Similarity.h"
#include "Utf8Text.h"

namespace kelvora {

namespace {

constexpr int64_t HoursShown = 7 * 24;

// Notices the service (or the tool's own refusal) puts where an answer goes;
// 1 for an answered lookup, 0 otherwise, in SQL both stores read alike.
constexpr const char* AnsweredSql = "CASE WHEN answer LIKE '%查无此%' OR answer LIKE '%秘钥%' THEN 0 ELSE 1 END";

int64_t Single(Statement& statement)
{
    int64_t value = statement.Step() ? statement.Int(0) : 0;
    statement.Reset();
    return value;
}

std::string LikePattern(const std::string& text)
{
    std::string pattern = "%";
    for (char c : text) {
        if (c == '%' || c == '_' || c == '\\')
            pattern.push_back('\\');
        pattern.push_back(c);
    }
    pattern.push_back('%');
    return pattern;
}

// Text filters ignore the case of Latin letters, as SQLite's LIKE does; on
// PostgreSQL that takes ILIKE.
std::string SearchCondition(const char* like)
{
    return std::string("WHERE question ") + like + " ?1 ESCAPE '\\' OR norm " + like + " ?2 ESCAPE '\\' ";
}

std::string LookupsQuery(const char* like)
{
    return std::string("SELECT id, asked_at, client, question, answer FROM reports WHERE (?1 = '' OR question ") +
           like + " ?2 ESCAPE '\\' OR answer " + like + " ?2 ESCAPE '\\') " +
           "AND (?3 = '' OR client = ?3) ORDER BY id DESC LIMIT ?4 OFFSET ?5";
}

BankRow ReadBankRow(Statement& statement)
{
    BankRow row;
    row.id = statement.Int(0);
    row.entry = {statement.Text(1), statement.Text(2), statement.Text(3), statement.Text(4)};
    row.updatedAt = statement.Int(5);
    return row;
}

constexpr const char* BankColumns = "SELECT id, question, answer, kind, options, updated_at FROM questions ";

// A change to the questions in one transaction, marked for the fuzzy
// index's counts, which are rebuilt once it is committed.
template <typename Change>
BankChange ChangeBank(Connection& db, Change change)
{
    BankChange result;
    {
        Transaction transaction(db);
        if (!transaction.Begun()) {
            result.error = db.Error();
            return result;
        }
        if (!change(result)) {
            if (result.error.empty() && !result.missing && result.conflictId == 0)
                result.error = db.Error();
            return result;
        }
        if (!MarkTrigramCountsStale(db) || !transaction.Commit()) {
            result.error = db.Error();
            return result;
        }
    }
    result.ok = true;
    // The questions are stored and found by exact form at once; a failed
    // recount is done again by the next import or start.
    RebuildTrigramCounts(db);
    return result;
}

int64_t IdOfNorm(Connection& db, const std::string& norm)
{
    Statement& find = db.Cached("SELECT id FROM questions WHERE norm = ?1");
    find.Bind(1, norm);
    return Single(find);
}

} // namespace

bool EnsureConsoleTables(Connection& db)
{
    if (db.IsPostgres()) {
        // Instances starting at once make it one after the other, under the
        // lock the rest of the schema is made under.
        if (db.Exec("BEGIN; SELECT pg_advisory_xact_lock(4711004); "
                    "CREATE TABLE IF NOT EXISTS operators(name TEXT COLLATE \"C\" PRIMARY KEY, "
                    "password_hash TEXT NOT NULL, created_at BIGINT NOT NULL); COMMIT")) {
            return true;
        }
        db.Exec("ROLLBACK");
        return false;
    }
    return db.Exec("CREATE TABLE IF NOT EXISTS operators(name TEXT PRIMARY KEY, password_hash TEXT NOT NULL, "
                   "created_at INTEGER NOT NULL) WITHOUT ROWID");
}

OperatorChange AddOperator(Connection& db, const std::string& name, const std::string& passwordHash, int64_t now)
{
    if (OperatorPasswordHash(db, name))
        return OperatorChange::Exists;
    Statement& insert = db.Cached("INSERT INTO operators(name, password_hash, created_at) VALUES (?1, ?2, ?3)");
    insert.Bind(1, name).Bind(2, passwordHash).Bind(3, now);
    return insert.Run() ? OperatorChange::Done : OperatorChange::Failed;
}

OperatorChange RemoveOperator(Connection& db, const std::string& name)
{
    if (!OperatorPasswordHash(db, name))
        return OperatorChange::Missing;
    Statement& remove = db.Cached("DELETE FROM operators WHERE name = ?1");
    remove.Bind(1, name);
    return remove.Run() ? OperatorChange::Done : OperatorChange::Failed;
}

std::vector<OperatorAccount> ListOperators(Connection& db)
{
    std::vector<OperatorAccount> list;
    Statement& select = db.Cached("SELECT name, created_at FROM operators ORDER BY name");
    while (select.Step())
        list.push_back({select.Text(0), select.Int(1)});
    select.Reset();
    return list;
}

std::optional<std::string> OperatorPasswordHash(Connection& db, const std::string& name)
{
    Statement& select = db.Cached("SELECT password_hash FROM operators WHERE name = ?1");
    select.Bind(1, name);
    std::optional<std::string> hash;
    if (select.Step())
        hash = select.Text(0);
    select.Reset();
    return hash;
}

bool IsAnsweredLookup(const std::string& answer)
{
    return answer.find("查无此") == std::string::npos && answer.find("秘钥") == std::string::npos;
}

ConsoleOverview ReadOverview(Connection& db, int64_t now, int64_t todayStart)
{
    ConsoleOverview overview;
    ReadSnapshot snapshot(db);
    overview.questions = CountQuestions(db);
    Statement& since = db.Cached("SELECT count(*) FROM reports WHERE asked_at >= ?1");
    overview.lookupsToday = Single(since.Bind(1, todayStart));
    static const std::string lastDaySql =
        std::string("SELECT count(*), coalesce(sum(") + AnsweredSql + "), 0) FROM reports WHERE asked_at > ?1";
    Statement& lastDay = db.Cached(lastDaySql.c_str());
    lastDay.Bind(1, now - 86400);
    if (lastDay.Step()) {
        overview.lookupsLastDay = lastDay.Int(0);
        overview.answeredLastDay = lastDay.Int(1);
    }
    lastDay.Reset();

    overview.firstHour = (now / 3600 - (HoursShown - 1)) * 3600;
    overview.answeredPerHour.assign(HoursShown, 0);
    overview.unansweredPerHour.assign(HoursShown, 0);
    static const std::string hourlySql = std::string("SELECT (asked_at - ?1) / 3600, sum(") + AnsweredSql +
                                         "), count(*) FROM reports WHERE asked_at >= ?1 GROUP BY 1";
    Statement& hourly = db.Cached(hourlySql.c_str());
    hourly.Bind(1, overview.firstHour);
    while (hourly.Step()) {
        int64_t hour = hourly.Int(0);
        if (hour < 0 || hour >= HoursShown)
            continue; // a clock set back
        overview.answeredPerHour[hour] = hourly.Int(1);
        overview.unansweredPerHour[hour] = hourly.Int(2) - hourly.Int(1);
    }
    hourly.Reset();
    return overview;
}

std::vector<UnansweredItem> ListUnansweredItems(Connection& db, int64_t limit, int64_t offset)
{
    std::vector<UnansweredItem> list;
    Statement& select = db.Cached("SELECT m.norm, m.question, m.asked, m.last_at FROM misses m "
                                  "WHERE NOT EXISTS (SELECT 1 FROM questions q WHERE q.norm = m.norm) "
                                  "ORDER BY m.asked DESC, m.last_at DESC LIMIT ?1 OFFSET ?2");
    select.Bind(1, limit).Bind(2, offset);
    while (select.Step())
        list.push_back({select.Text(0), select.Text(1), select.Int(2), select.Int(3)});
    select.Reset();
    return list;
}

int64_t CountUnansweredItems(Connection& db)
{
    return Single(
        db.Cached("SELECT count(*) FROM misses m WHERE NOT EXISTS (SELECT 1 FROM questions q WHERE q.norm = m.norm)"));
}

std::optional<UnansweredItem> FindUnansweredItem(Connection& db, const std::string& key)
{
    Statement& select = db.Cached("SELECT norm, question, asked, last_at FROM misses WHERE norm = ?1");
    select.Bind(1, key);
    std::optional<UnansweredItem> item;
    if (select.Step())
        item = UnansweredItem{select.Text(0), select.Text(1), select.Int(2), select.Int(3)};
    select.Reset();
    return item;
}

bool DismissUnanswered(Connection& db, const std::string& key)
{
    Statement& remove = db.Cached("DELETE FROM misses WHERE norm = ?1");
    remove.Bind(1, key);
    return remove.Run();
}

int64_t ChangedRows(Connection& db)
{
    return db.Changes();
}

std::vector<BankRow> ListBank(Connection& db, int64_t limit, int64_t offset)
{
    std::vector<BankRow> rows;
    static const std::string sql = std::string(BankColumns) + "ORDER BY id DESC LIMIT ?1 OFFSET ?2";
    Statement& select = db.Cached(sql.c_str());
    select.Bind(1, limit).Bind(2, offset);
    while (select.Step())
        rows.push_back(ReadBankRow(select));
    select.Reset();
    return rows;
}

int64_t CountBank(Connection& db)
{
    return CountQuestions(db);
}

std::optional<BankRow> FindBankRow(Connection& db, int64_t id)
{
    static const std::string sql = std::string(BankColumns) + "WHERE id = ?1";
    Statement& select = db.Cached(sql.c_str());
    select.Bind(1, id);
    std::optional<BankRow> row;
    if (select.Step())
        row = ReadBankRow(select);
    select.Reset();
    return row;
}

BankSearch SearchBank(Connection& db, BankSource* bank, const std::string& text, int64_t limit)
{
    BankSearch search;
    std::u32string typed = NormalizeQuestionUtf8(text);
    // The same matching a lookup uses, on the same bank (the server's copy
    // where it keeps one): what the tool would be answered.
    BankMatch match = bank ? FindBestMatch(*bank, text) : FindBestMatch(db, text);
    if (match.found) {
        std::string norm = EncodeUtf8(NormalizeQuestionUtf8(match.entry.question));
        if (auto row = FindBankRow(db, IdOfNorm(db, norm))) {
            row->similarity = match.score;
            search.lookupAnswer = row;
        }
    }
    // Then the questions that hold the text as typed, or its normal form.
    static const std::string sql = std::string(BankColumns) + SearchCondition("LIKE") + "ORDER BY id DESC LIMIT ?3";
    static const std::string postgresSql =
        std::string(BankColumns) + SearchCondition("ILIKE") + "ORDER BY id DESC LIMIT ?3";
    Statement& select = db.Cached(db.IsPostgres() ? postgresSql.c_str() : sql.c_str());
    select.Bind(1, LikePattern(text)).Bind(2, LikePattern(EncodeUtf8(typed))).Bind(3, limit);
    while (select.Step())
        search.rows.push_back(ReadBankRow(select));
    select.Reset();
    for (BankRow& row : search.rows) {
        row.similarity = CompareQuestions(typed, NormalizeQuestionUtf8(row.entry.question)).score;
    }
    std::stable_sort(search.rows.begin(), search.rows.end(),
                     [](const BankRow& a, const BankRow& b) { return a.similarity > b.similarity; });
    return search;
}

BankChange AddBankEntry(Connection& db, const BankEntry& entry, int64_t now)
{
    return ChangeBank(db, [&](BankChange& result) {
        std::string norm = EncodeUtf8(NormalizeQuestionUtf8(entry.question));
        if ((result.conflictId = IdOfNorm(db, norm)) != 0)
            return false;
        if (UpsertQuestion(db, entry, now) != UpsertOutcome::Added)
            return false;
        result.id = IdOfNorm(db, norm);
        return true;
    });
}

BankChange EditBankEntry(Connection& db, int64_t id, const BankEntry& entry, int64_t now)
{
    return ChangeBank(db, [&](BankChange& result) {
        result.id = id;
        if (!FindBankRow(db, id)) {
            result.missing = true;
            return false;
        }
        std::u32string norm = NormalizeQuestionUtf8(entry.question);
        std::string normText = EncodeUtf8(norm);
        int64_t holder = IdOfNorm(db, normText);
        if (holder != 0 && holder != id) {
            result.conflictId = holder;
            return false;
        }
        Statement& update =
            db.Cached("UPDATE questions SET question = ?2, norm = ?3, norm_length = ?4, answer = ?5, kind = ?6, "
                      "options = ?7, updated_at = ?8 WHERE id = ?1");
        update.Bind(1, id).Bind(2, entry.question).Bind(3, normText).Bind(4, static_cast<int64_t>(norm.size()));
        update.Bind(5, entry.answer).Bind(6, entry.kind).Bind(7, entry.options).Bind(8, now);
        return update.Run();
    });
}

BankChange DeleteBankEntry(Connection& db, int64_t id)
{
    return ChangeBank(db, [&](BankChange& result) {
        result.id = id;
        if (!FindBankRow(db, id)) {
            result.missing = true;
            return false;
        }
        Statement& remove = db.Cached("DELETE FROM questions WHERE id = ?1");
        remove.Bind(1, id);
        return remove.Run();
    });
}

BankChange AnswerUnanswered(Connection& db, const std::string& key, const BankEntry& entry, int64_t now)
{
    return ChangeBank(db, [&](BankChange& result) {
        if (!FindUnansweredItem(db, key)) {
            result.missing = true;
            return false;
        }
        if (UpsertQuestion(db, entry, now) == UpsertOutcome::Failed)
            return false;
        std::string norm = EncodeUtf8(NormalizeQuestionUtf8(entry.question));
        result.id = IdOfNorm(db, norm);
        return DismissUnanswered(db, key) && DismissUnanswered(db, norm);
    });
}

void ForEachBankEntry(Connection& db, const std::function<void(const BankEntry&)>& take)
{
    ReadSnapshot snapshot(db);
    static const std::string sql = std::string(BankColumns) + "ORDER BY id";
    Statement& select = db.Cached(sql.c_str());
    while (select.Step())
        take(ReadBankRow(select).entry);
    select.Reset();
}

std::vector<LookupRow> ListLookups(Connection& db, const std::string& text, const std::string& client, int64_t limit,
                                   int64_t offset)
{
    std::vector<LookupRow> rows;
    static const std::string sql = LookupsQuery("LIKE");
    static const std::string postgresSql = LookupsQuery("ILIKE");
    Statement& select = db.Cached(db.IsPostgres() ? postgresSql.c_str() : sql.c_str());
    select.Bind(1, text).Bind(2, LikePattern(text)).Bind(3, client).Bind(4, limit).Bind(5, offset);
    while (select.Step()) {
        rows.push_back({select.Int(0), select.Int(1), select.Text(2), select.Text(3), select.Text(4)});
    }
    select.Reset();
    return rows;
}

} // namespace kelvora
