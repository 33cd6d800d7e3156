#include "IndexState.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <unistd.h>

#include "QuestionBank.h"

namespace kelvora {

namespace {

constexpr int64_t AbandonedAfterSeconds = 3600;

} // namespace

bool MarkTrigramCountsStale(Connection& db)
{
    // PostgreSQL keeps no trigram counts: each server instance holds a copy
    // of the bank, and a new version number, committed with the change,
    // tells them to read it again.
    if (db.IsPostgres())
        return BumpBankVersion(db);
    Statement& mark = db.Cached(
        "INSERT INTO bank_state(name, value) VALUES ('trigram_counts_stale', ?1), ('trigram_counts_stale_at', ?2) "
        "ON CONFLICT(name) DO UPDATE SET value = excluded.value");
    mark.Bind(1, static_cast<int64_t>(getpid())).Bind(2, static_cast<int64_t>(std::time(nullptr)));
    return mark.Run();
}

int64_t TrigramCountsStaleOwner(Connection& db)
{
    if (db.IsPostgres())
        return 0;
    Statement& read = db.Cached("SELECT value FROM bank_state WHERE name = 'trigram_counts_stale'");
    int64_t owner = read.Step() ? read.Int(0) : 0;
    read.Reset();
    return owner;
}

bool TrigramCountsAbandoned(Connection& db, int64_t now)
{
    int64_t owner = TrigramCountsStaleOwner(db);
    if (owner == 0)
        return false;
    if (owner == static_cast<int64_t>(getpid()))
        return false;
    if (owner < 0 || owner > 0x3fffffff || (kill(static_cast<pid_t>(owner), 0) != 0 && errno == ESRCH))
        return true;
    // The pid may since belong to another process (after a reboot, say): an
    // import renews its mark with every transaction, so an old one is abandoned.
    Statement& at = db.Cached("SELECT value FROM bank_state WHERE name = 'trigram_counts_stale_at'");
    int64_t markedAt = at.Step() ? at.Int(0) : 0;
    at.Reset();
    return now - markedAt > AbandonedAfterSeconds;
}

bool BumpBankVersion(Connection& db)
{
    return db.Exec("UPDATE bank_state SET value = value + 1 WHERE name = 'bank_version'");
}

int64_t BankVersion(Connection& db)
{
    Statement& read = db.Cached("SELECT value FROM bank_state WHERE name = 'bank_version'");
    int64_t version = read.Step() ? read.Int(0) : -1;
    read.Reset();
    return version;
}

bool RebuildTrigramCounts(Connection& db)
{
    if (db.IsPostgres())
        return BumpBankVersion(db);
    Transaction transaction(db);
    return transaction.Begun() && RefreshTrigramCounts(db) &&
           db.Exec("DELETE FROM bank_state WHERE name IN ('trigram_counts_stale', 'trigram_counts_stale_at')") &&
           transaction.Commit();
}

} // namespace kelvora
