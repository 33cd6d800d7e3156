#include "Migrate.h"

#include "IndexState.h"
#include "QuestionBank.h"
#include "QuestionText.h"
#include "Utf8Text.h"

namespace kelvora {

namespace {

constexpr int64_t RowsPerTransaction = 2000;

bool Fail(MigrationSummary& summary, const std::string& what, Connection& db)
{
    summary.error = what + ": " + db.Error();
    return false;
}

bool CopyQuestions(Connection& from, Connection& to, MigrationSummary& summary)
{
    if (!UpdateNormalForms(to))
        return Fail(summary, "cannot update the target's questions", to);
    Statement& rows = from.Cached(
        "SELECT question, answer, kind, options, updated_at FROM questions WHERE id > ?1 ORDER BY id LIMIT ?2");
    Statement& ids = from.Cached("SELECT max(id) FROM (SELECT id FROM questions WHERE id > ?1 ORDER BY id LIMIT ?2)");
    int64_t after = 0;
    for (;;) {
        ids.Bind(1, after).Bind(2, RowsPerTransaction);
        int64_t last = ids.Step() ? ids.Int(0) : 0;
        ids.Reset();
        if (last == 0)
            return true;
        Transaction transaction(to);
        if (!transaction.Begun())
            return Fail(summary, "cannot write the target", to);
        bool changed = false;
        rows.Bind(1, after).Bind(2, RowsPerTransaction);
        while (rows.Step()) {
            // Stored again under the current normal form, as an import would.
            BankEntry entry{rows.Text(0), rows.Text(1), rows.Text(2), rows.Text(3)};
            UpsertOutcome outcome = UpsertQuestion(to, entry, rows.Int(4));
            if (outcome == UpsertOutcome::Failed) {
                rows.Reset();
                return Fail(summary, "cannot store a question", to);
            }
            summary.Count(outcome);
            changed |= outcome != UpsertOutcome::Unchanged;
        }
        bool read = rows.Done();
        rows.Reset();
        if (!read)
            return Fail(summary, "cannot read the questions", from);
        if (changed && !MarkTrigramCountsStale(to))
            return Fail(summary, "cannot mark the bank changed", to);
        if (!transaction.Commit())
            return Fail(summary, "cannot commit the questions", to);
        after = last;
    }
}

bool CopyReports(Connection& from, const std::string& fromName, Connection& to, MigrationSummary& summary)
{
    const std::string mark = "migrated reports from " + fromName;
    Statement& copied = to.Cached("SELECT value FROM bank_state WHERE name = ?1");
    copied.Bind(1, mark);
    int64_t after = copied.Step() ? copied.Int(0) : 0;
    copied.Reset();
    Statement& rows =
        from.Cached("SELECT id, asked_at, client, question, answer FROM reports WHERE id > ?1 ORDER BY id LIMIT ?2");
    Statement& insert = to.Cached("INSERT INTO reports(asked_at, client, question, answer) VALUES (?1, ?2, ?3, ?4)");
    Statement& remember = to.Cached(
        "INSERT INTO bank_state(name, value) VALUES (?1, ?2) ON CONFLICT(name) DO UPDATE SET value = excluded.value");
    for (;;) {
        Transaction transaction(to);
        if (!transaction.Begun())
            return Fail(summary, "cannot write the target", to);
        int64_t last = after, count = 0;
        rows.Bind(1, after).Bind(2, RowsPerTransaction);
        while (rows.Step()) {
            last = rows.Int(0);
            ++count;
            insert.Bind(1, rows.Int(1)).Bind(2, rows.Text(2)).Bind(3, rows.Text(3)).Bind(4, rows.Text(4));
            if (!insert.Run()) {
                rows.Reset();
                return Fail(summary, "cannot store a report", to);
            }
        }
        bool read = rows.Done();
        rows.Reset();
        if (!read)
            return Fail(summary, "cannot read the reports", from);
        if (count == 0)
            return true;
        // The mark commits with the rows: a stopped run resumes where it stopped.
        if (!remember.Bind(1, mark).Bind(2, last).Run() || !transaction.Commit()) {
            return Fail(summary, "cannot commit the reports", to);
        }
        summary.reports += count;
        after = last;
    }
}

bool CopyUnanswered(Connection& from, Connection& to, MigrationSummary& summary)
{
    Statement& rows = from.Cached("SELECT question, asked, first_at, last_at FROM misses ORDER BY norm");
    // Merged: the larger count, the earlier first and the later last time,
    // the wording of the later; so copying twice changes nothing.
    Statement& merge = to.Cached(
        "INSERT INTO misses(norm, question, asked, first_at, last_at) VALUES (?1, ?2, ?3, ?4, ?5) "
        "ON CONFLICT(norm) DO UPDATE SET "
        "question = CASE WHEN excluded.last_at > misses.last_at THEN excluded.question ELSE misses.question END, "
        "asked = greatest(misses.asked, excluded.asked), first_at = least(misses.first_at, excluded.first_at), "
        "last_at = greatest(misses.last_at, excluded.last_at)");
    Transaction transaction(to);
    if (!transaction.Begun())
        return Fail(summary, "cannot write the target", to);
    while (rows.Step()) {
        std::string question = rows.Text(0);
        std::u32string norm = NormalizeQuestionUtf8(question);
        if (norm.empty())
            continue;
        merge.Bind(1, EncodeUtf8(norm))
            .Bind(2, question)
            .Bind(3, rows.Int(1))
            .Bind(4, rows.Int(2))
            .Bind(5, rows.Int(3));
        if (!merge.Run()) {
            rows.Reset();
            return Fail(summary, "cannot store an unanswered question", to);
        }
        ++summary.unanswered;
    }
    bool read = rows.Done();
    rows.Reset();
    if (!read)
        return Fail(summary, "cannot read the unanswered questions", from);
    return transaction.Commit() || Fail(summary, "cannot commit the unanswered questions", to);
}

} // namespace

MigrationSummary MigrateDatabase(Connection& from, const std::string& fromName, Connection& to)
{
    MigrationSummary summary;
    summary.ok = CopyQuestions(from, to, summary) && CopyReports(from, fromName, to, summary) &&
                 CopyUnanswered(from, to, summary);
    return summary;
}

} // namespace kelvora
