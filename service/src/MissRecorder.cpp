#include "MissRecorder.h"

#include <algorithm>
#include <chrono>

#include "ConnectionPool.h"
#include "Database.h"
#include "DatabaseHealth.h"
#include "FailureLog.h"
#include "QuestionText.h"
#include "Records.h"
#include "Utf8Text.h"

namespace kelvora {

namespace {

// A queue this long is written at once; a shorter one after a short pause,
// so that a burst of misses becomes one transaction.
constexpr size_t BatchSize = 256;
constexpr std::chrono::milliseconds BatchPause{100};
// Beyond this the oldest waiting misses are dropped rather than memory grown.
constexpr size_t MostQueued = 100000;
constexpr std::chrono::milliseconds LockWait{2000};
constexpr const char* NotRecorded = "unanswered questions not recorded";

} // namespace

MissRecorder::MissRecorder(ConnectionPool& pool, RecordLimits limits, const DatabaseHealth* health)
    : pool_(pool), limits_(limits), health_(health), thread_([this] { Run(); })
{
}

MissRecorder::~MissRecorder()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void MissRecorder::Add(std::string question, int64_t at)
{
    bool full = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queue_.size() >= MostQueued) {
            queue_.erase(queue_.begin());
            ++done_;
        }
        // A question longer than any report keeps is cut the same way each
        // time, so its repeats still count together.
        if (question.size() > static_cast<size_t>(limits_.reportBytes)) {
            question = CutUtf8(question, static_cast<size_t>(limits_.reportBytes));
        }
        queue_.push_back({std::move(question), at});
        ++added_;
        full = queue_.size() >= BatchSize;
    }
    if (full)
        wake_.notify_one();
}

void MissRecorder::Flush()
{
    std::unique_lock<std::mutex> lock(mutex_);
    uint64_t target = added_;
    wake_.notify_one();
    written_.wait(lock, [&] { return done_ >= target || stopping_; });
}

void MissRecorder::Run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait_for(lock, BatchPause, [&] { return stopping_ || queue_.size() >= BatchSize; });
        if (queue_.empty()) {
            written_.notify_all();
            if (stopping_)
                return;
            continue;
        }
        std::vector<Miss> batch;
        batch.swap(queue_);
        lock.unlock();
        Write(batch);
        lock.lock();
        done_ += batch.size();
        written_.notify_all();
    }
}

// A batch that cannot be written is dropped with a line on standard error:
// these are counts for the operator, and waiting for them would only grow the queue.
void MissRecorder::Write(const std::vector<Miss>& batch)
{
    if (health_) {
        std::string problem = health_->WriteProblem();
        if (!problem.empty())
            return LogFailure(NotRecorded, problem);
    }
    ConnectionPool::Lease db = pool_.Acquire();
    if (!db)
        return LogFailure(NotRecorded, "cannot open the database");
    auto turn = pool_.TryLockForWriting(LockWait);
    if (!turn)
        return LogFailure(NotRecorded, "the database is busy with another writer");
    BusyWait wait(*db, static_cast<int>(LockWait.count()));
    // Servers sharing one PostgreSQL database write their batches at once:
    // rows are taken in one order (by normal form), so two batches wait for
    // each other rather than deadlock; a batch that still loses to another
    // writer is tried again.
    std::vector<std::pair<std::string, const Miss*>> ordered;
    ordered.reserve(batch.size());
    for (const Miss& miss : batch)
        ordered.emplace_back(EncodeUtf8(NormalizeQuestionUtf8(miss.question)), &miss);
    std::stable_sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    constexpr int Tries = 3;
    std::string error; // read before the transaction's rollback replaces it
    for (int attempt = 1; attempt <= Tries; ++attempt) {
        Transaction transaction(*db);
        // Without the transaction every statement would wait for the lock on its own.
        if (!transaction.Begun())
            return LogFailure(NotRecorded, db->Error());
        bool written = true;
        for (const auto& [norm, miss] : ordered) {
            if (!norm.empty() && !RecordMiss(*db, miss->question, miss->at)) {
                written = false;
                break;
            }
        }
        written = written &&
                  TrimUnanswered(*db, limits_.mostUnanswered, static_cast<int64_t>(batch.size()) + 64) >= 0 &&
                  transaction.Commit();
        if (written)
            return;
        error = db->Error();
        if (!db->IsPostgres() || !db->LastFailureWasBusy() || attempt == Tries)
            break;
    }
    LogFailure(NotRecorded, error);
}

} // namespace kelvora
