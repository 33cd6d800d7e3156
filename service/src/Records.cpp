#include "Records.h"

#include <ctime>

#include "QuestionBank.h"
#include "QuestionText.h"
#include "Utf8Text.h"

namespace kelvora {

namespace {

int64_t SingleNumber(Connection& db, const char* sql, int64_t parameter = 0)
{
    Statement& statement = db.Cached(sql);
    statement.Bind(1, parameter); // harmless for a statement without a parameter
    int64_t value = statement.Step() ? statement.Int(0) : 0;
    statement.Reset();
    return value;
}

} // namespace

bool RecordReport(Connection& db, std::string_view question, std::string_view answer, std::string_view client,
                  int64_t now, int64_t* id)
{
    Statement& insert =
        db.Cached("INSERT INTO reports(asked_at, client, question, answer) VALUES (?1, ?2, ?3, ?4) RETURNING id");
    insert.Bind(1, now).Bind(2, client).Bind(3, question).Bind(4, answer);
    if (!insert.Step()) {
        insert.Reset();
        return false;
    }
    if (id)
        *id = insert.Int(0);
    return insert.Run();
}

bool RecordMiss(Connection& db, std::string_view question, int64_t now)
{
    std::u32string norm = NormalizeQuestionUtf8(question);
    if (norm.empty())
        return false;
    // Wordings that normalise alike are one question; the count says how
    // many students needed it.
    Statement& upsert =
        db.Cached("INSERT INTO misses(norm, question, asked, first_at, last_at) VALUES (?1, ?2, 1, ?3, ?3) "
                  "ON CONFLICT(norm) DO UPDATE SET question = excluded.question, asked = misses.asked + 1, "
                  "last_at = excluded.last_at");
    upsert.Bind(1, EncodeUtf8(norm)).Bind(2, question).Bind(3, now);
    return upsert.Run();
}

std::vector<UnansweredQuestion> ListUnanswered(Connection& db, int64_t limit)
{
    std::vector<UnansweredQuestion> list;
    // A question added to the bank since it was missed is no longer unanswered.
    Statement& select = db.Cached("SELECT m.question, m.asked, m.last_at FROM misses m "
                                  "WHERE NOT EXISTS (SELECT 1 FROM questions q WHERE q.norm = m.norm) "
                                  "ORDER BY m.asked DESC, m.last_at DESC LIMIT ?1");
    select.Bind(1, limit);
    while (select.Step())
        list.push_back({select.Text(0), select.Int(1), select.Int(2)});
    select.Reset();
    return list;
}

ServiceStats ReadStats(Connection& db, int64_t now)
{
    ServiceStats stats;
    stats.questions = CountQuestions(db);
    stats.reports = SingleNumber(db, "SELECT count(*) FROM reports");
    stats.reportsLastDay = SingleNumber(db, "SELECT count(*) FROM reports WHERE asked_at > ?1", now - 86400);
    stats.unansweredQuestions = SingleNumber(
        db, "SELECT count(*) FROM misses m WHERE NOT EXISTS (SELECT 1 FROM questions q WHERE q.norm = m.norm)");
    stats.unansweredLookups = SingleNumber(db, "SELECT coalesce(sum(asked), 0) FROM misses m "
                                               "WHERE NOT EXISTS (SELECT 1 FROM questions q WHERE q.norm = m.norm)");
    return stats;
}

std::string TimeText(int64_t seconds, const char* format, bool local)
{
    std::time_t time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    local ? localtime_r(&time, &parts) : gmtime_r(&time, &parts);
    char text[64];
    return std::string(text, std::strftime(text, sizeof text, format, &parts));
}

} // namespace kelvora
