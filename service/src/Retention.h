#pragma once
// How much of its use the service keeps: each report's size, how many
// reports and for how long, how many unanswered questions and for how long.
// Rows beyond the limits are deleted oldest first, a bounded batch at a time,
// so no single delete holds the write lock for long.
#include <cstdint>
#include <string>
#include <string_view>

#include "Database.h"

namespace kelvora {

struct RecordLimits {
    int64_t reportBytes = 2048;                    // question and answer of one report together; longer ones are cut
    int64_t mostReports = 1000000;                 // newest kept
    int64_t reportDays = 90;                       // 0: no age limit
    int64_t mostUnanswered = 100000;               // distinct unanswered questions; the least asked go first
    int64_t unansweredDays = 180;                  // since last asked; 0: no age limit
    int64_t diskReserveBytes = 64LL * 1024 * 1024; // below this much free space nothing more is recorded
};

// text cut to at most bytes, never inside a UTF-8 sequence.
std::string CutUtf8(std::string_view text, size_t bytes);

// A report's question and answer cut to fit limit bytes together; the
// shorter one keeps up to half, the longer one the rest.
void FitReport(std::string& question, std::string& answer, size_t limit);

// Deletes up to most reports older than the newest mostReports (by row id,
// newestId being the latest); false on a database error.
bool TrimReports(Connection& db, int64_t mostReports, int64_t newestId, int64_t most);

// Deletes unanswered questions beyond mostUnanswered, the least asked (then
// the least recent) first, up to most of them. The rows deleted, or -1 on a
// database error.
int64_t TrimUnanswered(Connection& db, int64_t mostUnanswered, int64_t most);

// One batch of deletes by age: reports asked before reportCutoff and
// unanswered questions last asked before unansweredCutoff (a cutoff of 0
// deletes nothing). The number of rows deleted, or -1 on a database error;
// fewer than batch means nothing older is left.
int64_t PruneOldReports(Connection& db, int64_t reportCutoff, int64_t batch);
int64_t PruneOldUnanswered(Connection& db, int64_t unansweredCutoff, int64_t batch);

// One batch of deletes by number, for a table over its limit (one kept
// from before the limit was lowered): the oldest reports beyond the newest
// mostReports, the least asked unanswered questions beyond mostUnanswered.
// The rows deleted, or -1 on a database error.
int64_t PruneExcessReports(Connection& db, int64_t mostReports, int64_t batch);
int64_t PruneExcessUnanswered(Connection& db, int64_t mostUnanswered, int64_t batch);

} // namespace kelvora
