#include "Retention.h"

#include <algorithm>

namespace kelvora {

std::string CutUtf8(std::string_view text, size_t bytes)
{
    if (text.size() <= bytes)
        return std::string(text);
    size_t end = bytes;
    // Back up over continuation bytes to the start of the sequence that does not fit.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return std::string(text.substr(0, end));
}

void FitReport(std::string& question, std::string& answer, size_t limit)
{
    if (question.size() + answer.size() <= limit)
        return;
    size_t half = limit / 2;
    if (question.size() <= answer.size()) {
        question = CutUtf8(question, half);
        answer = CutUtf8(answer, limit - question.size());
    } else {
        answer = CutUtf8(answer, half);
        question = CutUtf8(question, limit - answer.size());
    }
}

bool TrimReports(Connection& db, int64_t mostReports, int64_t newestId, int64_t most)
{
    // Row ids only grow, so the newest mostReports rows are at most those
    // above newestId - mostReports: an exact bound without counting the table.
    Statement& trim =
        db.Cached("DELETE FROM reports WHERE id IN (SELECT id FROM reports WHERE id <= ?1 ORDER BY id LIMIT ?2)");
    trim.Bind(1, newestId - mostReports).Bind(2, most);
    return trim.Run();
}

int64_t TrimUnanswered(Connection& db, int64_t mostUnanswered, int64_t most)
{
    Statement& count = db.Cached("SELECT count(*) FROM misses");
    bool counted = count.Step();
    int64_t rows = counted ? count.Int(0) : 0;
    count.Reset();
    if (!counted)
        return -1;
    int64_t excess = std::min(rows - mostUnanswered, most);
    if (excess <= 0)
        return 0;
    Statement& trim =
        db.Cached("DELETE FROM misses WHERE norm IN (SELECT norm FROM misses ORDER BY asked, last_at LIMIT ?1)");
    trim.Bind(1, excess);
    return trim.Run() ? db.Changes() : -1;
}

namespace {

// One batch of rows older than cutoff (0: no age limit) deleted by the statement
// given (?1 the cutoff, ?2 the batch); the rows deleted, or -1.
int64_t PruneBatch(Connection& db, const char* sql, int64_t cutoff, int64_t batch)
{
    if (cutoff <= 0)
        return 0;
    Statement& prune = db.Cached(sql);
    prune.Bind(1, cutoff).Bind(2, batch);
    return prune.Run() ? db.Changes() : -1;
}

} // namespace

int64_t PruneOldReports(Connection& db, int64_t reportCutoff, int64_t batch)
{
    // Reports come in time order, so the oldest rows by id are looked at
    // only: a batch never scans the table.
    return PruneBatch(db,
                      "DELETE FROM reports WHERE id IN (SELECT id FROM reports ORDER BY id LIMIT ?2) AND asked_at < ?1",
                      reportCutoff, batch);
}

int64_t PruneOldUnanswered(Connection& db, int64_t unansweredCutoff, int64_t batch)
{
    return PruneBatch(db, "DELETE FROM misses WHERE norm IN (SELECT norm FROM misses WHERE last_at < ?1 LIMIT ?2)",
                      unansweredCutoff, batch);
}

int64_t PruneExcessReports(Connection& db, int64_t mostReports, int64_t batch)
{
    Statement& newest = db.Cached("SELECT max(id) FROM reports");
    int64_t newestId = newest.Step() ? newest.Int(0) : 0;
    newest.Reset();
    if (!TrimReports(db, mostReports, newestId, batch))
        return -1;
    return db.Changes();
}

int64_t PruneExcessUnanswered(Connection& db, int64_t mostUnanswered, int64_t batch)
{
    return TrimUnanswered(db, mostUnanswered, batch);
}

} // namespace kelvora
