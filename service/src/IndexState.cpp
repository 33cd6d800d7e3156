#include "IndexState.h"

#include <cerrno>
#include <csignal>
#include <unistd.h>

#include "QuestionBank.h"

namespace kelvora {

bool MarkTrigramCountsStale(Connection& db) {
    Statement& mark = db.Cached(
        "INSERT INTO bank_state(name, value) VALUES ('trigram_counts_stale', ?1) "
        "ON CONFLICT(name) DO UPDATE SET value = excluded.value");
    mark.Bind(1, static_cast<int64_t>(getpid()));
    return mark.Run();
}

int64_t TrigramCountsStaleOwner(Connection& db) {
    Statement& read = db.Cached("SELECT value FROM bank_state WHERE name = 'trigram_counts_stale'");
    int64_t owner = read.Step() ? read.Int(0) : 0;
    read.Reset();
    return owner;
}

bool TrigramCountsAbandoned(Connection& db) {
    int64_t owner = TrigramCountsStaleOwner(db);
    if (owner == 0) return false;
    if (owner == static_cast<int64_t>(getpid())) return false;
    // A pid that no longer exists has stopped for good; one reused by an
    // unrelated process only delays the rebuild until that one ends.
    return owner < 0 || owner > 0x3fffffff || (kill(static_cast<pid_t>(owner), 0) != 0 && errno == ESRCH);
}

bool RebuildTrigramCounts(Connection& db) {
    Transaction transaction(db);
    return transaction.Begun() && RefreshTrigramCounts(db) &&
           db.Exec("DELETE FROM bank_state WHERE name = 'trigram_counts_stale'") && transaction.Commit();
}

}  // namespace kelvora
