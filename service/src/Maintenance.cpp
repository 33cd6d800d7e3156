#include "Maintenance.h"

#include <ctime>

#include "ConnectionPool.h"
#include "DatabaseHealth.h"
#include "FailureLog.h"
#include "IndexState.h"

namespace kelvora {

namespace {

constexpr std::chrono::seconds Period{60};
constexpr std::chrono::milliseconds LockWait{2000};
constexpr std::chrono::milliseconds PauseBetweenBatches{5};
// A pass deletes this many batches at most; a backlog is worked off over several passes.
constexpr int MostBatchesPerPass = 200;
constexpr int64_t SecondsPerDay = 86400;

} // namespace

Maintenance::~Maintenance()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void Maintenance::Start()
{
    if (!thread_.joinable())
        thread_ = std::thread([this] { Loop(); });
}

void Maintenance::Loop()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        lock.unlock();
        RunPass(static_cast<int64_t>(std::time(nullptr)));
        lock.lock();
        wake_.wait_for(lock, Period, [this] { return stopping_; });
    }
}

// limit is the cutoff time or the most rows kept, as prune takes it.
int64_t Maintenance::PruneBatches(int64_t (*prune)(Connection&, int64_t, int64_t), int64_t limit)
{
    int64_t total = 0;
    for (int batch = 0; batch < MostBatchesPerPass; ++batch) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_)
                break;
        }
        ConnectionPool::Lease db = pool_.Acquire();
        if (!db)
            break;
        int64_t deleted = -1;
        {
            auto turn = pool_.TryLockForWriting(LockWait);
            if (!turn)
                break;
            BusyWait wait(*db, static_cast<int>(LockWait.count()));
            Transaction transaction(*db);
            if (transaction.Begun()) {
                deleted = prune(*db, limit, Batch);
                if (deleted >= 0 && !transaction.Commit())
                    deleted = -1;
            }
            if (deleted < 0)
                LogFailure("old records not deleted", db->Error());
        }
        if (deleted < 0)
            break;
        total += deleted;
        if (deleted < Batch)
            break;
        std::this_thread::sleep_for(PauseBetweenBatches);
    }
    return total;
}

void Maintenance::RunPass(int64_t now)
{
    if (!health_.WriteProblem().empty())
        return; // nothing to gain; the failing writes say why
    PruneBatches(PruneOldReports, limits_.reportDays > 0 ? now - limits_.reportDays * SecondsPerDay : 0);
    PruneBatches(PruneOldUnanswered, limits_.unansweredDays > 0 ? now - limits_.unansweredDays * SecondsPerDay : 0);
    PruneBatches(PruneExcessReports, limits_.mostReports);
    PruneBatches(PruneExcessUnanswered, limits_.mostUnanswered);

    ConnectionPool::Lease db = pool_.Acquire();
    if (db && TrigramCountsAbandoned(*db, now)) {
        auto turn = pool_.TryLockForWriting(LockWait);
        if (turn && !RebuildTrigramCounts(*db))
            LogFailure("fuzzy index not rebuilt", db->Error());
    }
}

} // namespace kelvora
