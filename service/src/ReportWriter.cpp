#include "ReportWriter.h"

#include <algorithm>
#include <string>

#include "ConnectionPool.h"
#include "DatabaseHealth.h"
#include "FailureLog.h"
#include "Records.h"

namespace kelvora {

namespace {

constexpr const char* NotRecorded = "report not recorded";
constexpr size_t ClientBytes = 100;
// Each report deletes a few of the oldest beyond the limit, so the table
// stays at it without a large delete ever.
constexpr int64_t TrimPerReport = 4;

} // namespace

ReportOutcome ReportWriter::Record(std::string_view question, std::string_view answer, std::string_view client,
                                   int64_t now)
{
    std::string problem = health_.WriteProblem();
    if (!problem.empty()) {
        LogFailure(NotRecorded, problem);
        return ReportOutcome::Failed;
    }
    std::string storedQuestion(question), storedAnswer(answer);
    FitReport(storedQuestion, storedAnswer, static_cast<size_t>(limits_.reportBytes));
    const auto deadline = std::chrono::steady_clock::now() + LockWait;
    for (int attempt = 1;; ++attempt) {
        ConnectionPool::Lease db = pool_.Acquire();
        if (!db) {
            LogFailure(NotRecorded, "cannot open the database");
            return ReportOutcome::Failed;
        }
        auto turn = pool_.TryLockForWriting(LockWait);
        if (!turn) {
            LogFailure(NotRecorded, "the database is busy with another writer");
            return ReportOutcome::Busy;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        BusyWait wait(*db, static_cast<int>(std::max(left, std::chrono::milliseconds(50)).count()));

        // The insert and the trim commit together; the statements are kept
        // prepared, since every report runs them.
        Statement& begin = db->Cached("BEGIN IMMEDIATE");
        if (!begin.Run() && db->Broken() && attempt == 1) {
            // A pooled connection the database server closed while it was
            // idle (a restart of PostgreSQL): nothing was written, so the
            // report is tried once more on a new connection.
            continue;
        }
        int64_t id = 0;
        bool written = db->InTransaction() &&
                       RecordReport(*db, storedQuestion, storedAnswer, CutUtf8(client, ClientBytes), now, &id) &&
                       TrimReports(*db, limits_.mostReports, id, TrimPerReport) && db->Cached("COMMIT").Run();
        if (!written) {
            bool busy = db->LastFailureWasBusy();
            LogFailure(NotRecorded, db->Error());
            if (db->InTransaction())
                db->Exec("ROLLBACK");
            return busy ? ReportOutcome::Busy : ReportOutcome::Failed;
        }
        break;
    }
    // A file deleted or replaced under the server takes the commit with it.
    problem = health_.IdentityProblem();
    if (!problem.empty()) {
        LogFailure(NotRecorded, problem);
        return ReportOutcome::Lost;
    }
    return ReportOutcome::Recorded;
}

} // namespace kelvora
